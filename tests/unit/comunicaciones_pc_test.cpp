// USB console writers: line breaks, messages and fixed-width numbers.
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

// Leading zeros are written and a wider value is not cut; the end code adds
// nothing (0), a line break (1) or that character.
TEST_F(ComunicacionesPcTest, TransmitoVariableWritesDigitsAndItsEnd) {
    const struct {
        bool hex;
        uint32_t value;
        uint8_t digits;
        uint8_t end;
        const char* expected;
    } cases[] = {
        {false, 5, 2, ':', "05:"},
        {false, 0, 3, 1, "000\r\n"},
        {false, 123, 2, 0, "123"},
        {false, 7, 1, ',', "7,"},
        {false, 4294967295u, 10, 0, "4294967295"},
        {false, 100, 3, ' ', "100 "},
        {false, 1, 10, 0, "0000000001"},
        {true, 0x0C, 2, 1, "0C\r\n"},
        {true, 0xAB, 4, 0, "00AB"},
        {true, 0x1234, 2, 0, "1234"},
        {true, 0xFFFFFFFFu, 8, ',', "FFFFFFFF,"},
        {true, 0, 2, 0, "00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        (c.hex ? transmito_variable_hex : transmito_variable)(c.value, c.digits, c.end);
        EXPECT_EQ(c.expected, usb());
    }
}

}  // namespace
