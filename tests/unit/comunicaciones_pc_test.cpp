// USB console writers: line breaks, messages and fixed-width numbers.
#include <cstdio>
#include <string>

#include "comunicaciones_pc.h"
#include "support/firmware_fixture.h"

namespace {

class ComunicacionesPcTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        (void)usb();
    }
};

std::string terminator(uint8_t code) {
    if (code == 0) {
        return "";
    }
    if (code == 1) {
        return "\r\n";
    }
    return std::string(1, static_cast<char>(code));
}

TEST_F(ComunicacionesPcTest, LineaWritesCrLf) {
    linea();
    EXPECT_EQ("\r\n", usb());
}

TEST_F(ComunicacionesPcTest, EscriboMensajeEndsWithLineOrSpace) {
    const struct {
        uint8_t with_line;
        const char* text;
        const char* expected;
    } cases[] = {
        {0, "Reset AIS", "Reset AIS "},
        {1, "Reset AIS", "Reset AIS\r\n"},
        {2, "x", "x "},
        {1, "", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        escribo_mensaje(c.with_line, c.text);
        EXPECT_EQ(c.expected, usb());
    }
}

struct NumberCase {
    uint32_t value;
    uint8_t digits;
    uint8_t end;
};

// Leading zeros are written and a wider value is not cut: what printf's
// zero-padded width gives.
TEST_F(ComunicacionesPcTest, TransmitoVariableWritesDecimalDigits) {
    const NumberCase cases[] = {
        {5, 2, ':'},          {0, 3, 1},  {123, 2, 0},   {7, 1, ','},
        {4294967295u, 10, 0}, {59, 2, 1}, {100, 3, ' '}, {1, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " in " << int(c.digits));
        transmito_variable(c.value, c.digits, c.end);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0*u", c.digits, static_cast<unsigned>(c.value));
        EXPECT_EQ(expected + terminator(c.end), usb());
    }
}

TEST_F(ComunicacionesPcTest, TransmitoVariableHexWritesUpperCaseDigits) {
    const NumberCase cases[] = {
        {0x0C, 2, 1}, {0xAB, 4, 0}, {0x1234, 2, 0}, {0xFFFFFFFFu, 8, ','}, {0xF, 1, 0}, {0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value << " in " << int(c.digits));
        transmito_variable_hex(c.value, c.digits, c.end);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0*X", c.digits, static_cast<unsigned>(c.value));
        EXPECT_EQ(expected + terminator(c.end), usb());
    }
}

}  // namespace
