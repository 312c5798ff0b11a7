// The card log's tag block and text limits, and the card report of a
// freshly formatted card.
#include <Wire.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "devices/mcp7940.h"
#include "devices/sd_card.h"
#include "gestion_sd.h"
#include "support/card_blocks.h"
#include "support/firmware_fixture.h"

namespace {

class CardLogTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
        clock.set_time({23, 1, 1, 7, 0, 0, 0});  // 1 January 2023 00:00:00 UTC
    }
    static std::string tag() { return std::string(stsd.ctimestamp, stsd.cbytes_name_file); }
    sim::Mcp7940 clock;
};

TEST_F(CardLogTest, TagBlockNamesTheStationAndTheTime) {
    std::memset(configuracion_ktr09.cnombre, 0, sizeof configuracion_ktr09.cnombre);
    std::memcpy(configuracion_ktr09.cnombre, "AB", 2);
    creacion_timestamp(1);
    // The checksum is the XOR of "s:AB,c:1672531200,t:L".
    EXPECT_EQ("\\s:AB,c:1672531200,t:L*16\\", tag());
    // A name that fills its 20 characters ends there.
    std::memcpy(configuracion_ktr09.cnombre, "ABCDEFGHIJKLMNOPQRST", 20);
    creacion_timestamp(0);
    EXPECT_EQ("\\s:ABCDEFGHIJKLMNOPQRST,c:1672531200,t:R*1F\\", tag());
}

TEST_F(CardLogTest, TextIsCutAt64BytesWithinItsBuffer) {
    stsd.snombre_fichero_dvm = "next field";
    stsd.cbytes_name_file = 0;
    inserto_mensaje_name_file(stsd.ctimestamp, std::string(70, 'x').c_str());
    EXPECT_EQ(64, stsd.cbytes_name_file);
    EXPECT_STREQ("next field", stsd.snombre_fichero_dvm.c_str());
}

// The card report of a freshly formatted card: the OCR, then the partition
// table with the boot flag and type in plain hexadecimal, as the MBR holds them.
TEST_F(CardLogTest, CardReportShowsThePartitionTable) {
    sim::SdCardModel card(sim::SdCardModel::Profile::sd2, 64);
    host::attach_sd_card(&card);
    formateo_sd();
    const std::vector<uint8_t> mbr = block_of(card, 0);
    usb();
    inicializacion_sd();
    const std::string out = usb();
    char first[64];
    std::snprintf(first, sizeof first, "1,%X,%X,%u,%u\r\n", mbr[0x1BE], mbr[0x1BE + 4],
                  le(mbr, 0x1BE + 8, 4), le(mbr, 0x1BE + 12, 4));
    EXPECT_TRUE(std::regex_search(out, std::regex(std::string("OCR: [0-9A-F]+\nSD Partition Table\n"
                                                              "part,boot,type,start,length\n") +
                                                  first + "2,0,0,0,0\r\n")))
        << out;
    host::attach_sd_card(nullptr);
}

}  // namespace
