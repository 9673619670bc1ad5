; Programs a new user might leave running on the simulated ATmega328P, built for
; address 0, where the loader starts them. The board must still end on SIGTERM and
; reset on SIGUSR1 whatever they do.
;   CHATTER       writes 0x5A to EEPROM byte 0, then sends bytes on the UART for
;                 ever, whether or not a host has set the line's speed
;   WILD_POINTER  stores and loads through a pointer far past the end of RAM, pushes
;                 with the stack pointer there too, then loops on itself
;   (none)        a loop on itself with interrupts off
#define UCSR0A 0xC0
#define UCSR0B 0xC1
#define UBRR0L 0xC4
#define UDR0 0xC6
#define EECR 0x1F
#define EEDR 0x20
#define EEARL 0x21
#define EEARH 0x22

  .section .text
  .global start
start:
  cli
#ifdef CHATTER
  clr r17
  out EEARH, r17
  out EEARL, r17
  ldi r16, 0x5A
  out EEDR, r16
  sbi EECR, 2
  sbi EECR, 1
  ldi r16, 8
  sts UBRR0L, r16
  ldi r16, 0x08
  sts UCSR0B, r16
1:
  lds r17, UCSR0A
  sbrs r17, 5
  rjmp 1b
  sts UDR0, r16
  inc r16
  rjmp 1b
#else
#ifdef WILD_POINTER
  ldi r30, 0xFE
  ldi r31, 0xFF
  st Z, r16
  ld r17, Z
  ldi r16, 0xFF
  out 0x3D, r16
  out 0x3E, r16
  push r16
  rcall 1f
#endif
1:
  rjmp 1b
#endif
