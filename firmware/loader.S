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

#if (LOADER_START & 0xFF) != 0
#error "the loader's start must be 256-aligned: its low byte is taken as 0"
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
#define SREG_ 0x3F
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

#define PROTOCOL_VERSION 3

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
; (the waiting loop in getc takes 20 cycles a turn, 19 where the UART is in the I/O
; space).
#if UART_IO
#define BYTE_TIMEOUT (F_CPU / 38)
#else
#define BYTE_TIMEOUT (F_CPU / 40)
#endif

; The quiet after a sync that ends a wait for one: about 20 ms, at 19 cycles a turn
; of its loop (18 where the UART is in the I/O space).
#if UART_IO
#define SILENCE (F_CPU / 50 / 18)
#else
#define SILENCE (F_CPU / 50 / 19)
#endif

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

; Where the loader remembers that a session is open: a bit that no reset and no
; program leaves set by surprise matters little, since only a sync's answer clears
; it and only a checked opening frame sets it. The ATmega8 has no general-purpose
; I/O register; the address match register of its unused TWI serves.
#if defined(__AVR_ATmega8__)
  #define MODE_IO 0x02
#else
  #define MODE_IO 0x1E
#endif
#define MODE_BIT 0

; The letters, in the order of the handlers below. Plain mode takes A to D, a session
; U and the rest: one compare on a letter's place tells which (Z, which opens the
; session, is a frame in both). F, D and W carry data.
#define IDX_U 6
#define IDX_Z 7
#define IDX_F 10
#define N_LETTERS 15

; Registers kept across the whole loader:
;   r1 zero; r2:r3 ring read pointer; r28:r29 (Y) ring write pointer;
;   r6:r7 the current address (A); r8-r11 the CRC; r17 poll's scratch.
; A packet leaves a1 a2 a3 in r18 r19 r20, a frame its len (or count), hi and lo.
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
  .long F_CPU                           ; the clock, for the session's answer
; At a fixed place: the reader's arithmetic on the letters' addresses takes only
; their low bytes, so the table must not cross a 256-byte boundary.
commands:
  .ascii "ABbEeSUZfdFDWCR"
  .byte 0
  .if (commands - reset) / 256 != (commands - reset + N_LETTERS) / 256
  .error "the letter table crosses a 256-byte boundary"
  .endif
identification:
  .asciz "Loader"
acknowledgement:
  .asciz "OK\r\n"

cmd_address:
  mov r7, r18
  mov r6, r19
  rjmp ack

  .org 48, 0
load_count:
  ldi r24, lo8(WAIT_COUNT)              ; offset 48
  ldi r25, hi8(WAIT_COUNT)              ; offset 50
  ldi r27, 0                            ; offset 52: a nop that the guard lets change
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
  sbiw r24, 1                           ; 2
  sbci r26, 0                           ; 1
  lpm                                   ; 3, r0 is free here
  brcc wait                             ; 2
  rjmp leave                            ; nobody came: start the user program

ack:
  ldi r30, lo8(acknowledgement)
  rcall send_text
  rjmp next

; The first byte that is no part of a sync (noise while a cable is plugged in)
; restarts the wait from the second copy of the count; later ones do not.
  .org 80, 0
reload:
  set                                   ; offset 80
  ldi r24, lo8(WAIT_COUNT)              ; offset 82
  ldi r25, hi8(WAIT_COUNT)              ; offset 84
  ldi r27, 0                            ; offset 86
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
  rjmp reload

; r21 bytes from the line to Z on.
take:
  rcall getc
  st Z+, r16
  dec r21
  brne take
  ret

; X at the data, which is also the plain protocol's 128-byte buffer.
buffer:
  ldi r26, lo8(DATA)
  ldi r27, hi8(DATA)
  ret

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
  ldi r16, (1 << U2X)
  UOUT UCSRA_, r16
  ldi r16, (1 << RXEN) | (1 << TXEN)
  UOUT UCSRB_, r16
  set
  rcall base_speed
  ; Nothing survives from before the reset (a jump here from a program included):
  ; address 0, the ring empty, nothing to send. The session's bit is cleared by
  ; the sync's answer, the only way out of the wait.
  clr r6
  clr r7
  ldi r28, lo8(RING)
  ldi r29, hi8(RING)
  movw r2, r28
  ldi r20, 4                            ; sync bytes still wanted
  out SREG_, r1                         ; T too: a program may jump here with it set
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

; The UART's speed to UBRR = r19:r18, at the base speed with base_speed. With T
; clear it first lets the answer leave at the old speed: TXC is cleared just after
; the last byte entered UDR, and set once that byte has left the shifter.
base_speed:
  ldi r18, lo8(UBRR_VALUE)
  ldi r19, hi8(UBRR_VALUE)
speed:
  brts 2f
  ldi r16, (1 << TXC) | (1 << U2X)
  UOUT UCSRA_, r16
1:
  rcall poll
  sbrs r17, TXC
  rjmp 1b
2:
  UOUT UBRRH_, r19
  UOUT UBRRL_, r18
  ret

; The next byte from the ring into r16 and the CRC, waiting for it. Clobbers X,
; r17, r23. Half a second without a byte abandons what was under way.
getc:
  ldi r23, hlo8(BYTE_TIMEOUT)
  ldi r26, lo8(BYTE_TIMEOUT)
  ldi r27, hi8(BYTE_TIMEOUT)
1:
  rcall poll
  brne 2f
  sbiw r26, 1
  sbci r23, 0
  brcc 1b
  rjmp restart
2:
  movw r26, r2
  ld r16, X+
  andi r27, hi8(RING_END - 1)           ; 0x400 wraps to 0x200
  ori r27, hi8(RING)
  movw r2, r26
  rjmp crc_byte

; ---------------------------------------------------------------- commands
; After a line error, a failed check or a refusal: the base speed, and nothing until
; a sync that about 20 ms of silence follows. Frames the host sent ahead are still
; coming then, and a "UUUU" in their data, followed by more data, must not hand that
; data to the command reader. Silence in the middle of a packet comes here too: with
; T set (a frame was coming) it hunts, otherwise the next command is read.
hunt:
  set
restart:
  ldi r16, lo8(RAMEND_)                 ; SPH is the same since init
  out SPL_, r16
  brtc next
  rcall base_speed
4:
  ldi r20, 3
3:
  inc r20
1:
  rcall getc
  cpi r16, 'U'
  brne 4b
  dec r20
  brne 1b
  ldi r24, lo8(SILENCE)
  ldi r25, hi8(SILENCE)
2:
  rcall poll
  brne 3b                               ; a fifth U: the last four may be the sync
  sbiw r24, 1
  brne 2b
; Answered at the speed in use; a session ends here, and its speed with it.
sync_answer:
  ldi r30, lo8(identification)
  rcall send_text
  clt
  sbic MODE_IO, MODE_BIT
  rcall base_speed
  cbi MODE_IO, MODE_BIT
  rjmp next

cmd_sync:
  cpi r18, 'U'
  cpc r19, r18
  cpc r20, r18
  breq sync_answer
to_hunt:
  rjmp hunt

; W: a checked page frame, programmed at its address. Any range below the loader
; is safe: the bytes of a touched page outside it keep what they held. Its answer is
; the CRC-32 of the range as the flash now holds it: the host learns that the frame
; is programmed, and programmed right, without a second pass.
cmd_page:
  movw r30, r6
  mov r24, r18
  rcall range_check
  brcs to_hunt                          ; it reaches the loader: nothing, a hunt
  rcall flash_program
  ldi r22, 1
  rjmp checks

; The command reader. In plain mode a letter and three bytes; in a session a frame
; whose check must match before anything of it runs.
next:
  clt
  sbic MODE_IO, MODE_BIT
  set                                   ; a session: frames, and silence hunts
  rcall crc_start
  rcall getc
  ldi r30, lo8(commands)
  ldi r31, hi8(commands)
1:
  lpm r17, Z+
  tst r17
  breq to_hunt                          ; no command: wait for a sync
  cp r16, r17
  brne 1b
  ; Z is one past the letter: its place tells the letter's kind.
  brts 2f
  cpi r30, lo8(commands + IDX_F + 2 + 1) ; plain mode: up to D
  brsh to_hunt
  cpi r30, lo8(commands + IDX_Z + 1)
  brne 3f
  set                                   ; Z: a frame in plain mode too
2:
  cpi r30, lo8(commands + IDX_U + 1)    ; a session: from U on
  brlo to_hunt
  brne 3f
  clt                                   ; U: the sync's packet
3:
  movw r24, r30                         ; the handler's place
  ldi r30, lo8(FRAME)
  ldi r31, hi8(FRAME)
  st Z+, r16
  ldi r21, 3
  rcall take
  ld r20, -Z                            ; a3, or lo
  ld r19, -Z                            ; a2, or hi
  ld r18, -Z                            ; a1, or len
  brtc dispatch
  ; A frame: F, D and W carry 1 to 128 data bytes, the others none; then the check.
  ldi r21, 4
  mov r22, r24
  subi r22, lo8(commands + IDX_F + 1)
  cpi r22, 3
  brsh 5f
  mov r21, r18
  subi r21, 1
  cpi r21, 128
  brsh to_hunt                          ; more than the buffer holds, or nothing
  subi r21, -5
5:
  adiw r30, 3
  rcall take
  ; The CRC over a frame and its own check leaves zlib's residue.
  movw r22, r8
  subi r22, 0xE3
  sbci r23, 0x20
  movw r22, r10
  sbci r22, 0xBB
  sbci r23, 0xDE
  brne to_hunt
  mov r7, r19                           ; the frame's address is the current one
  mov r6, r20
dispatch:
  clt
  movw r30, r24
  subi r30, lo8(-(AT(handlers) / 2 - AT(commands) - 1))
  sbci r31, hi8(-(AT(handlers) / 2 - AT(commands) - 1))
  ijmp

handlers:
  rjmp cmd_address                      ; A
  rjmp cmd_load                         ; B
  rjmp cmd_fetch                        ; b
  rjmp cmd_erase_flash                  ; E
  rjmp cmd_erase_eeprom                 ; e
  rjmp leave                            ; S
  rjmp cmd_sync                         ; U
  rjmp cmd_open                         ; Z
  rjmp cmd_read_flash                   ; f
  rjmp cmd_read_eeprom                  ; d
  rjmp cmd_write_flash                  ; F
  rjmp cmd_write_eeprom                 ; D
  rjmp cmd_page                         ; W
  rjmp cmd_flash_checks                 ; C
                                        ; R: right below
; R: the line's speed to UBRR = hi:lo (U2X stays), once the answer has left at the
; old one. Every hunt, and the sync that ends the session, bring the base speed back.
cmd_speed:
  rcall buffer
  rcall reply
  mov r18, r20
  andi r19, 0x0F                        ; UBRRH's other bits are not the speed's
  rcall speed
  rjmp next

; C: the CRC-32 of each of n 128-byte flash units (1 to 32).
cmd_flash_checks:
  mov r22, r18
  ldi r18, 128
; r22 units of r18 bytes from the current address, a CRC-32 each.
checks:
  movw r30, r6
  rcall buffer
  rcall crc_start
1:
  mov r25, r18
2:
  rcall read_byte
  rcall crc_byte
  dec r25
  brne 2b
  rcall crc_store
  cpi r26, lo8(DATA + 128)              ; 32 units fill the answer
  breq done
  dec r22
  brne 1b
  rjmp done

cmd_load:
  ldi r30, lo8(DATA)
  ldi r31, hi8(DATA)
  ldi r21, 128
  rcall take
  rjmp ack

cmd_fetch:
  rcall buffer
  ldi r21, 128
  rcall send
  rjmp next

; D writes a1 bytes of the buffer, e blanks a1 bytes, byte by byte: a byte that
; already holds its value is not written again. The answer comes when the last is
; written; both then read back what the EEPROM holds, which a session's answer
; carries.
cmd_erase_eeprom:
  set
cmd_write_eeprom:
  rcall count_a1
1:
  ld r21, X+
  brtc 2f
  ldi r21, 0xFF
2:
  rcall ee_read
  cp r16, r21
  breq 3f
  out EEDR_, r21
  sbi EECR_, EEMPE
  sbi EECR_, EEPE
3:
  dec r25
  brne 1b
cmd_read_eeprom:
  set
  rjmp cmd_read_flash
; Z: opens the session (or pings it). Its count and address are those of the
; version, page and clock in the first block, which it answers like an f frame.
cmd_open:
  sbi MODE_IO, MODE_BIT
cmd_read_flash:
  rcall count_a1
1:
  rcall read_byte
  st X+, r16
  dec r25
  brne 1b
; The end of a command whose answer is the data up to X: "OK" in plain mode (the
; buffer holds it), the data in a session.
done:
  sbis MODE_IO, MODE_BIT
  rjmp ack
  rcall reply
  rjmp next

; F programs a2 64-byte pages (at most two) from the buffer, E blanks one, both from
; the current address rounded down to 64. Nothing of the loader is ever erased, and
; its first block is programmed only whole, and only when the buffer differs from it
; in nothing but the wait count, whose two copies agree: no line error can change
; the loader's code.
cmd_erase_flash:
  set
  ldi r19, 1
cmd_write_flash:
  mov r24, r19
  cpi r24, 3
  brlo 1f
  ldi r24, 2
1:
  swap r24
  lsl r24
  lsl r24                               ; 64 bytes a page
  rcall buffer                          ; a refusal answers no data
  movw r30, r6
  andi r30, 0xC0
  rcall range_check
  brcc 4f
  brts done                             ; no erase in the loader
  cp r12, r1
  cpc r13, r23
  brne done                             ; not the first block
  cpi r24, 128
  brne done                             ; not the whole block
2:
  lpm r16, Z+
  ld r17, X+
  eor r16, r17
  ; j = offset - 48, or offset - 82: the count's nibbles are the low ones at
  ; j = 0 to 7 (those at 4 and 5 are an ldi whose register nothing reads).
  mov r21, r30
  subi r21, 49
  cpi r21, 34
  brlo 3f
  subi r21, 34
3:
  cpi r21, 8
  brsh 5f
  andi r16, 0xF0
5:
  tst r16
  brne done
  cpi r30, 128
  brne 2b
  ldi r30, lo8(DATA + 48)
  ldi r31, hi8(DATA + 48)
6:
  ld r16, Z+
  ldd r17, Z + 33
  cpse r16, r17
  rjmp done                             ; the copies differ
  cpi r30, lo8(DATA + 56)
  brne 6b
4:
  rcall flash_program
  rjmp done                             ; a session reads the block back to know

; ---------------------------------------------------------------- helpers
; C set when [Z, + r24) does not end at or below the loader's start.
; The range goes to r13:r12 and r15:r14, the loader's start's high byte to r23
; (its low byte is 0).
range_check:
  ldi r23, hi8(LOADER_START)
  movw r12, r30
  movw r14, r30
  add r14, r24
  adc r15, r1
  brcs 1f
  cp r1, r14
  cpc r23, r15
1:
  ret

; Answers the frame with the data from DATA up to X: the request's letter and
; address, the data's length, the data and their CRC-32, computed while the bytes
; go out.
reply:
  mov r21, r26                          ; FRAME is 256-aligned: the frame's length
  subi r26, lo8(DATA)
  sts FRAME + 1, r26
  clr r26
  rcall crc_start
  rcall send
  rcall crc_store
  sbiw r26, 4
  ldi r21, 4
; r21 bytes from X to the line, each into the CRC.
send:
  ld r16, X+
  rcall putc
  rcall crc_byte
  dec r21
  brne send
  ret

; Programs (T clear) or erases (T set) the flash in [r13:r12, r15:r14), whole chip
; pages at a time: the bytes of a page outside the range keep what they held, the
; new ones come from the buffer. A page whose bytes do not change is not touched,
; one that is blank already is not erased. The callers keep the range off the loader.
flash_program:
  rcall buffer
  movw r30, r12
  andi r30, lo8(~(PAGE_BYTES - 1))
page_loop:
  cp r30, r14
  cpc r31, r15
  brsh 9f
  ldi r21, PAGE_BYTES / 2
  clr r22                               ; set when a byte changes
  ser r23                               ; 0xFF while the page is to be blank
  ser r25                               ; 0xFF while it is blank now
fill:
  rcall pick
  mov r0, r16
  rcall pick
  mov r1, r16
  sbiw r30, 2
  ldi r16, (1 << SPMEN)
  rcall do_spm
  adiw r30, 2
  dec r21
  brne fill
  clr r1
  movw r20, r30                         ; the next page
  ; A page erase or write takes Z at the page's first word: the datasheets want its
  ; bits below the page clear (only an erase ignores them).
  sbiw r30, 1
  andi r30, lo8(~(PAGE_BYTES - 1))
  tst r22
  breq 5f
  cpi r25, 0xFF
  breq 6f                               ; blank already: no erase
  ldi r16, (1 << PGERS) | (1 << SPMEN)
  rcall do_spm
6:
  inc r23
  breq 5f                               ; to be blank: the erase made it so
  ldi r16, (1 << PGWRT) | (1 << SPMEN)
  rcall do_spm
5:
  ; Reads of the program area again, and a fresh page buffer.
  ldi r16, (1 << RWWSRE) | (1 << SPMEN)
  rcall do_spm
  movw r30, r20
  rjmp page_loop
9:
  ret

; r16 = what the flash byte at Z is to hold: the byte from X on (T clear) or 0xFF
; (T set) inside [r13:r12, r15:r14), what it holds outside; r22 set when it changes,
; r23 kept 0xFF only while every new byte is, r25 while every old one is.
; Byte by byte, so that a range of odd address or length keeps its neighbours. Z
; advances. Clobbers r17.
pick:
  lpm r17, Z+
  mov r16, r17
  and r25, r17
  cp r12, r30                           ; Z is one past the byte
  cpc r13, r31
  brsh 1f
  cp r14, r30
  cpc r15, r31
  brlo 1f
  ldi r16, 0xFF
  brts 1f
  ld r16, X+
1:
  and r23, r16
  cpse r16, r17
  ser r22
  ret

; SPM with SPMCSR = r16; the line is served while the page erases or programs.
; Every EEPROM write has been waited for. Clobbers r16.
do_spm:
  out SPMCSR_, r16
  spm
1:
  rcall poll
  in r16, SPMCSR_
  sbrc r16, SPMEN
  rjmp 1b
  ret

; Takes a byte that has arrived into the ring. Leaves UCSRA in r17, and Z set when the ring is
; empty. Clobbers r0.
poll:
  UIN r17, UCSRA_
  sbrs r17, RXC
  rjmp 2f
  UIN r0, UDR_
  st Y+, r0
  andi r29, hi8(RING_END - 1)
  ori r29, hi8(RING)
2:
  cp r2, r28
  cpc r3, r29
  ret

; r16 to the line once the UART has room (it holds one byte besides the one going
; out). Keeps polling.
putc:
  rcall poll
  sbrs r17, UDRE
  rjmp putc
  UOUT UDR_, r16
  ret

; The text at Z (its low byte given: the texts share the first block) to the line.
send_text:
  ldi r31, hi8(identification)
1:
  lpm r16, Z+
  tst r16
  breq 2f
  rcall putc
  rjmp 1b
2:
  ret

; ~CRC at X on, low byte first, then a new CRC.
crc_store:
  ldi r17, 4
1:
  com r8
  st X+, r8
  mov r8, r9
  mov r9, r10
  mov r10, r11
  dec r17
  brne 1b
; CRC-32 in r8-r11, a bit at a time; crc_byte takes r16 in, and serves the line
; first, so that a long check loses nothing. Clobbers r17, r23.
crc_start:
  ser r16
  mov r8, r16
  mov r9, r16
  movw r10, r8
  ret
crc_byte:
  rcall poll
  eor r8, r16
  ldi r17, 8
1:
  lsr r11
  ror r10
  ror r9
  ror r8
  brcc 2f
  ldi r23, 0x20
  eor r8, r23
  ldi r23, 0x83
  eor r9, r23
  ldi r23, 0xB8
  eor r10, r23
  ldi r23, 0xED
  eor r11, r23
2:
  dec r17
  brne 1b
  ret

; r16 = the byte at Z, of flash (T clear) or EEPROM (T set); Z advances and wraps
; at the end, as the chip's own address bits do.
read_byte:
  brts ee_read
  andi r31, hi8(FLASH_BYTES - 1)
  lpm r16, Z+
  ret
; r16 = the EEPROM byte at Z, once any write has ended; Z advances, wrapping at the
; EEPROM's end.
ee_read:
  rcall poll
  sbic EECR_, EEPE
  rjmp ee_read
  andi r31, hi8(EEPROM_BYTES - 1)
  out EEARH_, r31
  out EEARL_, r30
  sbi EECR_, EERE
  in r16, EEDR_
  adiw r30, 1
  ret

count_a1:
  mov r25, r18
  dec r25
  andi r25, 0x7F
  inc r25
  movw r30, r6
  rjmp buffer
