; Self-programming as a test sees it on the simulated ATmega328P. Programs one word of
; the page at 0x0100, tries to erase the page at 0x0180 while that write is under way,
; erases the page that holds 0x0242, then the page at 0x7000 in the section the CPU
; cannot read while it programs, and stays put. What it saw goes to SRAM at 0x0100:
;   [0] SPMCSR just after the write's SPM      [1] the byte at 0x0100, read then
;   [2..3] polls of SPMEN until the write ends [4] SPMCSR then
;   [5] SPMCSR after re-enabling the section   [6] the byte at 0x0100, read then
;   [7] SPMCSR just after the erase at 0x7000  [8] 0xD0, once it is through
; Built as it should be done, and with the faults a loader can have:
;   NO_WAIT      never waits for SPMEN to clear
;   NO_REENABLE  never sets RWWSRE
;   LATE_SPM     lets five cycles pass between SPMCSR and the write's SPM
#define SPMCSR 0x37

.macro DO_SPM value
  ldi r16, \value
  out SPMCSR, r16
  spm
.endm

; Counts in r25:r24 the polls until SPMEN clears.
.macro WAIT_SPM
  clr r24
  clr r25
#ifndef NO_WAIT
1:
  adiw r24, 1
  in r16, SPMCSR
  sbrc r16, 0
  rjmp 1b
#endif
.endm

.macro REENABLE
#ifndef NO_REENABLE
  DO_SPM 0x11
#endif
.endm

  .section .text
  ldi r28, 0x00
  ldi r29, 0x01
  ldi r16, 0xA5
  mov r0, r16
  ldi r16, 0x5A
  mov r1, r16
  ldi r30, 0x00
  ldi r31, 0x01
  DO_SPM 0x01                  ; the page buffer's first word
  ldi r16, 0x05                ; write the page
  out SPMCSR, r16
#ifdef LATE_SPM
  nop
  nop
  nop
  nop
  nop
#endif
  spm
  in r16, SPMCSR
  st Y+, r16
  lpm r16, Z
  st Y+, r16
  ldi r30, 0x80
  DO_SPM 0x03                  ; erase 0x0180 while the write is under way
  WAIT_SPM
  st Y+, r24
  st Y+, r25
  in r16, SPMCSR
  st Y+, r16
  REENABLE
  in r16, SPMCSR
  st Y+, r16
  ldi r30, 0x00
  lpm r16, Z
  st Y+, r16
  ldi r30, 0x42
  ldi r31, 0x02
  DO_SPM 0x03                  ; erase the page that holds Z
  WAIT_SPM
  REENABLE
  ldi r30, 0x00
  ldi r31, 0x70
  DO_SPM 0x03                  ; erase a page of the loader's section
  in r16, SPMCSR
  st Y+, r16
  ldi r16, 0xD0
  st Y+, r16
1:
  rjmp 1b
