// The storage library's FAT volume against dosfstools and mtools: volumes
// made by mkfs.fat (FAT16 and FAT32, with and without a partition table) are
// mounted, written as the station's log tree, and then fsck.fat -n must find
// them clean and mtools must show exactly what was written; also after a
// power cut between syncs. Damaged boot sectors are refused without a write.
#include <SdFat.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "devices/sd_card.h"
#include "host/machine.h"
#include "support/fat_tools.h"
#include "support/state_dir.h"

namespace {

using sim::SdCardModel;

constexpr uint8_t kAppend = O_WRITE | O_APPEND | O_CREAT;

struct Layout {
    const char* description;
    uint32_t first;  // the volume's first block; 0: no partition table
    const char* mkfs;
    const char* type;
    uint8_t fat;
};

class FatInterop : public ::testing::TestWithParam<Layout> {
  protected:
    void SetUp() override {
        if (!fat_tools_installed()) {
            GTEST_SKIP() << "dosfstools, mtools or fdisk missing (scripts/install-deps)";
        }
        image_ = dir_.path() / "sd_card.img";
        ASSERT_TRUE(make_fat_image(image_, 64, GetParam().first, GetParam().mkfs, GetParam().type));
        mount();
    }
    void TearDown() override { host::reset_machine(); }

    // The card as after a restart: a new driver state over the same blocks,
    // partition 1 first and then the whole card, as the station mounts it.
    void mount() {
        host::reset_machine();
        card_ = std::make_unique<SdCardModel>(SdCardModel::Profile::sd2, 64, image_.string());
        ASSERT_EQ(card_->load_error(), "");
        host::attach_sd_card(card_.get());
        sd_ = SdFat();
        ASSERT_TRUE(sd_.cardBegin(52, SD_SCK_MHZ(2)));
        ASSERT_TRUE(sd_.vol()->init(sd_.card(), 1) || sd_.vol()->init(sd_.card(), 0));
        ASSERT_EQ(sd_.vol()->fatType(), GetParam().fat);
    }
    // Appends records to a file the way the station logs: tag, sync, body, sync.
    std::string log(const char* path, int first, int count) {
        File file = sd_.open(path, kAppend);
        EXPECT_TRUE(file.isOpen()) << path;
        std::string written;
        for (int i = first; i < first + count; ++i) {
            const std::string tag = "\\s:STATION,c:" + std::to_string(1715950800 + i) + ",t:R*5A\\";
            const std::string body =
                "!AIVDM,1,1,,A,13u?etPv2;0n:dDPwUM1U1Cb069D," + std::to_string(i % 10) + "*24\r\n";
            EXPECT_EQ(file.write(tag.data(), tag.size()), tag.size());
            EXPECT_TRUE(file.sync());
            EXPECT_EQ(file.write(body.data(), body.size()), body.size());
            EXPECT_TRUE(file.sync());
            written += tag + body;
        }
        EXPECT_TRUE(file.close());
        return written;
    }
    std::string shown(const std::string& path) {
        const ToolRun run = mtools("mtype", image_, GetParam().first, "'::" + path + "'");
        EXPECT_EQ(run.status, 0) << run.output;
        return run.output;
    }
    void expect_clean() {
        const ToolRun run = fsck_volume(image_, GetParam().first);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output.find("differ"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("wrong"), std::string::npos) << run.output;
        // "N files, used/total clusters": the library counts the same free clusters.
        std::smatch m;
        ASSERT_TRUE(std::regex_search(run.output, m, std::regex(R"((\d+)/(\d+) clusters)")))
            << run.output;
        const long used = std::stol(m[1]);
        const long total = std::stol(m[2]);
        EXPECT_EQ(sd_.vol()->clusterCount(), static_cast<uint32_t>(total));
        EXPECT_EQ(sd_.vol()->freeClusterCount(), total - used);
    }

    TemporaryStateDir dir_;
    std::filesystem::path image_;
    std::unique_ptr<SdCardModel> card_;
    SdFat sd_;
};

TEST_P(FatInterop, LogTreeIsWhatTheToolsSee) {
    ASSERT_TRUE(sd_.mkdir("24_05_17"));
    EXPECT_FALSE(sd_.mkdir("24_05_17")) << "it exists";
    EXPECT_TRUE(sd_.exists("/24_05_17/"));
    EXPECT_FALSE(sd_.exists("/24_05_18/"));
    std::string vdm = log("24_05_17/13_vdm.txt", 0, 30);
    // Opened again after a restart, the file goes on where it ended.
    mount();
    EXPECT_TRUE(sd_.exists("24_05_17/13_VDM.TXT")) << "names compare without case";
    File probe = sd_.open("/24_05_17/13_vdm.txt", O_READ);
    EXPECT_TRUE(probe.isOpen());
    EXPECT_FALSE(probe.isDir());
    File dir = sd_.open("/24_05_17/", O_READ);
    EXPECT_TRUE(dir.isDir());
    EXPECT_FALSE(sd_.open("/24_05_17/13_vdm.txt/", O_READ).isOpen());
    vdm += log("24_05_17/13_vdm.txt", 30, 30);
    const std::string tlk = log("24_05_17/13_tlk.txt", 0, 1);
    // Parents made on the way; a directory that outgrows its first cluster.
    ASSERT_TRUE(sd_.mkdir("/a/b/c"));
    EXPECT_FALSE(sd_.mkdir("/x/y", false)) << "no parents asked for";
    const std::string deep = log("a/b/c/deep.txt", 7, 1);
    ASSERT_TRUE(sd_.mkdir("many"));
    for (int i = 0; i < 70; ++i) {
        const std::string name = "many/f" + std::to_string(100 + i) + ".txt";
        File f = sd_.open(name.c_str(), kAppend);
        ASSERT_TRUE(f.isOpen()) << name;
        f.write(name.c_str());
        f.println();
        ASSERT_TRUE(f.close());
    }
    // Names beyond 8.3 and a file where a directory is wanted are refused.
    EXPECT_FALSE(sd_.open("24_05_17/toolongname.txt", kAppend).isOpen());
    EXPECT_FALSE(sd_.open("24_05_17/a.b.c", kAppend).isOpen());
    EXPECT_FALSE(sd_.mkdir("24_05_17/13_vdm.txt/sub"));
    EXPECT_FALSE(sd_.open("24_05_17", kAppend).isOpen()) << "a directory is not written";

    expect_clean();
    EXPECT_EQ(shown("/24_05_17/13_vdm.txt"), vdm);
    EXPECT_EQ(shown("/24_05_17/13_tlk.txt"), tlk);
    EXPECT_EQ(shown("/a/b/c/deep.txt"), deep);
    EXPECT_EQ(shown("/many/f169.txt"), "many/f169.txt\r\n");
    const ToolRun listing = mtools("mdir", image_, GetParam().first, "-b ::/many");
    EXPECT_EQ(std::count(listing.output.begin(), listing.output.end(), '\n'), 70) << listing.output;
    const ToolRun day = mtools("mdir", image_, GetParam().first, "::/24_05_17");
    EXPECT_TRUE(std::regex_search(
        day.output, std::regex("13_VDM +TXT +" + std::to_string(vdm.size()), std::regex::icase)))
        << day.output;
}

TEST_P(FatInterop, PowerCutBetweenSyncsLosesOnlyTheUnsyncedTail) {
    ASSERT_TRUE(sd_.mkdir("24_05_17"));
    const std::string synced = log("24_05_17/00_vdm.txt", 0, 12);
    File file = sd_.open("24_05_17/00_vdm.txt", kAppend);
    const std::string tag = "\\s:STATION,c:1715990000,t:R*11\\";
    ASSERT_EQ(file.write(tag.data(), tag.size()), tag.size());
    ASSERT_TRUE(file.sync());
    // A record cut short: what reached the card is a prefix of it (the
    // blocks it filled), and the rest of the volume is untouched.
    const std::string partial(700, 'x');
    ASSERT_EQ(file.write(partial.data(), partial.size()), partial.size());
    // The power goes: the driver's buffers and open files are gone.
    mount();
    expect_clean();
    const std::string after = shown("/24_05_17/00_vdm.txt");
    ASSERT_GE(after.size(), synced.size() + tag.size());
    EXPECT_EQ(after, (synced + tag + partial).substr(0, after.size()));
    EXPECT_LT(after.size(), synced.size() + tag.size() + partial.size());
    // A cut with the record within one block loses just that record.
    File again = sd_.open("24_05_17/00_vdm.txt", kAppend);
    ASSERT_EQ(again.write("\\s:TAIL*00\\", 11), 11u);
    mount();
    expect_clean();
    EXPECT_EQ(shown("/24_05_17/00_vdm.txt"), after);
    // Logging goes on after the cut.
    const std::string more = log("24_05_17/00_vdm.txt", 40, 3);
    expect_clean();
    EXPECT_EQ(shown("/24_05_17/00_vdm.txt"), after + more);
}

TEST_P(FatInterop, TwoHourlyFilesGrowingTogetherForDays) {
    // The station's pattern: both files of the hour open, records alternating,
    // so their clusters interleave; both closed at the hour's end.
    std::map<std::string, std::string> expected;
    for (int day = 17; day < 20; ++day) {
        const std::string dir = "24_05_" + std::to_string(day);
        ASSERT_TRUE(sd_.mkdir(dir.c_str()));
        for (int hour = 0; hour < 24; ++hour) {
            const std::string hh = (hour < 10 ? "0" : "") + std::to_string(hour);
            const std::string vdm = dir + "/" + hh + "_vdm.txt";
            const std::string tlk = dir + "/" + hh + "_tlk.txt";
            File a = sd_.open(vdm.c_str(), kAppend);
            File b = sd_.open(tlk.c_str(), kAppend);
            ASSERT_TRUE(a.isOpen() && b.isOpen()) << vdm;
            for (int i = 0; i < 12 + hour; ++i) {
                const std::string ra =
                    "\\s:S,c:" + std::to_string(i) + "*00\\!AIVDM,1,1,,B,x,0*00\r\n";
                const std::string rb = "\\s:S,c:" + std::to_string(i) + "*00\\$TIDE," + hh + "\r\n";
                a.write(ra.data(), ra.size());
                a.sync();
                b.write(rb.data(), rb.size());
                b.sync();
                expected[vdm] += ra;
                expected[tlk] += rb;
            }
            ASSERT_TRUE(a.close());
            ASSERT_TRUE(b.close());
        }
    }
    expect_clean();
    for (const char* path :
         {"/24_05_17/00_vdm.txt", "/24_05_18/13_tlk.txt", "/24_05_19/23_vdm.txt"}) {
        EXPECT_EQ(shown(path), expected[path + 1]) << path;
    }
}

TEST_P(FatInterop, AFileOpenedAgainOrNeverClosedKeepsTheVolumeSound) {
    ASSERT_TRUE(sd_.mkdir("24_05_17"));
    File first = sd_.open("24_05_17/13_vdm.txt", kAppend);
    ASSERT_EQ(first.write("one,"), 4u);
    // Opened again without a close: the new handle goes on after what the
    // first one wrote, and the first one writes no more.
    File second = sd_.open("24_05_17/13_vdm.txt", kAppend);
    ASSERT_EQ(second.write("two,"), 4u);
    EXPECT_EQ(first.write("lost,"), 0u);
    EXPECT_FALSE(first.sync());
    ASSERT_TRUE(second.sync());
    // Files left open hour after hour never run the library out of files.
    for (int hour = 0; hour < 30; ++hour) {
        const std::string path = "24_05_17/h" + std::to_string(hour) + ".txt";
        File leaked = sd_.open(path.c_str(), kAppend);
        ASSERT_TRUE(leaked.isOpen()) << path;
        leaked.write("x\r\n");
        leaked.sync();
    }
    expect_clean();
    EXPECT_EQ(shown("/24_05_17/13_vdm.txt"), "one,two,");
    EXPECT_EQ(shown("/24_05_17/h0.txt"), "x\r\n");
}

INSTANTIATE_TEST_SUITE_P(Layouts, FatInterop,
                         ::testing::Values(Layout{"Fat16WholeCard", 0, "-F 16 -s 4", "0e", 16},
                                           Layout{"Fat16Partition", 2048, "-F 16 -s 2", "06", 16},
                                           Layout{"Fat32WholeCard", 0, "-F 32 -s 1", "0c", 32},
                                           Layout{"Fat32Partition", 8192, "-F 32 -s 1", "0c", 32}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return info.param.description;
                         });

// ---- Damaged volumes ------------------------------------------------------

struct Damage {
    const char* description;
    const char* mkfs;
    uint32_t offset;  // byte in the boot sector (block 0 of a whole-card volume)
    std::vector<uint8_t> bytes;
};

class RefusedVolume : public ::testing::TestWithParam<Damage> {};

TEST_P(RefusedVolume, MountsNothingAndWritesNothing) {
    if (!fat_tools_installed()) {
        GTEST_SKIP() << "dosfstools missing (scripts/install-deps)";
    }
    const TemporaryStateDir dir;
    const std::filesystem::path image = dir.path() / "sd_card.img";
    ASSERT_TRUE(make_fat_image(image, 64, 0, GetParam().mkfs));
    {
        std::fstream patch(image, std::ios::in | std::ios::out | std::ios::binary);
        patch.seekp(GetParam().offset);
        patch.write(reinterpret_cast<const char*>(GetParam().bytes.data()),
                    static_cast<std::streamsize>(GetParam().bytes.size()));
    }
    host::reset_machine();
    SdCardModel card(SdCardModel::Profile::sd2, 64, image.string());
    host::attach_sd_card(&card);
    SdFat sd;
    ASSERT_TRUE(sd.cardBegin(52, SD_SCK_MHZ(2)));
    EXPECT_FALSE(sd.vol()->init(sd.card(), 0));
    EXPECT_FALSE(sd.vol()->init(sd.card(), 1));
    EXPECT_EQ(sd.vol()->fatType(), 0);
    EXPECT_FALSE(sd.mkdir("24_05_17"));
    EXPECT_FALSE(sd.open("x.txt", kAppend).isOpen());
    EXPECT_EQ(card.blocks_written(), 0u);
    host::reset_machine();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedVolume,
    ::testing::Values(Damage{"Fat12", "-F 12 -s 64", 0, {}},
                      Damage{"NoBootSignature", "-F 16", 510, {0x00, 0x00}},
                      Damage{"SectorOf1024Bytes", "-F 16", 11, {0x00, 0x04}},
                      Damage{"ThreeSectorsPerCluster", "-F 16", 13, {3}},
                      Damage{"NoFat", "-F 16", 16, {0}},
                      Damage{"NoReservedSector", "-F 16", 14, {0, 0}},
                      Damage{"MoreSectorsThanTheCard", "-F 32 -s 1", 32, {0x00, 0x00, 0x03, 0x00}},
                      Damage{"FatTooSmallForTheClusters", "-F 16", 22, {1, 0}},
                      Damage{"Fat32RootClusterOutside", "-F 32 -s 1", 44, {0xFF, 0xFF, 0xFF, 0x0F}},
                      Damage{"Fat32WithFixedRoot", "-F 32 -s 1", 17, {0x00, 0x02}}),
    [](const ::testing::TestParamInfo<Damage>& info) { return info.param.description; });

}  // namespace
