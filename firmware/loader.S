; Zarvik resident loader for ATmega8, ATmega88, ATmega168 and ATmega328P.
;
; It sits in the 1 KB boot section (BOOTRST points the reset vector here), waits a
; configurable time for the host, serves the host's four-byte commands and otherwise
; starts the user program at 0x0000.
;
; The first 128-byte block is laid out by hand: the host rewrites the wait count in
; the immediates of the ldi instructions at offsets 48, 50, 54 (and the reload copy at
; 82, 84, 88), low byte first. Everything that programs flash lives beyond that
; block, so rewriting the block never rewrites the code doing the rewriting.
;
; Build parameters: F_CPU (Hz), BAUD, WAIT_MS (the wait programmed at build time).

#if defined(__AVR_ATmega8__)
  ; The UART sits in the I/O space and UBRRH shares its address with UCSRC.
  #define UART_IO 1
  #define UCSRA_ 0x0B
  #define UCSRB_ 0x0A
  #define UBRRL_ 0x09
  #define UBRRH_ 0x20
  #define UDR_ 0x0C
  #define EECR_ 0x1C
  #define EEDR_ 0x1D
  #define EEARL_ 0x1E
  #define EEARH_ 0x1F
  #define WDT_IO 1
  #define WDTCR_ 0x21
  #define RAMEND_ 0x45F
  #define BUFFER 0x60
  #define LOADER_START 0x1C00
  #define PAGE_BYTES 64
#elif defined(__AVR_ATmega88__) || defined(__AVR_ATmega168__) || defined(__AVR_ATmega328P__)
  #define UART_IO 0
  #define UCSRA_ 0xC0
  #define UCSRB_ 0xC1
  #define UBRRL_ 0xC4
  #define UBRRH_ 0xC5
  #define UDR_ 0xC6
  #define EECR_ 0x1F
  #define EEDR_ 0x20
  #define EEARL_ 0x21
  #define EEARH_ 0x22
  #define WDT_IO 0
  #define WDTCR_ 0x60
  #define BUFFER 0x100
  #if defined(__AVR_ATmega88__)
    #define RAMEND_ 0x4FF
    #define LOADER_START 0x1C00
    #define PAGE_BYTES 64
  #elif defined(__AVR_ATmega168__)
    #define RAMEND_ 0x4FF
    #define LOADER_START 0x3C00
    #define PAGE_BYTES 128
  #else
    #define RAMEND_ 0x8FF
    #define LOADER_START 0x7C00
    #define PAGE_BYTES 128
  #endif
#else
  #error "the loader is built for ATmega8, ATmega88, ATmega168 and ATmega328P only"
#endif

; The loader takes the top 1 KB of flash.
#define FLASH_BYTES (LOADER_START + 1024)

; Registers and bits common to the four chips.
#define SPL_ 0x3D
#define SPH_ 0x3E
#define MCUSR_ 0x34
#define SPMCSR_ 0x37
#define RXC 7
#define UDRE 5
#define U2X 1
#define RXEN 4
#define TXEN 3
#define EERE 0
#define EEPE 1
#define EEMPE 2
#define WDRF 3
#define WDE 3
#define WDCE 4
#define SPMEN 0
#define PGERS 1
#define PGWRT 2
#define RWWSRE 4

#ifndef F_CPU
#define F_CPU 16000000
#endif
#ifndef BAUD
#define BAUD 115200
#endif
#ifndef WAIT_MS
#define WAIT_MS 1000
#endif

; Double speed: at 16 MHz and 115200 baud it is 2.1 % off, against 3.5 % without.
#define UBRR_VALUE ((F_CPU + 4 * BAUD) / (8 * BAUD) - 1)
#define ACTUAL_BAUD (F_CPU / (8 * (UBRR_VALUE + 1)))
#if UBRR_VALUE > 4095 || UBRR_VALUE < 0
#error "this line speed cannot be set at this clock"
#endif
#if (ACTUAL_BAUD - BAUD) * 1000 / BAUD > 25 || (BAUD - ACTUAL_BAUD) * 1000 / BAUD > 25
#error "the line speed is more than 2.5 % off at this clock"
#endif

; The same formula the host uses: one count per 12 cycles, plus one.
#define WAIT_COUNT (F_CPU / 1000 * WAIT_MS / 12 + 1)
#if WAIT_COUNT > 16700000
#error "WAIT_MS is too long for the 24-bit wait count"
#endif

; The loader's own area from its second block on is never erased or programmed.
#define PROTECTED (LOADER_START + 128)
; About half a second of silence in the middle of a packet or block abandons it.
#define BYTE_TIMEOUT (F_CPU / 20)

.macro UIN reg, addr
#if UART_IO
  in \reg, \addr
#else
  lds \reg, \addr
#endif
.endm

.macro ON letter, handler
  cpi r21, \letter
  brne 1f
  rjmp \handler
1:
.endm

.macro UOUT addr, reg
#if UART_IO
  out \addr, \reg
#else
  sts \addr, \reg
#endif
.endm

  .section .text
  .global reset
; ---------------------------------------------------------------- first block
reset:
  rjmp init

  .org 48, 0
load_count:
  ldi r24, lo8(WAIT_COUNT)              ; offset 48
  ldi r25, hi8(WAIT_COUNT)              ; offset 50
  nop                                   ; offset 52
  ldi r26, hlo8(WAIT_COUNT)             ; offset 54
; Exactly 12 cycles a count; the count runs down through zero, so the loop runs
; count + 1 times and the whole wait is 12 * count plus a fixed overhead.
wait:
#if UART_IO
  in r16, UCSRA_                        ; 1 cycle, padded to the lds below
  nop
#else
  lds r16, UCSRA_                       ; 2 cycles
#endif
  sbrc r16, RXC                         ; 2 (skips)
  rjmp got_byte
  subi r24, 1                           ; 1
  sbci r25, 0                           ; 1
  sbci r26, 0                           ; 1
  nop                                   ; 3
  nop
  nop
  brcc wait                             ; 2
  rjmp leave                            ; nobody came: start the user program

; A byte that is no command (noise while a cable is plugged in) restarts the wait
; from the second copy of the count.
  .org 80, 0
reload:
  nop
  ldi r24, lo8(WAIT_COUNT)              ; offset 82
  ldi r25, hi8(WAIT_COUNT)              ; offset 84
  nop                                   ; offset 86
  ldi r26, hlo8(WAIT_COUNT)             ; offset 88
  rjmp wait

  .org 128, 0
; ---------------------------------------------------------------- the rest
init:
  cli
  clr r1
  ldi r16, lo8(RAMEND_)
  out SPL_, r16
  ldi r16, hi8(RAMEND_)
  out SPH_, r16
  ; A user program that reset through the watchdog leaves it running (and WDRF
  ; keeps it so); it would cut the wait and every long operation short.
  in r16, MCUSR_
  andi r16, ~(1 << WDRF)
  out MCUSR_, r16
  wdr
  ldi r16, (1 << WDCE) | (1 << WDE)
#if WDT_IO
  out WDTCR_, r16
  out WDTCR_, r1
#else
  sts WDTCR_, r16
  sts WDTCR_, r1
#endif
  ; 8N1 is the reset state of the frame format, so only the speed is set.
  ldi r16, hi8(UBRR_VALUE)
  UOUT UBRRH_, r16
  ldi r16, lo8(UBRR_VALUE)
  UOUT UBRRL_, r16
  ldi r16, (1 << U2X)
  UOUT UCSRA_, r16
  ldi r16, (1 << RXEN) | (1 << TXEN)
  UOUT UCSRB_, r16
  rjmp load_count

; The first byte from the host, taken during the wait.
got_byte:
  UIN r16, UDR_
  rcall is_command
  breq dispatch
  rjmp reload

; Leaves the UART as a reset leaves it and starts the user program.
leave:
  UOUT UCSRB_, r1
  UOUT UCSRA_, r1
  UOUT UBRRH_, r1
  UOUT UBRRL_, r1
  clr r30
  clr r31
  ijmp

; ---------------------------------------------------------------- commands
main:
  rcall getc
dispatch:
  rcall is_command
  brne main                             ; not a command: resynchronise on the next byte
  mov r21, r16
  rcall getc
  mov r18, r16                          ; a1
  rcall getc
  mov r19, r16                          ; a2
  rcall getc
  mov r20, r16                          ; a3
  ON 'U', cmd_sync
  ON 'A', cmd_address
  ON 'B', cmd_load
  ON 'b', cmd_fetch
  ON 'f', cmd_read_flash
  ON 'd', cmd_read_eeprom
  ON 'D', cmd_write_eeprom
  ON 'e', cmd_erase_eeprom
  ON 'F', cmd_write_flash
  ON 'E', cmd_erase_flash
  rjmp leave                            ; 'S', the only letter left

cmd_sync:
  cpi r18, 'U'
  brne main
  cpi r19, 'U'
  brne main
  cpi r20, 'U'
  brne main
  ldi r30, lo8(identification)
  ldi r31, hi8(identification)
  rjmp send_text

cmd_address:
  mov r7, r18
  mov r6, r19
  rjmp ack

cmd_load:
  rcall buffer_start
1:
  rcall getc
  st X+, r16
  dec r25
  brne 1b
  rjmp ack

cmd_fetch:
  rcall buffer_start
1:
  ld r16, X+
  rcall putc
  dec r25
  brne 1b
  rjmp main

cmd_read_flash:
  rcall count_a1
  movw r30, r6
1:
  ; Past the end of flash the address wraps, as the chip's own address bits do.
  andi r31, hi8(FLASH_BYTES - 1)
  lpm r16, Z+
  st X+, r16
  dec r25
  brne 1b
  rjmp ack

cmd_read_eeprom:
  rcall count_a1
  movw r30, r6
1:
  rcall ee_wait
  out EEARH_, r31
  out EEARL_, r30
  sbi EECR_, EERE
  in r16, EEDR_
  st X+, r16
  adiw r30, 1
  dec r25
  brne 1b
  rjmp ack

cmd_write_eeprom:
  rcall count_a1
  movw r30, r6
1:
  ld r16, X+
  rcall ee_write
  dec r25
  brne 1b
  rjmp ack

cmd_erase_eeprom:
  rcall count_a1
  movw r30, r6
1:
  ldi r16, 0xFF
  rcall ee_write
  dec r25
  brne 1b
  rjmp ack

cmd_write_flash:
  clt
  mov r16, r19                          ; pages
  cpi r16, 3
  brlo 1f
  ldi r16, 2
1:
  rcall flash_program
  rjmp ack

cmd_erase_flash:
  set
  ldi r16, 1
  rcall flash_program
  ; fall through

ack:
  ldi r30, lo8(acknowledgement)
  ldi r31, hi8(acknowledgement)
send_text:
  lpm r16, Z+
  tst r16
  brne 1f
  rjmp main
1:
  rcall putc
  rjmp send_text

; ---------------------------------------------------------------- helpers
; Z flag set when r16 is one of the command letters. Clobbers r17, Z.
is_command:
  ldi r30, lo8(commands)
  ldi r31, hi8(commands)
1:
  lpm r17, Z+
  tst r17
  breq 2f                               ; the list's end: a zero byte is no command
  cp r16, r17
  brne 1b
  ret
2:
  clz
  ret

; X at the buffer, r25 = 128. count_a1: the same with r25 = a1, 1 to 128.
count_a1:
  mov r25, r18
  dec r25
  andi r25, 0x7F
  inc r25
  rjmp 1f
buffer_start:
  ldi r25, 128
1:
  ldi r26, lo8(BUFFER)
  ldi r27, hi8(BUFFER)
  ret

; The next byte into r16. Clobbers r22-r24. Half a second without a byte abandons
; the command: the stack is reset and the loader waits for the next one.
getc:
  ldi r22, lo8(BYTE_TIMEOUT)
  ldi r23, hi8(BYTE_TIMEOUT)
  ldi r24, hlo8(BYTE_TIMEOUT)
1:
  UIN r16, UCSRA_
  sbrc r16, RXC
  rjmp 2f
  subi r22, 1
  sbci r23, 0
  sbci r24, 0
  brcc 1b
  ldi r16, lo8(RAMEND_)
  out SPL_, r16
  ldi r16, hi8(RAMEND_)
  out SPH_, r16
  rjmp main
2:
  UIN r16, UDR_
  ret

; Sends r16. Clobbers r17.
putc:
  UIN r17, UCSRA_
  sbrs r17, UDRE
  rjmp putc
  UOUT UDR_, r16
  ret

ee_wait:
  sbic EECR_, EEPE
  rjmp ee_wait
  ret

; Writes r16 to the EEPROM at Z and waits for it; Z advances. A byte that already
; holds the value is left alone. Clobbers r17.
ee_write:
  rcall ee_wait
  out EEARH_, r31
  out EEARL_, r30
  sbi EECR_, EERE
  in r17, EEDR_
  cp r17, r16
  breq 1f
  out EEDR_, r16
  sbi EECR_, EEMPE
  sbi EECR_, EEPE
  rcall ee_wait
1:
  adiw r30, 1
  ret

; Programs (T clear) or erases (T set) r16 64-byte pages from the current address,
; rounded down to 64. Where the chip's page is larger than the range, the rest of
; it is read into the page buffer first, so that no byte outside the range changes.
; Nothing at or above the loader's second block is touched, nor its first by an erase.
flash_program:
  tst r16
  breq 9f
  mov r8, r6
  ldi r17, 0xC0
  and r8, r17                           ; r9:r8 = start
  mov r9, r7
  movw r10, r8                          ; r11:r10 = end = start + 64 * pages
1:
  ldi r17, 64
  add r10, r17
  adc r11, r1
  dec r16
  brne 1b
  movw r30, r8
  andi r30, lo8(~(PAGE_BYTES - 1))
page_loop:
  cp r30, r10
  cpc r31, r11
  brsh 9f
  ldi r16, lo8(PROTECTED)
  ldi r17, hi8(PROTECTED)
  brtc 4f
  ; Nor is its first block ever erased on its own: a reset before it is programmed
  ; again would leave a chip with no loader. `F` rewrites it whole in one go.
  ldi r16, lo8(LOADER_START)
  ldi r17, hi8(LOADER_START)
4:
  cp r30, r16
  cpc r31, r17
  brlo 3f
9:
  ret
3:
  movw r12, r30                         ; the chip page
  ldi r25, PAGE_BYTES / 2
  ldi r23, 0xFF                         ; AND of every byte: is the page blank?
fill:
  cp r30, r8
  cpc r31, r9
  brlo keep
  cp r30, r10
  cpc r31, r11
  brsh keep
  brts blank
  movw r26, r30
  sub r26, r8
  sbc r27, r9
  subi r26, lo8(-(BUFFER))
  sbci r27, hi8(-(BUFFER))
  ld r0, X+
  ld r1, X
  rjmp have
blank:
  ldi r16, 0xFF
  mov r0, r16
  mov r1, r16
  rjmp have
keep:
  lpm r0, Z+
  lpm r1, Z
  sbiw r30, 1
have:
  and r23, r0
  and r23, r1
  ldi r16, (1 << SPMEN)
  rcall do_spm
  adiw r30, 2
  dec r25
  brne fill
  clr r1
  movw r30, r12
  ldi r16, (1 << PGERS) | (1 << SPMEN)
  rcall do_spm
  cpi r23, 0xFF
  breq 2f                               ; the erase already left it so
  ldi r16, (1 << PGWRT) | (1 << SPMEN)
  rcall do_spm
2:
  ldi r16, (1 << RWWSRE) | (1 << SPMEN) ; reads of the program area again, fresh page buffer
  rcall do_spm
  movw r30, r12
  subi r30, lo8(-(PAGE_BYTES))
  sbci r31, hi8(-(PAGE_BYTES))
  rjmp page_loop

; SPM with SPMCSR = r16, once the EEPROM and the last SPM are done. Clobbers r16.
do_spm:
  rcall ee_wait
  out SPMCSR_, r16
  spm
1:
  in r16, SPMCSR_
  sbrc r16, SPMEN
  rjmp 1b
  ret

commands:
  .asciz "UABFDfdbEeS"
identification:
  .asciz "Loader"
acknowledgement:
  .asciz "OK\r\n"
