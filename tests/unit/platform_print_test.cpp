// Print semantics as the station's Arduino core has them, with its 32-bit
// long: integer bases, signs, and floats with rounding and their limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include <Arduino.h>

#include "host/machine.h"

namespace {

class Capture : public Print {
  public:
    size_t write(uint8_t byte) override {
        text += static_cast<char>(byte);
        return 1;
    }
    std::string text;
};

// A sink that takes only a few bytes, as a full buffer would.
class Narrow : public Print {
  public:
    size_t write(uint8_t byte) override {
        if (text.size() >= 3) {
            return 0;
        }
        text += static_cast<char>(byte);
        return 1;
    }
    std::string text;
};

struct PrintCase {
    const char* expected;
    size_t (*print)(Print& out);
};

TEST(PrintTest, IntegersInEveryBase) {
    const PrintCase cases[] = {
        {"0", [](Print& p) { return p.print(0); }},
        {"12345", [](Print& p) { return p.print(12345); }},
        {"-42", [](Print& p) { return p.print(-42); }},
        {"-2147483648", [](Print& p) { return p.print(static_cast<long>(INT32_MIN)); }},
        {"2147483647", [](Print& p) { return p.print(static_cast<long>(INT32_MAX)); }},
        {"4294967295", [](Print& p) { return p.print(static_cast<unsigned long>(UINT32_MAX)); }},
        {"FF", [](Print& p) { return p.print(255, HEX); }},
        {"ABCDEF", [](Print& p) { return p.print(0xABCDEFu, HEX); }},
        {"101", [](Print& p) { return p.print(5, BIN); }},
        {"17", [](Print& p) { return p.print(15, OCT); }},
        {"FFFFFFFF", [](Print& p) { return p.print(-1, HEX); }},
        {"FFFFFFFE", [](Print& p) { return p.print(-2L, HEX); }},
        {"11111111111111111111111111111111", [](Print& p) { return p.print(-1, BIN); }},
        {"37777777777", [](Print& p) { return p.print(-1, OCT); }},
        {"200", [](Print& p) { return p.print(static_cast<unsigned char>(200)); }},
        {"C8", [](Print& p) { return p.print(static_cast<unsigned char>(200), HEX); }},
        {"4294967295", [](Print& p) { return p.print(4294967295u); }},
        {"A", [](Print& p) { return p.print('A'); }},
        {"text", [](Print& p) { return p.print("text"); }},
        {"fixed", [](Print& p) { return p.print(String("fixed")); }},
        {"", [](Print& p) { return p.print(static_cast<const char*>(nullptr)); }},
    };
    for (const PrintCase& c : cases) {
        Capture out;
        const size_t written = c.print(out);
        EXPECT_EQ(c.expected, out.text);
        EXPECT_EQ(out.text.size(), written) << c.expected;
    }
}

TEST(PrintTest, FloatsWithDecimalsRoundingAndLimits) {
    const PrintCase cases[] = {
        {"3.14", [](Print& p) { return p.print(3.14159); }},
        {"3.1416", [](Print& p) { return p.print(3.14159, 4); }},
        {"3", [](Print& p) { return p.print(2.5, 0); }},
        {"0.13", [](Print& p) { return p.print(0.125, 2); }},
        {"100.00", [](Print& p) { return p.print(99.999, 2); }},
        {"-1", [](Print& p) { return p.print(-0.5, 0); }},
        {"-12.50", [](Print& p) { return p.print(-12.5); }},
        {"0.00", [](Print& p) { return p.print(0.0); }},
        {"0.000", [](Print& p) { return p.print(1e-7, 3); }},
        {"12.5", [](Print& p) { return p.print(12.5, 1); }},
        // As on the chip: 1013.25 + 0.05 lands just below 1013.3 in binary.
        {"1013.2", [](Print& p) { return p.print(1013.25f, 1); }},
        {"4294967040", [](Print& p) { return p.print(4294967040.0, 0); }},
        {"nan", [](Print& p) { return p.print(std::nan("")); }},
        {"inf", [](Print& p) { return p.print(INFINITY); }},
        {"inf", [](Print& p) { return p.print(-INFINITY); }},
        {"ovf", [](Print& p) { return p.print(4294967041.0); }},
        {"ovf", [](Print& p) { return p.print(-5e9, 2); }},
    };
    for (const PrintCase& c : cases) {
        Capture out;
        const size_t written = c.print(out);
        EXPECT_EQ(c.expected, out.text);
        EXPECT_EQ(out.text.size(), written) << c.expected;
    }
}

TEST(PrintTest, PrintlnEndsWithCarriageReturnLineFeed) {
    const PrintCase cases[] = {
        {"\r\n", [](Print& p) { return p.println(); }},
        {"7\r\n", [](Print& p) { return p.println(7); }},
        {"-7\r\n", [](Print& p) { return p.println(-7L); }},
        {"1F\r\n", [](Print& p) { return p.println(31u, HEX); }},
        {"1.5\r\n", [](Print& p) { return p.println(1.5, 1); }},
        {"ok\r\n", [](Print& p) { return p.println("ok"); }},
        {"x\r\n", [](Print& p) { return p.println('x'); }},
        {"s\r\n", [](Print& p) { return p.println(String("s")); }},
    };
    for (const PrintCase& c : cases) {
        Capture out;
        const size_t written = c.print(out);
        EXPECT_EQ(c.expected, out.text);
        EXPECT_EQ(out.text.size(), written);
    }
}

TEST(PrintTest, WritingStopsAtTheFirstRefusedByte) {
    Narrow out;
    EXPECT_EQ(3u, out.print("abcdef"));
    EXPECT_EQ("abc", out.text);
}

TEST(PrintTest, UsbOutputIsCapturedAndHeardAsWritten) {
    host::reset_machine();
    std::string heard;
    host::on_usb_output([&](const uint8_t* data, size_t size) {
        heard.append(reinterpret_cast<const char*>(data), size);
    });
    SerialUSB.begin(115200);
    SerialUSB.print("T=");
    SerialUSB.println(21.456, 1);
    EXPECT_EQ("T=21.5\r\n", host::usb_take_output());
    EXPECT_EQ("", host::usb_take_output());
    EXPECT_EQ("T=21.5\r\n", heard);
}

}  // namespace
