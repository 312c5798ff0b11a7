// libFuzzer target over the storage library's FAT volume: a small card holding
// a sound FAT16 or FAT32 volume (whole card or partition 1, with a day
// directory and an hourly log file on it) gets patched with bytes from the
// input anywhere in its partition table, boot sector, FSINFO, FATs and
// directories. The library mounts it as the station does and runs the
// station's card calls on it: exists, mkdir with parents, open for append,
// write, sync, close, truncate, free cluster count. It must never crash and
// never write a block outside its volume, the boot sector and partition table
// included; the card traps any such write, its bounds read from the input's
// own bytes.
#include <SdFat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <Arduino.h>
#include <Wire.h>

#include "declaraciones.h"
#include "devices/mcp7940.h"
#include "gestion_sd.h"
#include "host/machine.h"
#include "main.h"

namespace {

constexpr uint32_t kCardBlocks = 262144;  // 128 MB, high capacity
constexpr uint32_t kPartitionStart = 8;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

using Block = std::array<uint8_t, 512>;

// The card's blocks live in a pool reused from input to input: only the
// blocks an input lays out, patches or writes are cleared after it, so a run
// costs what it touches, not the card's size.
class FuzzCard : public host::SdCard {
  public:
    // Blocks the library may write: [allowed_first, allowed_end).
    uint32_t allowed_first = 0;
    uint32_t allowed_end = 0;

    FuzzCard() : slots_(kCardBlocks, kNone) {}

    Block& at(uint32_t block) {
        if (block >= kCardBlocks) {
            // Past the card (a partition table's start): reads as blank.
            outside_.fill(0);
            return outside_;
        }
        uint32_t& slot = slots_[block];
        if (slot == kNone) {
            slot = static_cast<uint32_t>(used_.size());
            used_.push_back(block);
            if (pool_.size() < used_.size()) {
                pool_.emplace_back();
            }
            pool_[slot].fill(0);
        }
        return pool_[slot];
    }
    // Back to a blank card.
    void clear() {
        for (const uint32_t block : used_) {
            slots_[block] = kNone;
        }
        used_.clear();
        allowed_first = 0;
        allowed_end = 0;
    }
    bool present() override { return true; }
    bool start() override { return true; }
    bool version_2() override { return true; }
    bool high_capacity() override { return true; }
    uint32_t block_count() override { return kCardBlocks; }
    bool read_cid(uint8_t cid[16]) override {
        std::memset(cid, 0, 16);
        return true;
    }
    bool read_csd(uint8_t csd[16]) override {
        // Version 2: C_SIZE (bits 69:48) = blocks / 1024 - 1.
        std::memset(csd, 0, 16);
        csd[0] = 0x40;
        const uint32_t c_size = kCardBlocks / 1024 - 1;
        csd[7] = static_cast<uint8_t>(c_size >> 16);
        csd[8] = static_cast<uint8_t>(c_size >> 8);
        csd[9] = static_cast<uint8_t>(c_size);
        csd[10] = 0x40;  // single-block erase
        csd[15] = 1;
        return true;
    }
    bool read_ocr(uint32_t* ocr) override {
        *ocr = 0xC0FF8000;
        return true;
    }
    bool read_block(uint32_t block, uint8_t data[512]) override {
        if (block >= kCardBlocks) {
            return false;
        }
        const uint32_t slot = slots_[block];
        if (slot == kNone) {
            std::memset(data, 0, 512);
        } else {
            std::memcpy(data, pool_[slot].data(), 512);
        }
        return true;
    }
    bool write_block(uint32_t block, const uint8_t data[512]) override {
        check(block >= allowed_first && block < allowed_end);
        std::memcpy(at(block).data(), data, 512);
        return true;
    }
    bool erase(uint32_t, uint32_t) override {
        check(false);  // the volume code never erases
        return false;
    }

  private:
    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> slots_;  // per card block: its pool slot, or kNone
    std::deque<Block> pool_;       // stays put as it grows: at() hands out references
    std::vector<uint32_t> used_;   // card blocks holding a slot, by slot
    Block outside_{};
};

// A sound volume: FAT16 (4100 clusters) or FAT32 (65600 clusters), one block
// per cluster, with 24_05_17/13_vdm.txt of 600 bytes in two clusters.
void lay_out(FuzzCard& card, bool fat32, bool partitioned) {
    const uint32_t first = partitioned ? kPartitionStart : 0;
    const uint32_t clusters = fat32 ? 65600 : 4100;
    const uint32_t reserved = fat32 ? 32 : 1;
    const uint32_t fat_blocks = (clusters + 2) * (fat32 ? 4 : 2) / 512 + 1;
    const uint32_t root_blocks = fat32 ? 0 : 32;
    const uint32_t total = reserved + 2 * fat_blocks + root_blocks + clusters;
    const uint32_t data = first + reserved + 2 * fat_blocks + root_blocks;
    if (partitioned) {
        Block& mbr = card.at(0);
        uint8_t* entry = mbr.data() + 446;
        entry[4] = fat32 ? 0x0C : 0x06;
        put32(entry + 8, first);
        put32(entry + 12, total);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
    }
    Block& boot = card.at(first);
    boot[0] = 0xEB;
    boot[1] = 0x3C;
    boot[2] = 0x90;
    put16(&boot[11], 512);
    boot[13] = 1;
    put16(&boot[14], reserved);
    boot[16] = 2;
    put16(&boot[17], fat32 ? 0 : 512);
    put32(&boot[32], total);
    boot[21] = 0xF8;
    if (fat32) {
        put32(&boot[36], fat_blocks);
        put32(&boot[44], 2);
        put16(&boot[48], 1);
        put16(&boot[50], 6);
        Block& info = card.at(first + 1);
        put32(&info[0], 0x41615252);
        put32(&info[484], 0x61417272);
        put32(&info[488], clusters - 4);
        put32(&info[492], 6);
        put32(&info[508], 0xAA550000);
    } else {
        put16(&boot[22], fat_blocks);
    }
    boot[510] = 0x55;
    boot[511] = 0xAA;
    // Clusters: root (FAT32) 2, the day directory 3, the file 4 and 5.
    const uint32_t end = fat32 ? 0x0FFFFFFF : 0xFFFF;
    const uint32_t chain[][2] = {{0, fat32 ? 0x0FFFFFF8U : 0xFFF8U},
                                 {1, end},
                                 {2, fat32 ? end : 0U},
                                 {3, end},
                                 {4, 5},
                                 {5, end}};
    for (uint32_t copy = 0; copy < 2; ++copy) {
        Block& fat = card.at(first + reserved + copy * fat_blocks);
        for (const auto& link : chain) {
            if (fat32) {
                put32(&fat[link[0] * 4], link[1]);
            } else {
                put16(&fat[link[0] * 2], link[1]);
            }
        }
    }
    auto entry = [](uint8_t* e, const char* name, uint8_t attributes, uint32_t cluster,
                    uint32_t size) {
        std::memcpy(e, name, 11);
        e[11] = attributes;
        put16(e + 20, cluster >> 16);
        put16(e + 26, cluster);
        put32(e + 28, size);
    };
    const uint32_t root = fat32 ? data : first + reserved + 2 * fat_blocks;
    const uint32_t day = data + 1;
    entry(card.at(root).data(), "24_05_17   ", 0x10, 3, 0);
    entry(card.at(day).data(), ".          ", 0x10, 3, 0);
    entry(card.at(day).data() + 32, "..         ", 0x10, 0, 0);
    entry(card.at(day).data() + 64, "13_VDM  TXT", 0x20, 4, 600);
    card.at(data + 2).fill('a');
    card.at(data + 3).fill('b');
}

// The blocks a volume may write, from the input's own bytes: inside the
// partition (or the card) and the boot sector's total, past the boot sector.
void bound_writes(FuzzCard& card, uint8_t part) {
    uint32_t first = 0;
    uint64_t end = kCardBlocks;
    if (part == 1) {
        const Block& mbr = card.at(0);
        first = le32(&mbr[446 + 8]);
        end = static_cast<uint64_t>(first) + le32(&mbr[446 + 12]);
    }
    const Block& boot = card.at(first);
    const uint32_t total16 = static_cast<uint32_t>(boot[19] | boot[20] << 8);
    const uint64_t total = total16 != 0 ? total16 : le32(&boot[32]);
    end = std::min<uint64_t>({end, first + total, kCardBlocks});
    card.allowed_first = first + 1;
    card.allowed_end = static_cast<uint32_t>(end);
}

void append(SdFat& sd, const char* path, uint8_t oflag, size_t length, char fill) {
    File file = sd.open(path, oflag);
    if (!file.isOpen()) {
        return;
    }
    const std::string text(length, fill);
    file.write(text.data(), text.size());
    file.sync();
    file.write("\\s:STATION,c:0,t:R*00\\");
    file.println();
    file.close();
}

// The station's own card start-up and an hour's logging on the damaged card:
// the card report, the volume mount, the day directory and hour file, and a
// record behind its tag block.
void station_logging() {
    SerialUSB.begin(115200);
    setup_timerTC0(1, 48000);
    start_timerTC0();
    Wire.begin();
    // A running clock: each read succeeds at once, as on a sound station.
    sim::Mcp7940 clock;
    clock.set_time({24, 5, 17, 5, 13, 0, 0});
    host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
    ktr09.cano_utc = 24;
    ktr09.cmes_utc = 5;
    ktr09.cdia_utc = 17;
    ktr09.chora_utc = 13;
    inicializacion_dispositivo_sd();
    inicializacion_sd();
    if (stsd.ctarjeta_inicializada == 1) {
        creacion_nuevo_directorio();
        creacion_nuevo_fichero(CFICHERO_VDM);
        if (stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] == 2) {
            static const char kSentence[] = "!AIVDM,1,1,,A,15M67FC000G?ufbE`FepT@3n00Sa,0*5C\r\n";
            creacion_timestamp(1);
            inserto_timestamp_fichero(CFICHERO_VDM);
            inserto_registro_fichero(CFICHERO_VDM, reinterpret_cast<const uint8_t*>(kSentence),
                                     sizeof(kSentence) - 1);
        }
        cierre_ficheros_sd();
    }
    host::usb_take_output();
    host::attach_i2c_device(sim::Mcp7940::kAddress, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t layout = data[0];
    const uint8_t operations = data[1];
    // One card for the whole run, blank again for each input; the machine is
    // reset once, before the input, and the card stays attached after it.
    static FuzzCard card;
    card.clear();
    host::reset_machine();
    host::attach_sd_card(&card);
    const bool partitioned = (layout & 2) != 0;
    lay_out(card, (layout & 1) != 0, partitioned);
    // Patches: block (the first 65536 of the card), offset, length, bytes.
    for (size_t at = 2; at + 5 <= size;) {
        const uint32_t block = static_cast<uint32_t>(data[at] | data[at + 1] << 8);
        const uint32_t offset = static_cast<uint32_t>(data[at + 2] | data[at + 3] << 8) % 512;
        size_t length = data[at + 4];
        at += 5;
        length = std::min({length, size - at, static_cast<size_t>(512 - offset)});
        std::memcpy(card.at(block).data() + offset, data + at, length);
        at += length;
    }

    if ((operations & 0x80) != 0) {
        uint8_t part = 1;
        bound_writes(card, part);
        const uint32_t first = card.allowed_first;
        const uint32_t end = card.allowed_end;
        part = 0;
        bound_writes(card, part);
        // Either volume the station may mount bounds its writes.
        card.allowed_first = std::min(first, card.allowed_first);
        card.allowed_end = std::max(end, card.allowed_end);
        station_logging();
        return 0;
    }
    SdFat sd;
    check(sd.cardBegin(52, SD_SCK_MHZ(2)));
    uint8_t part = 1;
    bound_writes(card, part);
    if (!sd.vol()->init(sd.card(), part)) {
        part = 0;
        bound_writes(card, part);
        if (!sd.vol()->init(sd.card(), part)) {
            return 0;
        }
    }
    check(sd.vol()->fatType() == 16 || sd.vol()->fatType() == 32);
    File root;
    root.openRoot(sd.vol());
    if ((operations & 0x01) != 0) {
        sd.vol()->freeClusterCount();
    }
    sd.exists("/24_05_17/");
    sd.exists("24_05_17/13_vdm.txt");
    append(sd, "24_05_17/13_vdm.txt", O_WRITE | O_APPEND | O_CREAT, (operations & 0x02) ? 900 : 90,
           'x');
    if ((operations & 0x04) != 0) {
        sd.mkdir("24_05_18");
        append(sd, "24_05_18/00_tlk.txt", O_WRITE | O_APPEND | O_CREAT, 30, 't');
    }
    if ((operations & 0x08) != 0) {
        sd.mkdir("/a/b/c", true);
    }
    if ((operations & 0x10) != 0) {
        append(sd, "24_05_17/13_vdm.txt", O_WRITE | O_TRUNC, 10, 'z');
    }
    if ((operations & 0x20) != 0) {
        // Enough new entries to grow the day directory.
        for (int i = 0; i < 20; ++i) {
            const std::string name = "24_05_17/f" + std::to_string(i) + ".txt";
            append(sd, name.c_str(), O_WRITE | O_CREAT | O_EXCL, 1, 'f');
        }
    }
    if ((operations & 0x40) != 0) {
        sd.vol()->freeClusterCount();
    }
    return 0;
}
