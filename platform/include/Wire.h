// The board's I2C bus in the Arduino Wire spelling.
#pragma once

#include <stddef.h>
#include <stdint.h>

class TwoWire {
  public:
    void begin();
    void end();
    // Starts collecting the bytes of a write to the 7-bit address.
    void beginTransmission(uint8_t address);
    // Queues one byte of the pending write; 1 if it fit in the 256-byte buffer.
    size_t write(uint8_t byte);
    // Sends the pending write: 0 done, 1 too long, 2 address not
    // acknowledged, 3 data not acknowledged, 4 other bus error.
    uint8_t endTransmission(bool stop = true);
    // Reads up to quantity bytes from the address; the number received
    // (0 when the address is not acknowledged).
    uint8_t requestFrom(uint8_t address, uint8_t quantity, bool stop = true);
    int available();
    // Next received byte, or -1.
    int read();
};

extern TwoWire Wire;
