; DRAFT, NOT BUILT: the loader speaking protocol version 2 (PROTOCOL.md), 1144 bytes on
; the ATmega8 and 1164 on the others, so it does not fit the 1 KB boot section yet.
; The build still assembles loader.S (version 1) until this one fits.
;
; Zarvik resident loader for ATmega8, ATmega88, ATmega168 and ATmega328P.
;
; It sits in the 1 KB boot section (BOOTRST points the reset vector here), waits a
; configurable time for the host, serves the host's four-byte commands and otherwise
; starts the user program at 0x0000.
;
; The first 128-byte block is laid out by hand: the host rewrites the wait count in
; the immediates of the ldi instructions at offsets 48, 50, 54 (and the reload copy at
; 82, 84, 88), low byte first, and finds our signature and protocol version at 2-7.
; Everything that programs flash lives beyond that block, so rewriting the block
; never rewrites the code doing the rewriting.
;
; Every byte from the line goes through a ring in RAM, filled by `poll`, which every
; loop that waits calls: for the UART, for the EEPROM and while the application
; section erases or programs (the CPU runs on from the boot section then). So the
; loader takes in the next frames while a page programs, and loses nothing while it
; answers. `poll` also hands the one byte waiting to go out to the UART, so answers
; leave while the next check is computed.
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
  #define LOADER_START 0x1C00
  #define PAGE_BYTES 64
  #define EEPROM_BYTES 512
  #define NRWW_START 0x1800
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
  #if defined(__AVR_ATmega88__)
    #define RAMEND_ 0x4FF
    #define LOADER_START 0x1C00
    #define PAGE_BYTES 64
    #define EEPROM_BYTES 512
    #define NRWW_START 0x1800
  #elif defined(__AVR_ATmega168__)
    #define RAMEND_ 0x4FF
    #define LOADER_START 0x3C00
    #define PAGE_BYTES 128
    #define EEPROM_BYTES 512
    #define NRWW_START 0x3800
  #else
    #define RAMEND_ 0x8FF
    #define LOADER_START 0x7C00
    #define PAGE_BYTES 128
    #define EEPROM_BYTES 1024
    #define NRWW_START 0x7000
  #endif
#else
  #error "the loader is built for ATmega8, ATmega88, ATmega168 and ATmega328P only"
#endif

; The loader takes the top 1 KB of flash.
#define FLASH_BYTES (LOADER_START + 1024)

; The receive ring: 512 bytes hold the three frames a host may send ahead (3 x 136)
; and the packets behind them. Every chip has RAM there, and the stack above it.
#define RING 0x200
#define RING_END 0x400
; A checked frame (its letter, len, address, data and check) once taken out of the
; ring; the answer is built over it.
#define FRAME 0x100
; Its data, which is also the plain protocol's 128-byte buffer.
#define DATA (FRAME + 4)

; Registers and bits common to the four chips.
#define SPL_ 0x3D
#define SPH_ 0x3E
#define MCUSR_ 0x34
#define SPMCSR_ 0x37
#define RXC 7
#define TXC 6
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

#define PROTOCOL_VERSION 2

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

; About half a second of silence in the middle of a packet or frame abandons it
; (the waiting loop in getc takes about 21 cycles a turn).
#define BYTE_TIMEOUT (F_CPU / 42)

; The quiet after a sync that ends a wait for one: about 20 ms, at some 20 cycles
; a turn of its loop.
#define SILENCE (F_CPU / 20 / 50)

; Addresses in the loader as plain numbers, for arithmetic the linker cannot do.
#define AT(label) ((label) - reset + LOADER_START)

.macro UIN reg, addr
#if UART_IO
  in \reg, \addr
#else
  lds \reg, \addr
#endif
.endm

.macro UOUT addr, reg
#if UART_IO
  out \addr, \reg
#else
  sts \addr, \reg
#endif
.endm

; Registers kept across the whole loader:
;   r1 zero; r2:r3 ring read pointer; r28:r29 (Y) ring write pointer;
;   r4 the byte waiting to go out, r5 nonzero while it waits;
;   r6:r7 the current address (A); r8-r11 the CRC; r17 poll's scratch.
; A packet leaves a1 a2 a3 in r18 r19 r20, a frame its len, hi and lo.
; T: during the wait, set once the wait has restarted; while a packet or frame comes
; in, set when silence in it must end in a hunt; in a command, the mode (an erase,
; the EEPROM).

  .section .text
  .global reset
; ---------------------------------------------------------------- first block
; Nothing in this block runs between the erase and the write of a page, so the
; loader can rewrite it while running.
reset:
  rjmp init
signature:
  .ascii "ZRVK"
  .byte PROTOCOL_VERSION, PAGE_BYTES / 2
clock:
  .long F_CPU

; The next byte from the ring into r16. getc_idle waits as long as it takes; getc
; abandons what was under way after half a second without a byte. Clobbers X, r23.
getc_idle:
  rcall poll
  cp r2, r28
  cpc r3, r29
  breq getc_idle
  rjmp getc

; r21 bytes from the line to Z on.
take:
  rcall getc
  st Z+, r16
  dec r21
  brne take
  ret

cmd_sync:
  cpi r18, 'U'
  cpc r19, r18
  cpc r20, r18
  breq sync_answer
  rjmp hunt

; X at the data, the plain protocol's buffer.
buffer:
  ldi r26, lo8(DATA)
  ldi r27, hi8(DATA)
  ret


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

; The first byte that is no part of a sync (noise while a cable is plugged in)
; restarts the wait from the second copy of the count; later ones do not.
  .org 80, 0
reload:
  nop
  ldi r24, lo8(WAIT_COUNT)              ; offset 82
  ldi r25, hi8(WAIT_COUNT)              ; offset 84
  nop                                   ; offset 86
  ldi r26, hlo8(WAIT_COUNT)             ; offset 88
  rjmp wait

; A byte during the wait. Only a whole sync leaves it for the commands.
got_byte:
  UIN r16, UDR_
  cpi r16, 'U'
  brne 1f
  dec r20
  brne wait
  rjmp sync_answer
1:
  ldi r20, 4
  brts wait
  set
  rjmp reload

cmd_address:
  mov r7, r18
  mov r6, r19
ack:
  ldi r30, lo8(acknowledgement)
  ldi r31, hi8(acknowledgement)
  rjmp send_text

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
#if UART_IO
  ldi r16, hi8(UBRR_VALUE)
  out UBRRH_, r16
  ldi r16, lo8(UBRR_VALUE)
  out UBRRL_, r16
  ldi r16, (1 << U2X)
  out UCSRA_, r16
  ldi r16, (1 << RXEN) | (1 << TXEN)
  out UCSRB_, r16
#else
  ldi r30, UCSRA_
  clr r31
  ldi r16, hi8(UBRR_VALUE)
  std Z + UBRRH_ - UCSRA_, r16
  ldi r16, lo8(UBRR_VALUE)
  std Z + UBRRL_ - UCSRA_, r16
  ldi r16, (1 << U2X)
  st Z, r16
  ldi r16, (1 << RXEN) | (1 << TXEN)
  std Z + UCSRB_ - UCSRA_, r16
#endif
  ; Nothing survives from before the reset (a jump here from a program included):
  ; address 0, the ring empty, nothing to send.
  clr r6
  clr r7
  clr r5
  ldi r28, lo8(RING)
  ldi r29, hi8(RING)
  movw r2, r28
  ldi r20, 4                            ; sync bytes still wanted
  clt                                   ; the wait not yet restarted
  rjmp load_count

; Leaves the UART as a reset leaves it (its transmit-complete flag cleared too) and
; starts the user program.
leave:
  ldi r16, 1 << TXC
#if UART_IO
  out UCSRB_, r1
  out UCSRA_, r16
  out UBRRH_, r1
  out UBRRL_, r1
  clr r31
#else
  ldi r30, UCSRA_
  clr r31
  std Z + UCSRB_ - UCSRA_, r1
  st Z, r16
  std Z + UBRRH_ - UCSRA_, r1
  std Z + UBRRL_ - UCSRA_, r1
#endif
  clr r30
  ijmp

getc:
  ldi r23, lo8(BYTE_TIMEOUT)
  ldi r26, hi8(BYTE_TIMEOUT)
  ldi r27, hlo8(BYTE_TIMEOUT)
1:
  rcall poll
  cp r2, r28
  cpc r3, r29
  brne 2f
  subi r23, 1
  sbci r26, 0
  sbci r27, 0
  brcc 1b
  rjmp restart
2:
  movw r26, r2
  ld r16, X+
  cpi r27, hi8(RING_END)
  brne 3f
  ldi r27, hi8(RING)
3:
  movw r2, r26
  ret

; ---------------------------------------------------------------- dispatch
; A line error (an unknown letter, a broken sync, a frame that fails its check or
; is refused, silence in a frame): the stack afresh, and nothing is taken until a
; sync that about 20 ms of silence follows. Frames the host sent ahead may still be
; coming, and their data may hold "UUUU" and what looks like a command after it.
hunt:
  set
; Silence in the middle of something: with T clear, the next plain command.
restart:
  ldi r16, lo8(RAMEND_)
  out SPL_, r16
  ldi r16, hi8(RAMEND_)
  out SPH_, r16
  brtc main
  ldi r20, 4
1:
  rcall getc
  cpi r16, 'U'
  brne hunt
  dec r20
  brne 1b
  ldi r24, lo8(SILENCE)
  ldi r25, hi8(SILENCE)
2:
  rcall poll
  cp r2, r28
  cpc r3, r29
  brne hunt
  sbiw r24, 1
  brne 2b
sync_answer:
  ldi r30, lo8(identification)
  ldi r31, hi8(identification)
send_text:
  lpm r16, Z+
  tst r16
  breq main
  rcall putc
  rjmp send_text

; Plain mode takes the letters up to `Z`; a session takes `U`, `Z` and the frames'
; letters. Silence before a packet is no error in either.
main:
  clt
  ldi r21, lo8(commands + 12)
  ldi r30, lo8(commands)
  rjmp 1f
session:
  set                                   ; silence in a frame: hunt
  ldi r21, lo8(commands + 20)
  ldi r30, lo8(commands + 10)
1:
  ldi r31, hi8(commands)
  rcall getc_idle
2:
  cp r30, r21
  breq hunt
  lpm r17, Z+
  cp r16, r17
  brne 2b
  movw r24, r30
  ldi r30, lo8(FRAME)
  ldi r31, hi8(FRAME)
  st Z+, r16
  ldi r21, 3
  rcall take
  ld r20, -Z                            ; a3, or lo
  ld r19, -Z                            ; a2, or hi
  ld r18, -Z                            ; a1, or len
  cpi r24, lo8(commands + 12)
  brlo 3f
  ; A frame: its data and check in, and nothing run unless they match.
  cpi r18, 129
  brsh hunt
  adiw r30, 3
  mov r21, r18
  subi r21, -4
  rcall take
  rcall seal
  tst r21
  brne hunt
  clt
3:
  ; Z one past the letter: its rjmp in the table below.
  movw r30, r24
  subi r30, lo8(-(AT(handlers) / 2 - AT(commands) - 1))
  sbci r31, hi8(-(AT(handlers) / 2 - AT(commands) - 1))
  ijmp

handlers:
  rjmp cmd_address                      ; A
  rjmp cmd_load                         ; B
  rjmp cmd_write_flash                  ; F
  rjmp cmd_write_eeprom                 ; D
  rjmp cmd_read_flash                   ; f
  rjmp cmd_read_eeprom                  ; d
  rjmp cmd_fetch                        ; b
  rjmp cmd_erase_flash                  ; E
  rjmp cmd_erase_eeprom                 ; e
  rjmp leave                            ; S
  rjmp cmd_sync                         ; U
  rjmp frame_open                       ; Z
  rjmp frame_flash_checks               ; C
  rjmp frame_eeprom_checks              ; c
  rjmp frame_read_flash                 ; R
  rjmp frame_read_eeprom                ; r
  rjmp frame_erase                      ; X
  rjmp frame_page                       ; W
  rjmp frame_eeprom                     ; D
  rjmp frame_start                      ; S

; ---------------------------------------------------------------- plain commands
cmd_load:
  ldi r30, lo8(DATA)
  ldi r31, hi8(DATA)
  ldi r21, 128
  rcall take
  rjmp ack

cmd_fetch:
  ldi r21, 128
  rcall buffer
  rcall send
  rjmp main

cmd_read_eeprom:
  set
cmd_read_flash:
  rcall count_a1
  rcall read_loop
  rjmp ack

; `D` writes a1 bytes of the buffer, `e` blanks a1 bytes; the answer comes when the
; last is written.
cmd_erase_eeprom:
  set
cmd_write_eeprom:
  rcall count_a1
  rcall ee_loop
  rjmp ack

; The 64-byte pages from the current address rounded down to 64: a2 of them (at
; most two) programmed from the buffer, or one erased.
cmd_write_flash:
  mov r16, r19
  cpi r16, 3
  brlo 1f
  ldi r16, 2
  rjmp 1f
cmd_erase_flash:
  set
  ldi r16, 1
1:
  swap r16
  lsl r16
  lsl r16                               ; 64 bytes a page
  mov r24, r16
  clr r25
  mov r20, r6
  andi r20, 0xC0
  mov r19, r7
  ; Wholly below the loader: done as asked. Anything that reaches into it (an
  ; address past the end of flash, which the chip wraps, included) is answered and
  ; not done, but for an `F` of exactly the first block that changes nothing but
  ; the wait count, both copies alike.
  rcall range_check
  brcc 4f
  brts to_ack
  cp r12, r22
  cpc r13, r23
  brne to_ack
  cpi r16, 128
  brne to_ack
  movw r30, r22
  rcall buffer
2:
  lpm r16, Z+
  ld r17, X+
  eor r16, r17
  ; At offsets 48-55 and 82-89 (q = 0-7), but for the nops at q = 4 and 5, only
  ; the low nibble may differ.
  mov r21, r30
  subi r21, 49
  cpi r21, 34
  brlo 3f
  subi r21, 34
3:
  cpi r21, 8
  brsh 5f
  andi r21, 6
  cpi r21, 4
  breq 5f
  andi r16, 0xF0
5:
  tst r16
  brne to_ack
  cpi r30, 128
  brne 2b
  ldi r30, lo8(DATA + 48)
  ldi r31, hi8(DATA + 48)
6:
  ld r16, Z+
  ldd r17, Z + 33
  cpse r16, r17
to_ack:
  rjmp ack
  cpi r30, lo8(DATA + 56)
  brne 6b
4:
  rcall buffer
  rcall flash_program
  rjmp ack

; ---------------------------------------------------------------- frames
; `Z 04 00 00 "ZRVK"`: the session is open (or pinged); the answer is the
; version, the page in words and the clock. Any other `Z` runs nothing.
frame_open:
  cpi r18, 4
  brne to_hunt
  ldi r30, lo8(signature)
  ldi r31, hi8(signature)
  rcall buffer
1:
  lpm r16, Z+
  ld r17, X+
  cpse r16, r17
to_hunt:
  rjmp hunt
  cpi r30, lo8(signature + 4)
  brne 1b
  sbiw r26, 4
  ldi r25, 6
  rcall read_loop
  rjmp reply_x

; `C`/`c` with n: the CRC-32 of each of n 128-byte units (1 to 32), flash or EEPROM.
frame_eeprom_checks:
  set
frame_flash_checks:
  rcall one_arg
  mov r22, r25
  dec r22
  andi r22, 0x1F
  inc r22
1:
  ldi r25, 128
  rcall crc_read
  dec r22
  brne 1b
  rjmp reply_x

; `R`/`r` with n: n bytes (1 to 128) of flash or EEPROM.
frame_read_eeprom:
  set
frame_read_flash:
  rcall one_arg
  rcall count
  rcall read_loop
reply_x:
  mov r16, r26
  subi r16, lo8(DATA)
  rcall reply
  rjmp session

; `D`: the EEPROM written from the data; the answer is the CRC-32 of what it holds
; now.
frame_eeprom:
  tst r18
  breq refuse
  rcall frame_data
  mov r25, r18
  rcall ee_loop
  set
  rcall frame_data
  mov r25, r18
  rcall crc_read
  rjmp reply_x

; `X` with n: the pages of [address, address + 128 n) that are not blank erased.
frame_erase:
  rcall one_arg
  clr r24
  lsr r25
  ror r24
  rcall range_check
  brcs refuse
  set
  rjmp 2f

; `W`: 64 or 128 bytes at a multiple of 64 below the loader, answered once
; programmed (no bytes: nothing to do). The next frames come in meanwhile.
frame_page:
  mov r16, r18
  or r16, r20
  andi r16, 0x3F
  brne refuse
  mov r24, r18
  clr r25
  rcall range_check
  brcs refuse
2:
  rcall buffer
  rcall flash_program
  clr r16
  rcall reply_status
  rjmp session

refuse:
  ldi r16, 2
  rcall reply_status
  rjmp hunt

; `S`: answered, and the program starts once the answer has left the UART.
frame_start:
  ldi r16, (1 << TXC) | (1 << U2X)
  UOUT UCSRA_, r16
  clr r16
  rcall reply_status
1:
  rcall poll
  UIN r16, UCSRA_
  sbrs r16, TXC
  rjmp 1b
  rjmp leave

; ---------------------------------------------------------------- helpers
; A frame's first data byte, n, into r25; Z at the frame's address and X at its data.
one_arg:
  lds r25, DATA
frame_data:
  mov r30, r20
  mov r31, r19
  rjmp buffer

; r25 = a1, 1 to 128, Z at the current address, X at the buffer.
count_a1:
  mov r25, r18
  movw r30, r6
  rcall buffer
count:
  dec r25
  andi r25, 0x7F
  inc r25
  ret

; r25 bytes of flash (T clear) or EEPROM from Z to X.
read_loop:
  rcall read_byte
  st X+, r16
  dec r25
  brne read_loop
  ret

; r25 bytes from X (T clear) or of 0xFF (T set) into the EEPROM at Z.
ee_loop:
  ld r16, X+
  brtc 1f
  ldi r16, 0xFF
1:
  rcall ee_write
  dec r25
  brne ee_loop
  ret

; C set when [r19:r20, + r25:r24) does not end at or below the loader's start.
; The range goes to r13:r12 and r15:r14, the loader's start to r23:r22.
range_check:
  ldi r22, lo8(LOADER_START)
  ldi r23, hi8(LOADER_START)
  mov r12, r20
  mov r13, r19
  movw r14, r12
  add r14, r24
  adc r15, r25
  brcs checked
  cp r22, r14
  cpc r23, r15
checked:
  ret

; Answers the request at FRAME: the status r16 as its one data byte (reply_status),
; or the r16 data bytes already at DATA (reply), with the letter and address of the
; request and the check. Clobbers X, r16, r17, r21.
reply_status:
  sts DATA, r16
  ldi r16, 1
reply:
  sts FRAME + 1, r16
  rcall seal
  mov r21, r26                          ; FRAME is 256-aligned: the length
  clr r26
; r21 bytes from X on to the line.
send:
  ld r16, X+
  rcall putc
  dec r21
  brne send
  ret

; Programs (T clear) or erases (T set) the flash in [r13:r12, r15:r14), whole chip
; pages at a time: the bytes of a page outside the range keep what they held, the
; new ones come from X on. A page whose bytes do not change is not touched, and one
; that becomes blank is only erased. The callers keep the range off the loader (but
; for the guarded first block).
flash_program:
  movw r30, r12
  andi r30, lo8(~(PAGE_BYTES - 1))
page_loop:
  cp r30, r14
  cpc r31, r15
  brsh checked
  ldi r21, PAGE_BYTES / 2
  clr r22                               ; set when a word changes
  ldi r23, 0xFF                         ; AND of the new bytes
fill:
  lpm r0, Z+
  lpm r1, Z
  sbiw r30, 1
  movw r16, r0
  cp r30, r12
  cpc r31, r13
  brlo have
  cp r30, r14
  cpc r31, r15
  brsh have
  ld r0, X+
  ld r1, X+
  brtc have
  clr r0
  dec r0
  mov r1, r0
have:
  cpse r0, r16
  ser r22
  cpse r1, r17
  ser r22
  and r23, r0
  and r23, r1
  ldi r16, (1 << SPMEN)
  rcall do_spm
  adiw r30, 2
  dec r21
  brne fill
  clr r1
  sbiw r30, 2                           ; the page's last word: its address bits
  tst r22
  breq 5f
  ldi r16, (1 << PGERS) | (1 << SPMEN)
  rcall do_spm
  cpi r23, 0xFF
  breq 5f                               ; the erase already left it so
  ldi r16, (1 << PGWRT) | (1 << SPMEN)
  rcall do_spm
5:
  ; Reads of the program area again, and a fresh page buffer.
  ldi r16, (1 << RWWSRE) | (1 << SPMEN)
  rcall do_spm
  adiw r30, 2
  rjmp page_loop

; SPM with SPMCSR = r16 (every EEPROM write is waited for, so none is under way);
; the line is served while the page erases or programs. Clobbers r16.
do_spm:
  out SPMCSR_, r16
  spm
1:
  rcall poll
  in r16, SPMCSR_
  sbrc r16, SPMEN
  rjmp 1b
  ret

; Hands the byte waiting to go out to the UART when it has room, and takes a byte
; that has arrived into the ring. Clobbers r17.
poll:
  UIN r17, UCSRA_
  tst r5
  breq 1f
  sbrs r17, UDRE
  rjmp 1f
  UOUT UDR_, r4
  clr r5
1:
  sbrs r17, RXC
  ret
  UIN r17, UDR_
  st Y+, r17
  cpi r29, hi8(RING_END)
  brne 2f
  ldi r29, hi8(RING)
2:
  ret

; r16 to the line, behind the byte that waits to go out. Keeps polling.
putc:
  rcall poll
  tst r5
  brne putc
  mov r4, r16
  inc r5
  ret

ee_wait:
  rcall poll
  sbic EECR_, EEPE
  rjmp ee_wait
  ret

; The CRC-32 of FRAME's header and len data bytes, written behind them; r21 nonzero
; when the bytes it replaced differed. Clobbers X, r16, r17.
seal:
  rcall crc_start
  ldi r26, lo8(FRAME)
  ldi r27, hi8(FRAME)
  lds r21, FRAME + 1
  subi r21, -4
1:
  ld r16, X+
  rcall crc_byte
  dec r21
  brne 1b
  rjmp crc_store

; The CRC-32 of r25 bytes of flash (T clear) or EEPROM from Z, written at X on.
crc_read:
  rcall crc_start
1:
  rcall read_byte
  rcall crc_byte
  dec r25
  brne 1b
; The CRC in r8-r11, finished, to X on, low byte first; r21 gathers the bits in
; which it differs from the bytes it replaces. Clobbers r16, r17.
crc_store:
  ldi r17, 4
1:
  ld r16, X
  com r8
  eor r16, r8
  or r21, r16
  st X+, r8
  mov r8, r9
  mov r9, r10
  mov r10, r11
  dec r17
  brne 1b
  ret

; CRC-32 in r8-r11, a bit at a time, the line served for every byte: crc_start
; sets it to all ones, crc_byte takes r16 in. Clobbers r16, r17.
crc_start:
  ser r16
  mov r8, r16
  mov r9, r16
  movw r10, r8
  ret
crc_byte:
  rcall poll
  eor r8, r16
  ldi r16, 8
1:
  lsr r11
  ror r10
  ror r9
  ror r8
  brcc 2f
  ldi r17, 0x20
  eor r8, r17
  ldi r17, 0x83
  eor r9, r17
  ldi r17, 0xB8
  eor r10, r17
  ldi r17, 0xED
  eor r11, r17
2:
  dec r16
  brne 1b
  ret

; r16 = the byte at Z, of flash (T clear) or EEPROM (T set); Z advances and wraps
; at the end, as the chip's own address bits do.
read_byte:
  brts ee_read
  andi r31, hi8(FLASH_BYTES - 1)
  lpm r16, Z+
  ret

; r16 = the EEPROM byte at Z; Z advances, wrapping at the EEPROM's end.
ee_read:
  rcall ee_wait
  andi r31, hi8(EEPROM_BYTES - 1)
  out EEARH_, r31
  out EEARL_, r30
  sbi EECR_, EERE
  in r16, EEDR_
  adiw r30, 1
ee_done:
  ret

; Writes r16 to the EEPROM at Z and waits for it; Z advances. A byte that already
; holds the value is left alone. Clobbers r21.
ee_write:
  mov r21, r16
  rcall ee_read
  cp r16, r21
  breq ee_done
  out EEDR_, r21
  sbi EECR_, EEMPE
  sbi EECR_, EEPE
  rjmp ee_wait

; Plain letters first (to `Z`), the frames' from `U` on.
commands:
  .ascii "ABFDfdbEeSUZCcRrXWDS"
identification:
  .asciz "Loader"
acknowledgement:
  .asciz "OK\r\n"
