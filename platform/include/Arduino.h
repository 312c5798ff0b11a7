// The board services the station firmware uses, in the Arduino spelling.
// Declarations only: the host platform (platform/host) and the target build
// (platform/target) each provide the definitions.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "WString.h"
#include "sam_registers.h"

// Pin modes and levels.
constexpr uint32_t INPUT = 0;
constexpr uint32_t OUTPUT = 1;
constexpr uint32_t INPUT_PULLUP = 2;
constexpr uint32_t INPUT_PULLDOWN = 3;
constexpr uint32_t INPUT_ANALOG = 4;  // pin switched to the analog-to-digital converter
constexpr uint32_t LOW = 0;
constexpr uint32_t HIGH = 1;

// Number bases of print().
constexpr int BIN = 2;
constexpr int OCT = 8;
constexpr int DEC = 10;
constexpr int HEX = 16;

// Sets the mode of a logical pin; an output starts at the level last written.
void pinMode(uint32_t pin, uint32_t mode);
// Drives an output pin (or sets the pull of an input, as on the chip).
void digitalWrite(uint32_t pin, uint32_t level);
// Level seen on a pin: the external level of an input (pull-up reads HIGH when
// nothing drives it), the driven level of an output.
int digitalRead(uint32_t pin);
// Sets the width of analogRead results (the station uses 12).
void analogReadResolution(int bits);
// One conversion of the pin's voltage against the 3.3 V reference.
int analogRead(uint32_t pin);

// Milliseconds since the station started (wraps after 49 days).
uint32_t millis();
// Microseconds since the station started.
uint32_t micros();
// Busy delay; the tick and other interrupts keep running.
void delay(uint32_t ms);
// Sleeps until the next interrupt.
void __WFI();

// Text and number output with the Arduino print semantics.
class Print {
  public:
    virtual ~Print() = default;
    virtual size_t write(uint8_t byte) = 0;
    virtual size_t write(const uint8_t* buffer, size_t size);
    size_t write(const char* text);

    size_t print(const char* text);
    size_t print(const String& text);
    size_t print(char c);
    size_t print(unsigned char value, int base = DEC);
    size_t print(int value, int base = DEC);
    size_t print(unsigned int value, int base = DEC);
    size_t print(long value, int base = DEC);
    size_t print(unsigned long value, int base = DEC);
    size_t print(double value, int decimals = 2);

    size_t println();
    size_t println(const char* text);
    size_t println(const String& text);
    size_t println(char c);
    size_t println(unsigned char value, int base = DEC);
    size_t println(int value, int base = DEC);
    size_t println(unsigned int value, int base = DEC);
    size_t println(long value, int base = DEC);
    size_t println(unsigned long value, int base = DEC);
    size_t println(double value, int decimals = 2);

  private:
    size_t print_number(uint32_t value, int base);
    size_t print_float(double value, int decimals);
};

// A byte stream that can also be read.
class Stream : public Print {
  public:
    // Bytes waiting in the receive buffer.
    virtual int available() = 0;
    // Next received byte, or -1 when none is waiting.
    virtual int read() = 0;
    using Print::write;
};

// One of the board's UARTs. The receive buffer holds 512 bytes; bytes that
// arrive while it is full are lost. Nothing moves while the port is closed.
class Uart : public Stream {
  public:
    explicit constexpr Uart(uint8_t port) : port_(port) {}
    void begin(uint32_t baud);
    void end();
    // Waits until every queued byte has left the transmitter.
    void flush();
    int available() override;
    int read() override;
    size_t write(uint8_t byte) override;
    size_t write(const uint8_t* buffer, size_t size) override;
    using Print::write;

  private:
    uint8_t port_;
};

// The USB CDC device port.
class USBSerial : public Stream {
  public:
    void begin(uint32_t baud);
    int available() override;
    int read() override;
    size_t write(uint8_t byte) override;
    size_t write(const uint8_t* buffer, size_t size) override;
    using Print::write;
};

extern Uart Serial0;  // AIS transponder channel
extern Uart Serial1;  // sensor channel 2
extern Uart Serial3;  // sensor channel 1
extern USBSerial SerialUSB;

// Entry points the platform's start-up calls: setup once, then loop for ever.
void setup();
void loop();
