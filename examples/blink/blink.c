/* An LED blinker for the Arduino-style boards: the LED on PB5 blinks through a
 * pattern of on and off times kept in EEPROM, so the example has data for both
 * memories. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

static const uint8_t pattern[] EEMEM = {
    2, 2, 2, 2, 2, 2, 6, 6, 6, 6, 6, 6, 2, 2, 2, 2, 2, 2, 20, 20,
    'Z', 'a', 'r', 'v', 'i', 'k', ' ', 'b', 'l', 'i', 'n', 'k', ' ', 'd', 'e', 'm', 'o', 0,
};

static void wait_tenths(uint8_t tenths) {
    while (tenths--) _delay_ms(100);
}

int main(void) {
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
