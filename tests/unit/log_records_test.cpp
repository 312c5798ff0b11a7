// ktr09-log's reading of a card's files, from records as the station writes
// them (tag blocks and sentences taken from a card, checksums worked out by
// hand) and as a power cut or a bad card leaves them; the names of the log
// files, the partition table, user times, and the gaps and day rows of a
// summary.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/log_card.h"
#include "tools/log_records.h"
#include "tools/log_report.h"
#include "tools/log_time.h"
#include "tools/log_traffic.h"

namespace {

using logtool::Damage;
using logtool::LogKind;

const std::string kTag1 = "\\s:KTR09 SIMULADA,c:1747735230,t:L*79\\";
const std::string kTag2 = "\\s:KTR09 SIMULADA,c:1747735260,t:L*7C\\";
const std::string kAton = "!AIVDM,1,1,,A,E>jO`hS77a:4@84Ra@64ST:0000OdlMP<J>5000000g>80,4*3E";
const std::string kShip = "!AIVDM,1,1,,A,13Eev`001pOIUwPHjAp000000000,0*04";
const std::string kAbm = "!AIABM,1,1,0,235040000,0,6,>da8ADi<Ch,4*0C";

struct Expected {
    uint64_t offset;
    Damage damage;
    int64_t utc;
    std::string body;
};

TEST(LogRecords, SplitsWholeAndDamagedRecords) {
    const std::string cut = kTag1 + kShip.substr(0, 20);
    const struct {
        const char* what;
        LogKind kind;
        std::string bytes;
        std::vector<Expected> records;
    } cases[] = {
        {"two whole records",
         LogKind::kAis,
         kTag1 + kAton + "\r\n" + kTag2 + kShip + "\r\n",
         {{0, Damage::kNone, 1747735230, kAton},
          {kTag1.size() + kAton.size() + 2, Damage::kNone, 1747735260, kShip}}},
        {"a sentence cut by a power cut, the next record after it",
         LogKind::kAis,
         cut + kTag2 + kShip + "\r\n",
         {{0, Damage::kCut, 1747735230, kShip.substr(0, 20)},
          {cut.size(), Damage::kNone, 1747735260, kShip}}},
        {"a tag block whose sentence never came, at the end",
         LogKind::kAis,
         kTag1 + kAton + "\r\n" + kTag2,
         {{0, Damage::kNone, 1747735230, kAton},
          {kTag1.size() + kAton.size() + 2, Damage::kCut, 1747735260, ""}}},
        {"the last record without its line end",
         LogKind::kAis,
         kTag1 + kAton,
         {{0, Damage::kCut, 1747735230, kAton}}},
        {"a tag block checksum that fails",
         LogKind::kAis,
         "\\s:KTR09 SIMULADA,c:1747735230,t:L*78\\" + kAton + "\r\n",
         {{0, Damage::kBadTagChecksum, 1747735230, kAton}}},
        {"a tag block without a time",
         LogKind::kAis,
         "\\s:A,t:L*26\\" + kAton + "\r\n",
         {{0, Damage::kBadTag, -1, kAton}}},
        {"zeros before a record",
         LogKind::kAis,
         std::string(4, '\0') + kTag1 + kAton + "\r\n",
         {{0, Damage::kStray, -1, std::string(4, '\0')}, {4, Damage::kNone, 1747735230, kAton}}},
        {"a sentence whose checksum fails",
         LogKind::kAis,
         kTag1 + kShip.substr(0, kShip.size() - 1) + "5\r\n",
         {{0, Damage::kBadSentence, 1747735230, kShip.substr(0, kShip.size() - 1) + "5"}}},
        {"a comma in the station's name",
         LogKind::kAis,
         "\\s:KTR09, NORTE,c:1747735230,t:L*1D\\" + kShip + "\r\n",
         {{0, Damage::kNone, 1747735230, kShip}}},
        {"a device frame and a received block with its own line end",
         LogKind::kTidelink,
         "2,17,A,B,T$1 LEVEL 2.35*3A\r\n" + kTag1 + "2,17,A,B,T$1 LEVEL 2.35*3A\r\n\r\n",
         {{0, Damage::kNone, -1, "2,17,A,B,T$1 LEVEL 2.35*3A"},
          {28, Damage::kNone, 1747735230, "2,17,A,B,T$1 LEVEL 2.35*3A"}}},
        {"a base station's block, logged without a tag block",
         LogKind::kAis,
         kAbm + "\r\n" + kTag1 + kShip + "\r\n",
         {{0, Damage::kNone, -1, kAbm}, {kAbm.size() + 2, Damage::kNone, 1747735230, kShip}}},
        {"an empty file", LogKind::kAis, "", {}},
    };
    for (const auto& c : cases) {
        const std::vector<logtool::Record> records = logtool::split_records(c.bytes, c.kind);
        ASSERT_EQ(c.records.size(), records.size()) << c.what;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(c.records[i].offset, records[i].offset) << c.what << " " << i;
            EXPECT_EQ(c.records[i].damage, records[i].damage) << c.what << " " << i;
            EXPECT_EQ(c.records[i].utc, records[i].tag.utc) << c.what << " " << i;
            EXPECT_EQ(c.records[i].body, std::string(records[i].body)) << c.what << " " << i;
        }
    }
    EXPECT_EQ("KTR09, NORTE",
              logtool::split_records("\\s:KTR09, NORTE,c:1747735230,t:L*1D\\" + kShip + "\r\n",
                                     LogKind::kAis)[0]
                  .tag.station);
}

TEST(LogRecords, FileNamesTimesAndVolumes) {
    const struct {
        const char* day;
        const char* file;
        int64_t hour_start;  // -1: not a log file
        LogKind kind;
    } names[] = {
        {"25_05_20", "10_VDM.TXT", 1747735200, LogKind::kAis},
        {"24_02_29", "23_tlk.txt", 1709247600, LogKind::kTidelink},
        {"25_13_20", "10_vdm.txt", -1, LogKind::kAis},
        {"25_05_20", "24_vdm.txt", -1, LogKind::kAis},
        {"25_05_20", "10_vdm.txt.bak", -1, LogKind::kAis},
        {"2025_05_20", "10_vdm.txt", -1, LogKind::kAis},
    };
    for (const auto& n : names) {
        const std::optional<logtool::LogFile> file = logtool::log_file_of(n.day, n.file);
        EXPECT_EQ(n.hour_start, file ? file->hour_start : -1) << n.day << "/" << n.file;
        if (file) {
            EXPECT_EQ(n.kind, file->kind) << n.file;
        }
    }

    const struct {
        const char* text;
        int64_t utc;  // -1: refused
    } times[] = {
        {"2025-05-20", 1747699200},
        {"2025-05-20 10", 1747735200},
        {"2025-05-20T10:30", 1747737000},
        {"2025-05-20 10:30:15Z", 1747737015},
        {"1747735200", 1747735200},
        {"2025-05-20 24:00", -1},
        {"2025-13-01", -1},
        {"2025-05-20 10:", -1},
        {"20 May 2025", -1},
        {"", -1},
    };
    for (const auto& t : times) {
        EXPECT_EQ(t.utc, logtool::parse_utc(t.text).value_or(-1)) << t.text;
    }
    EXPECT_EQ("2024-02-29 23:59:59", logtool::format_utc(1709251199));

    // The station's card: a partition table, its volume at block 223. A
    // volume made on a PC without one: its boot sector in block 0.
    uint8_t table[512] = {};
    table[446 + 4] = 0x06;
    table[446 + 8] = 223;
    table[510] = 0x55;
    table[511] = 0xAA;
    uint8_t boot[512] = {0xEB, 0x3C, 0x90};
    boot[11] = 0x00;
    boot[12] = 0x02;  // 512 bytes a sector
    boot[13] = 4;     // per cluster
    boot[14] = 1;     // reserved
    boot[16] = 2;     // FATs
    boot[510] = 0x55;
    boot[511] = 0xAA;
    std::string error;
    EXPECT_EQ(223u * 512, logtool::volume_offset(table, 64 << 20, &error).value_or(1));
    EXPECT_EQ(0u, logtool::volume_offset(boot, 64 << 20, &error).value_or(1));
    EXPECT_FALSE(logtool::volume_offset(table, 223 * 512, &error)) << "past the image's end";
    table[446 + 4] = 0x83;  // not a FAT partition
    EXPECT_FALSE(logtool::volume_offset(table, 64 << 20, &error));
    EXPECT_NE(std::string::npos, error.find("no FAT volume"));
}

// Records across midnight and a silence: a row per day, the gaps between
// records and from the period's given ends.
TEST(LogRecords, GapsAndDayRows) {
    const auto tagged = [](int64_t utc, char checksum_high, char checksum_low) {
        return "\\s:KTR09 SIMULADA,c:" + std::to_string(utc) + ",t:L*" + checksum_high +
               checksum_low + "\\" + kShip + "\r\n";
    };
    // 2025-05-20 10:55:00 and 11:06:40 (a silence of 11 min 40 s), then
    // 2025-05-21 00:00:00.
    logtool::LogFile ten{"25_05_20/10_vdm.txt", 1747735200, LogKind::kAis};
    logtool::LogFile midnight{"25_05_21/00_vdm.txt", 1747785600, LogKind::kAis};
    const std::string before = tagged(1747738500, '7', '0');
    const std::string after = tagged(1747739200, '7', '6');
    ASSERT_EQ(logtool::Damage::kNone, logtool::split_records(before, LogKind::kAis)[0].damage);
    ASSERT_EQ(logtool::Damage::kNone, logtool::split_records(after, LogKind::kAis)[0].damage);

    logtool::TrafficLog open(INT64_MIN, INT64_MAX);
    open.add_file(ten, before + after);
    open.add_file(midnight, tagged(1747785600, '7', '5'));
    const std::vector<logtool::Gap> gaps = open.gaps(600);
    ASSERT_EQ(2u, gaps.size());
    EXPECT_EQ(1747738500, gaps[0].from);
    EXPECT_EQ(1747739200, gaps[0].to);
    EXPECT_EQ(1747785600, gaps[1].to);
    std::ostringstream summary;
    logtool::write_summary(summary, open, false, 20);
    EXPECT_NE(std::string::npos, summary.str().find("\n2025-05-20              2      1"))
        << summary.str();
    EXPECT_NE(std::string::npos, summary.str().find("\n2025-05-21              1      1"));

    // Asked from 10:00 to 12:00: nothing logged from 10:00 to 10:55 and
    // from 11:06:40 to 12:00 either; the record of the next day is left out.
    logtool::TrafficLog period(1747735200, 1747742400);
    EXPECT_FALSE(period.wanted(midnight));
    period.add_file(ten, before + after);
    const std::vector<logtool::Gap> edges = period.gaps(600);
    ASSERT_EQ(3u, edges.size());
    EXPECT_EQ(1747735200, edges[0].from);
    EXPECT_EQ(1747742400, edges[2].to);
}

}  // namespace
