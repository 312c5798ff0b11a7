// The storage driver's state behind SdFat.h's small handles: the started
// card, the mounted FAT volume and the table of files open for writing. One
// card slot, one volume. Everything here goes at each power-up.
//
// A library call does its card traffic first and charges the time of it when
// it returns, so that an event (a power cut, a card pulled) lands between
// calls, never inside a sync half written.
#pragma once

#include <SdFat.h>

#include <cstdint>

#include "host/machine.h"

namespace host {
namespace internal {
namespace sd {

constexpr uint32_t kBlock = 512;

// Error codes left in SdSpiCard::errorCode(); errorData() holds the block
// or the first block of the range.
enum Error : uint8_t {
    kErrorNone = 0,
    kErrorNoCard = 0x01,      // no answer to the reset command at begin
    kErrorNotStarted = 0x02,  // an operation before a successful begin
    kErrorRegister = 0x03,    // CID/CSD/OCR read failed
    kErrorRead = 0x04,        // block read failed or past the end
    kErrorWrite = 0x05,       // block write failed or past the end
    kErrorErase = 0x06,       // bad range or erase failed
    kErrorMultiWrite = 0x07,  // writeData/writeStop without writeStart
    kErrorCsd = 0x08,         // CSD structure the driver does not know
};

struct Card {
    SdCard* slot = nullptr;
    uint8_t epoch = 1;  // power-ups so far, never 0: handles of an earlier run mismatch
    bool started = false;
    uint8_t type = 0;
    uint32_t sck = 0;  // SPI clock in Hz
    uint8_t error = kErrorNone;
    uint32_t error_data = 0;
    bool multi_write = false;
    uint32_t multi_next = 0;
    Micros owed = 0;  // time of the current call's transfers, charged at its end
};

struct Volume {
    bool mounted = false;
    uint8_t fat_type = 0;  // 16 or 32
    uint32_t first = 0;    // its boot sector
    uint32_t blocks = 0;   // from its boot sector, within the partition
    uint8_t per_cluster = 0;
    uint32_t fat_start = 0;
    uint8_t fat_count = 0;
    uint8_t active_fat = 0xFF;  // FAT32 without mirroring: the only FAT used
    uint32_t fat_blocks = 0;
    uint32_t root_start = 0;  // FAT16: first block of the fixed root
    uint32_t root_blocks = 0;
    uint32_t root_cluster = 0;  // FAT32
    uint32_t data_start = 0;
    uint32_t clusters = 0;
    uint32_t fsinfo = 0;      // FAT32: its block, 0 when none is usable
    uint32_t free_count = 0;  // FSINFO's count kept up to date, or UINT32_MAX
    uint32_t next_free = 2;   // where the search for a free cluster starts
};

// A file open for writing.
struct OpenFile {
    bool used = false;
    uint8_t generation = 0;
    uint32_t last_use = 0;  // for giving the longest unused slot to a new open
    uint8_t flags = 0;
    uint32_t entry_block = 0;  // its directory entry
    uint16_t entry_index = 0;
    uint32_t first_cluster = 0;
    uint32_t size = 0;      // on the card
    uint32_t length = 0;    // with what is still buffered
    uint32_t position = 0;  // of the next write
    // The block under `position`, held until the position leaves it or sync.
    bool buffered = false;
    bool dirty = false;
    uint32_t buffer_offset = 0;  // file offset of its first byte
    uint8_t buffer[kBlock] = {};
    // Last cluster reached along the chain, to spare walking it again.
    uint32_t walk_index = 0;
    uint32_t walk_cluster = 0;
};

constexpr unsigned kMaxFiles = 8;
// Handles: 1..kMaxFiles*15 for files open for writing (slot and generation);
// these two for opens that keep no state (reading is not offered).
constexpr uint8_t kHandleReadFile = 0x81;
constexpr uint8_t kHandleDirectory = 0x82;

struct Driver {
    Card card;
    Volume volume;
    uint8_t volume_epoch = 0;  // FatVolume state of the mount; 0: none
    OpenFile files[kMaxFiles];
    uint32_t uses = 0;
    // The FAT block last read (the first FAT's copy, or the active one).
    bool fat_cached = false;
    uint32_t fat_cache_block = 0;
    uint8_t fat_cache[kBlock] = {};
};

Driver& driver();

// ---- Card (sdfat_card.cpp) -------------------------------------------------
// Block transfers of the library's own calls; they only add to the time owed.
bool card_ready();
bool read_block(uint32_t block, uint8_t* data);
bool write_block(uint32_t block, const uint8_t* data);
// Charges the time owed (may stop the firmware here: nothing may follow).
void settle();
void set_error(uint8_t code, uint32_t data);
// Blocks of a card by its CSD; 0 for a structure the driver does not know.
uint32_t csd_blocks(const uint8_t csd[16]);
// The started card's size by its CSD; 0 when it cannot be read.
uint32_t card_blocks();

// ---- Volume (fat_volume.cpp) -----------------------------------------------
bool mounted();
// A FAT entry; false when the cluster is out of range or the FAT unreadable.
bool fat_get(uint32_t cluster, uint32_t* value);
bool fat_set(uint32_t cluster, uint32_t value);
// The end-of-chain test and mark for the mounted type.
bool is_end(uint32_t value);
uint32_t end_mark();
bool valid_cluster(uint32_t cluster);
uint32_t cluster_block(uint32_t cluster);
// A free cluster, zeroed when `zero`, marked end of chain and linked after
// `previous` (0: none); 0 when the volume is full or the card fails.
uint32_t allocate_cluster(uint32_t previous, bool zero);
// Frees a chain; false on a damaged chain.
bool free_chain(uint32_t first);
// Writes inside the volume only, never its boot sector.
bool volume_write(uint32_t block, const uint8_t* data);
bool volume_read(uint32_t block, uint8_t* data);

// ---- Directories (fat_dir.cpp) ---------------------------------------------
struct Entry {
    uint32_t block = 0;  // where the 32-byte entry is; 0 for the root
    uint16_t index = 0;
    uint8_t attributes = 0;
    uint32_t first_cluster = 0;  // FAT32 root: its cluster; FAT16 root: 0
    uint32_t size = 0;
    bool root = false;
};
constexpr uint8_t kAttrReadOnly = 0x01;
constexpr uint8_t kAttrVolume = 0x08;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint8_t kAttrArchive = 0x20;
constexpr uint8_t kAttrLongName = 0x0F;

enum class Lookup { found, missing, missing_parent, bad_name, failed };
// Walks `path` from the root. `found`: `entry` is it. `missing`: only the last
// component is missing; `parent` is its directory and `name` its short name.
Lookup lookup(const char* path, Entry* entry, Entry* parent, uint8_t name[11],
              bool* trailing_slash);
// A new entry in `dir` named `name`; the entry written.
bool create_entry(const Entry& dir, const uint8_t name[11], uint8_t attributes,
                  uint32_t first_cluster, Entry* created);
// Rewrites size and first cluster of an entry.
bool update_entry(uint32_t block, uint16_t index, uint32_t first_cluster, uint32_t size);
// A directory named `name` in `parent`, with its dot entries.
bool make_directory(const Entry& parent, const uint8_t name[11], Entry* made);

}  // namespace sd
}  // namespace internal
}  // namespace host
