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
  #define BUFFER 0x80
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
  #define BUFFER 0x400
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
; A frame's data and check, once taken out of the ring, until the data is in the
; page buffer.
#define FRAME 0x100

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

#define PROTOCOL_VERSION 1

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
;   r6:r7 the current address (A); r17 poll's scratch.
; T: during the wait, set once the wait has restarted; in a command, the mode (an
; erase, the EEPROM); while a frame is taken in, set so that silence waits for a sync.

  .section .text
  .global reset
; ---------------------------------------------------------------- first block
reset:
  rjmp init
signature:
  .ascii "ZRVK"
  .byte PROTOCOL_VERSION, PAGE_BYTES / 2

; The code in this block never runs while the block itself is programmed.

; The next byte from the ring into r16, waiting for it. Clobbers X, r25. Half a
; second without a byte abandons what was under way.
getc:
  ldi r25, lo8(BYTE_TIMEOUT)
  ldi r26, hi8(BYTE_TIMEOUT)
  ldi r27, hlo8(BYTE_TIMEOUT)
1:
  rcall poll
  cp r2, r28
  cpc r3, r29
  brne 2f
  subi r25, 1
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

; Leaves the UART as a reset leaves it and starts the user program.
leave:
#if UART_IO
  out UCSRB_, r1
  out UCSRA_, r1
  out UBRRH_, r1
  out UBRRL_, r1
  clr r31
#else
  ldi r30, UCSRA_
  clr r31
  std Z + UCSRB_ - UCSRA_, r1
  st Z, r1
  std Z + UBRRH_ - UCSRA_, r1
  std Z + UBRRL_ - UCSRA_, r1
#endif
  clr r30
  ijmp

; ---------------------------------------------------------------- commands
; Silence in the middle of something: the stack afresh, then the next command, or
; with T set (a frame was coming) nothing until a sync.
restart:
  ldi r16, lo8(RAMEND_)
  out SPL_, r16
  ldi r16, hi8(RAMEND_)
  out SPH_, r16
  brtc main
hunt:
  ldi r20, 4
1:
  rcall getc
  cpi r16, 'U'
  brne hunt
  dec r20
  brne 1b
  ; Frames may still be coming, and their data may hold "UUUU": a sync counts
  ; only when the line then stays quiet for about 20 ms, so that no byte after it
  ; can be taken for a command.
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

main:
  clt
  rcall getc
  ldi r30, lo8(commands)
  ldi r31, hi8(commands)
1:
  lpm r17, Z+
  tst r17
  breq main                             ; not a command: resynchronise on the next byte
  cp r16, r17
  brne 1b
  rcall getc
  mov r18, r16                          ; a1
  rcall getc
  mov r19, r16                          ; a2
  rcall getc
  mov r20, r16                          ; a3
  ; Z is one past the letter: its rjmp in the table below.
  subi r30, lo8(-(AT(handlers) / 2 - AT(commands) - 1))
  sbci r31, hi8(-(AT(handlers) / 2 - AT(commands) - 1))
  ijmp

handlers:
  rjmp cmd_sync
  rjmp cmd_address
  rjmp cmd_load
  rjmp cmd_write_flash
  rjmp cmd_write_eeprom
  rjmp cmd_read_flash
  rjmp cmd_read_eeprom
  rjmp cmd_fetch
  rjmp cmd_erase_flash
  rjmp cmd_erase_eeprom
  rjmp leave
  rjmp cmd_flash_checks
  rjmp cmd_eeprom_checks
  rjmp cmd_range_erase
  rjmp cmd_page

cmd_sync:
  cpi r18, 'U'
  brne main
  cpi r19, 'U'
  brne main
  cpi r20, 'U'
  brne main
  rjmp sync_answer

cmd_load:
  ldi r30, lo8(BUFFER)
  ldi r31, hi8(BUFFER)
  ldi r21, 128
1:
  rcall getc
  st Z+, r16
  dec r21
  brne 1b
  rjmp ack

cmd_fetch:
  ldi r25, 128
  rcall buffer_start
1:
  ld r16, X+
  rcall putc
  dec r25
  brne 1b
  rjmp main

cmd_read_eeprom:
  set
cmd_read_flash:
  rcall count_a1
1:
  rcall read_byte
  st X+, r16
  dec r25
  brne 1b
  rjmp ack

; `D` writes a1 bytes of the buffer, `e` blanks a1 bytes; the answer comes when the
; last is written.
cmd_erase_eeprom:
  set
cmd_write_eeprom:
  rcall count_a1
1:
  ld r16, X+
  brtc 2f
  ldi r16, 0xFF
2:
  rcall ee_write
  dec r25
  brne 1b
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
  movw r12, r6
  ldi r17, 0xC0
  and r12, r17
  movw r14, r12
  add r14, r16
  adc r15, r1
  ldi r24, lo8(BUFFER)
  ldi r25, hi8(BUFFER)
  clr r20
  rcall flash_program
  rjmp ack

; `C`/`c hi lo n`: the CRC-32 of each of n 128-byte units (n 0: 256), flash or EEPROM.
cmd_eeprom_checks:
  set
cmd_flash_checks:
  mov r31, r18
  mov r30, r19
1:
  rcall crc_start
  ldi r21, 128
2:
  ; Reads half of the line's bytes a turn: the UART keeps two.
  sbrc r21, 0
  rcall poll
  rcall read_byte
  rcall crc_byte
  dec r21
  brne 2b
  ; It goes out while the next is computed.
  ldi r26, 8
  clr r27
5:
  ld r16, X+
  com r16
  rcall putc
  cpi r26, 12
  brne 5b
  dec r20
  brne 1b
  rjmp main

; `X hi lo n`: erases the pages of [address, address + 128 n) that are not blank.
cmd_range_erase:
  ldi r16, 2
  mov r17, r19
  andi r17, 0x7F
  brne 1f
  tst r20
  breq 1f                               ; 256 units: 32 KB always reach the loader
  mov r25, r20
  clr r24
  lsr r25
  ror r24
  rcall range_check
  brcs 1f
  set
  clr r20
  rcall flash_program
  clr r16
1:
  rcall answer
  rjmp main

; `W hi lo n`, n data bytes, their check: programs them once the check matches.
cmd_page:
  mov r16, r19
  andi r16, 0x3F
  brne refuse
  cpi r20, 64
  breq 1f
  cpi r20, 128
  brne refuse
1:
  mov r24, r20
  clr r25
  rcall range_check
  brcs refuse
  set                                   ; silence in the frame: wait for a sync
  rcall crc_start
  ldi r30, 18
  clr r31
2:
  ld r16, Z+
  rcall crc_byte
  cpi r30, 21
  brne 2b
  ; The data and the check: taken through the CRC together, they leave its
  ; register at CRC-32's fixed residue when they match.
  ldi r30, lo8(FRAME)
  ldi r31, hi8(FRAME)
  mov r21, r20
  subi r21, -4
3:
  rcall getc
  st Z+, r16
  rcall crc_byte
  dec r21
  brne 3b
  ldi r16, 0xE3
  cp r8, r16
  ldi r16, 0x20
  cpc r9, r16
  ldi r16, 0xBB
  cpc r10, r16
  ldi r16, 0xDE
  cpc r11, r16
  ldi r16, 1
  brne failed
  ldi r24, lo8(FRAME)
  ldi r25, hi8(FRAME)
  clt
  ser r20                               ; answer when the last page is filled
  rcall flash_program
  rjmp main
refuse:
  ldi r16, 2
failed:
  rcall answer
  set
  rjmp restart

; ---------------------------------------------------------------- helpers
; C set when [r18:r19, + r25:r24) does not end at or below the loader's start.
; The range goes to r13:r12 and r15:r14. Clobbers r22, r23.
range_check:
  mov r12, r19
  mov r13, r18
  movw r14, r12
  add r14, r24
  adc r15, r25
  brcs checked
  ldi r22, lo8(LOADER_START)
  ldi r23, hi8(LOADER_START)
  cp r22, r14
  cpc r23, r15
checked:
  ret

; With r20 nonzero and Z at the last page of the range: answers the frame, once.
; Clobbers X, r16, r21.
frame_done:
  tst r20
  breq checked
  movw r26, r30
  subi r26, lo8(-(PAGE_BYTES))
  sbci r27, hi8(-(PAGE_BYTES))
  cp r26, r14
  cpc r27, r15
  brlo checked
  clr r20
  clr r16
  rjmp answer

; Programs (T clear) or erases (T set) the flash in [r13:r12, r15:r14), whole chip
; pages at a time: the bytes of a page outside the range keep what they held, the
; new ones come from r25:r24 on. A page that is blank and stays so is not touched,
; and one that becomes blank is only erased. Nothing at or above the loader's
; second block is touched, nor its first by an erase.
; With r20 nonzero (a frame) its last page is answered.
flash_program:
  movw r30, r12
  andi r30, lo8(~(PAGE_BYTES - 1))
page_loop:
  cp r30, r14
  cpc r31, r15
  brsh checked
  ldi r16, lo8(PROTECTED)
  ldi r17, hi8(PROTECTED)
  brtc 1f
  ; Nor is its first block ever erased on its own: a reset before it is programmed
  ; again would leave a chip with no loader. `F` rewrites it whole in one go.
  ldi r16, lo8(LOADER_START)
  ldi r17, hi8(LOADER_START)
1:
  cp r30, r16
  cpc r31, r17
  brsh checked
  ldi r21, PAGE_BYTES / 2
  ldi r22, 0xFF                         ; AND of the old bytes
  ldi r23, 0xFF                         ; AND of the new bytes
fill:
  lpm r0, Z+
  lpm r1, Z
  sbiw r30, 1
  and r22, r0
  and r22, r1
  cp r30, r12
  cpc r31, r13
  brlo have
  cp r30, r14
  cpc r31, r15
  brsh have
  brts blank
  movw r26, r30
  sub r26, r12
  sbc r27, r13
  add r26, r24
  adc r27, r25
  ld r0, X+
  ld r1, X
  rjmp have
blank:
  ldi r16, 0xFF
  mov r0, r16
  mov r1, r16
have:
  and r23, r0
  and r23, r1
  ldi r16, (1 << SPMEN)
  rcall do_spm
  adiw r30, 2
  dec r21
  brne fill
  clr r1
  subi r30, lo8(PAGE_BYTES)
  sbci r31, hi8(PAGE_BYTES)
  ; A frame's last page in the read-while-write section is answered now, its data
  ; out of RAM. Where the CPU stops while a page programs, the answer waits until
  ; it is done (the host sends nothing meanwhile).
  cpi r31, hi8(NRWW_START)
  brsh 4f
  rcall frame_done
4:
  mov r16, r22
  and r16, r23
  cpi r16, 0xFF
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
  rcall frame_done
  subi r30, lo8(-(PAGE_BYTES))
  sbci r31, hi8(-(PAGE_BYTES))
  rjmp page_loop

; X at the buffer, Z at the current address, r25 = a1, 1 to 128.
count_a1:
  mov r25, r18
  dec r25
  andi r25, 0x7F
  inc r25
  movw r30, r6
buffer_start:
  ldi r26, lo8(BUFFER)
  ldi r27, hi8(BUFFER)
  ret

; Sends the packet's address (r18 r19) and the status in r16. Clobbers r21.
answer:
  mov r21, r16
  mov r16, r18
  rcall putc
  mov r16, r19
  rcall putc
  mov r16, r21
  rjmp putc

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

; CRC-32 in r8-r11, a bit at a time: as fast as a nibble table whose shifts loop,
; and 80 bytes smaller. crc_start sets it to all ones and puts the polynomial in
; r22, r23, r24, r0; crc_byte takes r16 in. Clobbers r16.
crc_start:
  ser r16
  mov r8, r16
  mov r9, r16
  movw r10, r8
  ldi r22, 0x20
  ldi r23, 0x83
  ldi r24, 0xB8
  ldi r16, 0xED
  mov r0, r16
  ret
crc_byte:
  eor r8, r16
  ldi r16, 8
1:
  lsr r11
  ror r10
  ror r9
  ror r8
  brcc 2f
  eor r8, r22
  eor r9, r23
  eor r10, r24
  eor r11, r0
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

; SPM with SPMCSR = r16, once the EEPROM and the last SPM are done; the line is
; served while the page erases or programs. Clobbers r16.
do_spm:
  rcall ee_wait
  out SPMCSR_, r16
  spm
1:
  rcall poll
  in r16, SPMCSR_
  sbrc r16, SPMEN
  rjmp 1b
  ret

commands:
  .asciz "UABFDfdbEeSCcXW"
identification:
  .asciz "Loader"
acknowledgement:
  .asciz "OK\r\n"
