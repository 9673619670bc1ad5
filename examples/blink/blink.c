/* An LED blinker for the Arduino-style boards: the LED on PB5 blinks through a
 * pattern of on and off times kept in EEPROM, so the example has data for both
 * memories. At start it says the greeting kept in EEPROM on the UART (8N1 at BAUD),
 * so a terminal, or a test, sees that it runs. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

#ifndef BAUD
#define BAUD 115200UL
#endif

/* The ATmega8 names its one UART without the number. */
#ifdef UCSR0A
#define UCSRA_ UCSR0A
#define UCSRB_ UCSR0B
#define UBRRL_ UBRR0L
#define UBRRH_ UBRR0H
#define UDR_ UDR0
#define U2X_ U2X0
#define TXEN_ TXEN0
#define UDRE_ UDRE0
#else
#define UCSRA_ UCSRA
#define UCSRB_ UCSRB
#define UBRRL_ UBRRL
#define UBRRH_ UBRRH
#define UDR_ UDR
#define U2X_ U2X
#define TXEN_ TXEN
#define UDRE_ UDRE
#endif

static const uint8_t pattern[] EEMEM = {
    2, 2, 2, 2, 2, 2, 6, 6, 6, 6, 6, 6, 2, 2, 2, 2, 2, 2, 20, 20,
    'Z', 'a', 'r', 'v', 'i', 'k', ' ', 'b', 'l', 'i', 'n', 'k', ' ', 'd', 'e', 'm', 'o', 0,
};

static void wait_tenths(uint8_t tenths) {
    while (tenths--) _delay_ms(100);
}

static void say(uint8_t c) {
    while (!(UCSRA_ & _BV(UDRE_))) {
    }
    UDR_ = c;
}

static void greet(void) {
    const uint16_t ubrr = (uint16_t)((F_CPU + 4 * BAUD) / (8 * BAUD) - 1);
    UBRRH_ = (uint8_t)(ubrr >> 8);
    UBRRL_ = (uint8_t)ubrr;
    UCSRA_ = _BV(U2X_);
    UCSRB_ = _BV(TXEN_);
    for (const uint8_t* p = &pattern[20]; p < &pattern[sizeof pattern]; ++p) {
        const uint8_t c = eeprom_read_byte(p);
        if (c == 0) break;
        say(c);
    }
    say('\r');
    say('\n');
}

int main(void) {
    greet();
    DDRB |= _BV(DDB5);
    for (;;) {
        for (uint8_t i = 0; i < 20; i += 2) {
            PORTB |= _BV(PORTB5);
            wait_tenths(eeprom_read_byte(&pattern[i]));
            PORTB &= (uint8_t)~_BV(PORTB5);
            wait_tenths(eeprom_read_byte(&pattern[i + 1]));
        }
    }
}
