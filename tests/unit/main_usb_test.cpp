// USB port: PC frames from "@", console lines, the partial-frame timeout, and
// the CRC and frame check they rely on.
#include "support/firmware_fixture.h"

#include <algorithm>
#include <vector>

#include "procesado.h"
#include "support/pc_frame.h"
#include "test.h"

namespace {

const std::string kAck = with_crc({'@', 'J', 'W', 'K', 13, 2, 0, 0, 0, 0x10, 0});
// Its answer: "#JWK", length 13, command 2, sub-command 0, the address, result 0.
const std::string kReply = with_crc({'#', 'J', 'W', 'K', 13, 2, 0, 0, 0, 0x10, 0});

class UsbTest : public FirmwareTest {
  protected:
    static std::string pass(const std::string& bytes) {
        usb();
        host::usb_send(bytes);
        atencion_usb();
        return usb();
    }
    static std::string line() {
        return std::string(reinterpret_cast<const char*>(ktr09.cbuffer_rx),
                           std::min<size_t>(ktr09.cbytes_rx, sizeof ktr09.cbuffer_rx));
    }
};

TEST(Crc16, CheckValueAndEmptyInput) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x4B37, calculo_crc16(digits, sizeof digits));
    EXPECT_EQ(0xFFFF, calculo_crc16(digits, 0));
}

TEST(VerificarTrama, AcceptsOnlyAWholeFrameWithItsCrc) {
    struct Case {
        const char* name;
        std::string frame;
        uint8_t held;
        uint8_t result;
    };
    std::string swapped = kAck;
    std::swap(swapped[11], swapped[12]);
    std::string bad_header = kAck;
    bad_header[0] = '#';
    std::string padded = kAck + "xyz";
    std::string tiny = with_crc({'@', 'J', 'W', 'K', 1, 2, 0, 0, 0, 0x10, 0});
    tiny[4] = 1;  // a length that would put the CRC before the header
    const Case cases[] = {
        {"valid", kAck, 13, 1},
        {"CRC bytes swapped", swapped, 13, 0},
        {"wrong header", bad_header, 13, 0},
        {"stated length beyond the bytes held", kAck, 12, 0},
        {"bytes beyond the stated length are ignored", padded, 16, 1},
        {"stated length too short for a frame", tiny, 13, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buffer(c.frame.begin(), c.frame.end());
        EXPECT_EQ(c.result, verificar_trama(buffer.data(), c.held)) << c.name;
    }
}

TEST_F(UsbTest, AtSignStartsAFrameAndNeverReachesTheConsole) {
    EXPECT_EQ("@ inicio trama\r\n", pass("@"));
    EXPECT_EQ(1, iBytesRx);
    EXPECT_EQ('@', bufferRx[0]);
    EXPECT_EQ(0, ktr09.cbytes_rx);
}

TEST_F(UsbTest, FrameInBurstsIsCheckedOnceSixBytesAreHeld) {
    EXPECT_EQ("@ inicio trama\r\n", pass(kAck.substr(0, 4)));
    EXPECT_EQ("", pass(kAck.substr(4, 1)));
    EXPECT_EQ("Verificar Trama. Size=8\r\nTrama no correcta\r\n", pass(kAck.substr(5, 3)));
    EXPECT_EQ(8, iBytesRx) << "an incomplete frame is kept";
    EXPECT_EQ("Verificar Trama. Size=13\r\nAntes de procesar trama.\r\n" + kReply +
                  "Reset de contadores.\r\n",
              pass(kAck.substr(8)));
    EXPECT_EQ(0, iBytesRx);
}

TEST_F(UsbTest, PartialFrameIsDroppedAfterThreeSecondsOfSilence) {
    pass("@JW");
    spend(3000 * host::kMillisecond);
    EXPECT_EQ("", pass(""));
    spend(2 * host::kMillisecond);
    EXPECT_EQ("Timeout: Reset de contadores.\r\n", pass(""));
    EXPECT_EQ(0, iBytesRx);
    EXPECT_EQ(0, bufferRx[0]);
}

TEST_F(UsbTest, FullInvalidFrameIsDiscardedAndTheRestWaits) {
    const std::string junk = "@" + std::string(139, 'x') + "q";
    EXPECT_EQ("@ inicio trama\r\nVerificar Trama. Size=140\r\nTrama no correcta\r\n", pass(junk));
    EXPECT_EQ(0, iBytesRx);
    EXPECT_EQ(1, SerialUSB.available());
    EXPECT_EQ("Q", pass("")) << "the byte after a full frame is a console byte";
}

TEST_F(UsbTest, ConsoleEchoesAndEditsTheLine) {
    EXPECT_EQ("AX", pass("aX"));
    EXPECT_EQ("aX", line()) << "the stored line keeps the bytes as typed";
    EXPECT_EQ("\b", pass("\b"));
    EXPECT_EQ("a", line());
    pass("\b\b\b");
    EXPECT_EQ(0, ktr09.cbytes_rx);
}

// Each console line ends with the status print-out.
const std::string kStatusStart = "\r\n" + std::string(79, '*') + "\r\n";

TEST_F(UsbTest, CarriageReturnEndsTheLineAndDiscardsWhatWaits) {
    const std::string printed = pass("ok\rmore");
    EXPECT_EQ("OK\r\n" + kStatusStart, printed.substr(0, 4 + kStatusStart.size()));
    EXPECT_EQ(std::string::npos, printed.find("MORE"));
    EXPECT_EQ(0, ktr09.cbytes_rx);
    EXPECT_EQ(0, SerialUSB.available());
    EXPECT_EQ(0, memcmp(ktr09.cbuffer_rx, "ok\r", 3));
}

TEST_F(UsbTest, LongLineNeverLeavesItsBuffer) {
    const std::string typed(40, 'K');
    EXPECT_EQ(typed, pass(typed));
    EXPECT_EQ(std::string(32, 'K'), line());
    EXPECT_EQ(0u, pass("\r").rfind("\r\n" + kStatusStart, 0));
    EXPECT_EQ(0, ktr09.cbytes_rx);
}

// Backspaces past the 32nd character remove what the terminal removes: the
// dropped characters first, then the stored ones.
TEST_F(UsbTest, BackspaceAfterALongLineEditsWhatTheTerminalShows) {
    const std::string shown = std::string(30, 'a') + "bb";
    pass(shown + std::string(8, 'c'));
    pass(std::string(8, '\b'));
    EXPECT_EQ(shown, line());
    pass("\b\b");
    EXPECT_EQ(std::string(30, 'a'), line());
    pass("x");
    EXPECT_EQ(std::string(30, 'a') + "x", line());
    pass(std::string(300, 'z'));
    EXPECT_EQ(std::string(30, 'a') + "xz", line()) << "a long burst stays in the line";
}

TEST(TeclaPulsada, EchoRules) {
    struct Case {
        uint8_t upper;
        uint8_t typed;
        std::string echo;
    };
    const Case cases[] = {
        {1, 'a', "A"},     {0, 'a', "a"},     {1, 'Z', "Z"},   {1, '{', "["},
        {1, 0xD1, "\xA5"}, {0, 0xF1, "\xA5"}, {1, 13, "\r\n"}, {0, 13, "\r\n"},
        {1, 0x60, "\x60"}, {1, 0xE9, "\xC9"}, {0, 8, "\b"},
    };
    for (const Case& c : cases) {
        host::reset_machine();
        SerialUSB.begin(115200);
        extraccion_tecla_pulsada(c.upper, c.typed);
        EXPECT_EQ(c.echo, host::usb_take_output()) << int(c.upper) << " " << int(c.typed);
    }
}

TEST(Banner, VersionsBetweenAsteriskLines) {
    host::reset_machine();
    SerialUSB.begin(115200);
    mensaje_bienvenida();
    const std::string stars(69, '*');
    EXPECT_EQ("\r\n" + stars + "\r\n\t\tZPX\t\tKTR09\r\n\tHardware: 1.1\tFirmware: 03_0\r\n" +
                  stars + "\r\n\r\n",
              host::usb_take_output());
}

}  // namespace
