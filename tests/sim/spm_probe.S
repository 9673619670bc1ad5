; Self-programming as a test sees it on the simulated ATmega328P: programs one word
; of the page at 0x0100 and erases the page that holds 0x0242, then stays put.
#define SPMCSR 0x37
  .section .text
  ldi r16, 0xA5
  mov r0, r16
  ldi r16, 0x5A
  mov r1, r16
  ldi r30, 0x00
  ldi r31, 0x01
  ldi r16, 0x01      ; fill the page buffer's first word
  out SPMCSR, r16
  spm
  ldi r16, 0x05      ; program the page
  out SPMCSR, r16
  spm
  ldi r16, 0x11      ; read the program area again
  out SPMCSR, r16
  spm
  ldi r30, 0x42
  ldi r31, 0x02
  ldi r16, 0x03      ; erase the page that holds Z
  out SPMCSR, r16
  spm
1:
  rjmp 1b
