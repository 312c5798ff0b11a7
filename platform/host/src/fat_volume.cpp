// The FAT16/FAT32 volume: the partition table, the boot sector with every
// value checked against the card before use, the FAT and its copies, cluster
// allocation and the FSINFO free count. FAT12 volumes are refused.
#include <SdFat.h>

#include <cstring>

#include "sdfat_internal.h"

namespace host {
namespace internal {
namespace sd {
namespace {

constexpr uint32_t kMinFat16Clusters = 4085;
constexpr uint32_t kMinFat32Clusters = 65525;
constexpr uint32_t kMaxFat32Clusters = 0x0FFFFFF5 - 2;
constexpr uint32_t kFat32Mask = 0x0FFFFFFF;
constexpr uint32_t kUnknown = 0xFFFFFFFF;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

bool signed_block(const uint8_t* b) {
    return b[510] == 0x55 && b[511] == 0xAA;
}

bool power_of_two(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// The volume's region on the card from the partition table, or the whole card.
bool volume_region(uint8_t part, uint32_t card, uint32_t* first, uint32_t* blocks) {
    if (part == 0) {
        *first = 0;
        *blocks = card;
        return true;
    }
    uint8_t mbr[kBlock];
    if (part > 4 || !read_block(0, mbr) || !signed_block(mbr)) {
        return false;
    }
    const uint8_t* entry = mbr + 446 + 16 * (part - 1);
    const uint32_t start = le32(entry + 8);
    const uint32_t size = le32(entry + 12);
    if ((entry[0] != 0 && entry[0] != 0x80) || entry[4] == 0 || start == 0 || size == 0 ||
        start >= card || size > card - start) {
        return false;
    }
    *first = start;
    *blocks = size;
    return true;
}

// The boot sector's geometry, refused unless every value fits the region.
bool read_boot_sector(uint32_t first, uint32_t region, Volume* v) {
    uint8_t boot[kBlock];
    if (!read_block(first, boot) || !signed_block(boot)) {
        return false;
    }
    const uint32_t per_cluster = boot[13];
    const uint32_t reserved = le16(boot + 14);
    const uint32_t fats = boot[16];
    const uint32_t root_entries = le16(boot + 17);
    const uint32_t total = le16(boot + 19) != 0 ? le16(boot + 19) : le32(boot + 32);
    const uint32_t fat16_size = le16(boot + 22);
    const uint32_t fat_size = fat16_size != 0 ? fat16_size : le32(boot + 36);
    if (le16(boot + 11) != kBlock || !power_of_two(per_cluster) || per_cluster > 128 ||
        reserved == 0 || fats == 0 || fats > 2 || total == 0 || total > region || fat_size == 0) {
        return false;
    }
    const uint64_t root_blocks = (root_entries * 32ULL + kBlock - 1) / kBlock;
    const uint64_t meta = reserved + static_cast<uint64_t>(fats) * fat_size + root_blocks;
    if (meta >= total) {
        return false;
    }
    const uint32_t clusters = static_cast<uint32_t>((total - meta) / per_cluster);
    if (clusters < kMinFat16Clusters) {
        return false;  // FAT12
    }
    v->fat_type = clusters < kMinFat32Clusters ? 16 : 32;
    const uint64_t fat_entries = static_cast<uint64_t>(fat_size) * kBlock / (v->fat_type / 8);
    if (fat_entries < clusters + 2ULL) {
        return false;
    }
    v->first = first;
    v->blocks = total;
    v->per_cluster = static_cast<uint8_t>(per_cluster);
    v->fat_start = first + reserved;
    v->fat_count = static_cast<uint8_t>(fats);
    v->fat_blocks = fat_size;
    v->root_start =
        static_cast<uint32_t>(first + reserved + static_cast<uint64_t>(fats) * fat_size);
    v->root_blocks = static_cast<uint32_t>(root_blocks);
    v->data_start = static_cast<uint32_t>(first + meta);
    v->clusters = clusters;
    v->fsinfo = 0;
    v->free_count = kUnknown;
    v->next_free = 2;
    if (v->fat_type == 16) {
        return fat16_size != 0 && root_entries != 0;
    }
    // FAT32: no fixed root, root cluster in range, FSINFO when it is sound.
    const uint16_t ext_flags = le16(boot + 40);
    if (fat16_size != 0 || root_entries != 0 || clusters > kMaxFat32Clusters) {
        return false;
    }
    if ((ext_flags & 0x80) != 0) {
        v->active_fat = ext_flags & 0x0F;
        if (v->active_fat >= fats) {
            return false;
        }
    }
    v->root_cluster = le32(boot + 44);
    if (v->root_cluster < 2 || v->root_cluster > clusters + 1) {
        return false;
    }
    const uint32_t fsinfo = le16(boot + 48);
    uint8_t info[kBlock];
    if (fsinfo != 0 && fsinfo < reserved && read_block(first + fsinfo, info) &&
        le32(info) == 0x41615252 && le32(info + 484) == 0x61417272 &&
        le32(info + 508) == 0xAA550000) {
        v->fsinfo = first + fsinfo;
        const uint32_t count = le32(info + 488);
        v->free_count = count <= clusters ? count : kUnknown;
        const uint32_t hint = le32(info + 492);
        v->next_free = hint >= 2 && hint <= clusters + 1 ? hint : 2;
    }
    return true;
}

// FAT copy `copy`'s block holding `cluster`'s entry, and the entry's offset.
uint32_t fat_block(uint32_t cluster, unsigned copy, uint32_t* offset) {
    const Volume& v = driver().volume;
    const uint32_t byte = cluster * (v.fat_type / 8);
    *offset = byte % kBlock;
    return v.fat_start + copy * v.fat_blocks + byte / kBlock;
}

bool read_fat_block(uint32_t block) {
    Driver& d = driver();
    if (d.fat_cached && d.fat_cache_block == block) {
        return true;
    }
    d.fat_cached = false;
    if (!read_block(block, d.fat_cache)) {
        return false;
    }
    d.fat_cached = true;
    d.fat_cache_block = block;
    return true;
}

unsigned first_fat() {
    const Volume& v = driver().volume;
    return v.active_fat != 0xFF ? v.active_fat : 0;
}

void write_fsinfo() {
    Volume& v = driver().volume;
    uint8_t info[kBlock];
    if (v.fsinfo == 0 || !read_block(v.fsinfo, info)) {
        return;
    }
    put32(info + 488, v.free_count);
    put32(info + 492, v.next_free);
    volume_write(v.fsinfo, info);
}

void count_change(int delta) {
    Volume& v = driver().volume;
    if (v.free_count == kUnknown) {
        return;
    }
    v.free_count = static_cast<uint32_t>(static_cast<int64_t>(v.free_count) + delta);
    if (v.free_count > v.clusters) {
        v.free_count = kUnknown;
    }
    write_fsinfo();
}

}  // namespace

bool mounted() {
    return driver().volume.mounted && card_ready();
}

bool valid_cluster(uint32_t cluster) {
    return cluster >= 2 && cluster <= driver().volume.clusters + 1;
}

bool is_end(uint32_t value) {
    return driver().volume.fat_type == 16 ? value >= 0xFFF8 : value >= 0x0FFFFFF8;
}

uint32_t end_mark() {
    return driver().volume.fat_type == 16 ? 0xFFFF : 0x0FFFFFFF;
}

uint32_t cluster_block(uint32_t cluster) {
    const Volume& v = driver().volume;
    return v.data_start + (cluster - 2) * v.per_cluster;
}

bool volume_read(uint32_t block, uint8_t* data) {
    const Volume& v = driver().volume;
    if (block < v.first || block - v.first >= v.blocks) {
        set_error(kErrorRead, block);
        return false;
    }
    return read_block(block, data);
}

bool volume_write(uint32_t block, const uint8_t* data) {
    Driver& d = driver();
    const Volume& v = d.volume;
    if (block <= v.first || block - v.first >= v.blocks) {
        set_error(kErrorWrite, block);
        return false;
    }
    if (d.fat_cached && d.fat_cache_block == block) {
        std::memcpy(d.fat_cache, data, kBlock);
    }
    return write_block(block, data);
}

bool fat_get(uint32_t cluster, uint32_t* value) {
    if (cluster > driver().volume.clusters + 1) {
        return false;
    }
    uint32_t offset = 0;
    if (!read_fat_block(fat_block(cluster, first_fat(), &offset))) {
        return false;
    }
    const uint8_t* p = driver().fat_cache + offset;
    *value = driver().volume.fat_type == 16 ? le16(p) : le32(p) & kFat32Mask;
    return true;
}

namespace {

// The free entries of the FAT, a block at a time: a FAT32 volume has 65 525
// entries at least, and looking each one up on its own costs a block check
// per entry.
bool count_free(uint32_t* free) {
    const Volume& v = driver().volume;
    const uint32_t size = v.fat_type / 8;
    const uint32_t last = v.clusters + 1;
    *free = 0;
    for (uint32_t cluster = 2; cluster <= last;) {
        uint32_t offset = 0;
        if (!read_fat_block(fat_block(cluster, first_fat(), &offset))) {
            return false;
        }
        const uint8_t* cache = driver().fat_cache;
        for (; offset < kBlock && cluster <= last; offset += size, ++cluster) {
            const uint32_t value =
                size == 2 ? le16(cache + offset) : le32(cache + offset) & kFat32Mask;
            *free += value == 0 ? 1 : 0;
        }
    }
    return true;
}

}  // namespace

bool fat_set(uint32_t cluster, uint32_t value) {
    const Volume& v = driver().volume;
    if (!valid_cluster(cluster)) {
        return false;
    }
    for (unsigned copy = 0; copy < v.fat_count; ++copy) {
        if (v.active_fat != 0xFF && copy != v.active_fat) {
            continue;
        }
        uint32_t offset = 0;
        const uint32_t block = fat_block(cluster, copy, &offset);
        if (!read_fat_block(block)) {
            return false;
        }
        uint8_t data[kBlock];
        std::memcpy(data, driver().fat_cache, kBlock);
        if (v.fat_type == 16) {
            data[offset] = static_cast<uint8_t>(value);
            data[offset + 1] = static_cast<uint8_t>(value >> 8);
        } else {
            put32(data + offset, (le32(data + offset) & ~kFat32Mask) | (value & kFat32Mask));
        }
        if (!volume_write(block, data)) {
            return false;
        }
    }
    return true;
}

uint32_t allocate_cluster(uint32_t previous, bool zero) {
    Volume& v = driver().volume;
    const uint32_t last = v.clusters + 1;
    uint32_t cluster = v.next_free;
    for (uint32_t tried = 0; tried < v.clusters; ++tried, ++cluster) {
        if (cluster > last || cluster < 2) {
            cluster = 2;
        }
        uint32_t value = 0;
        if (!fat_get(cluster, &value)) {
            return 0;
        }
        if (value != 0) {
            continue;
        }
        if (zero) {
            uint8_t blank[kBlock] = {};
            for (uint32_t i = 0; i < v.per_cluster; ++i) {
                if (!volume_write(cluster_block(cluster) + i, blank)) {
                    return 0;
                }
            }
        }
        // Marked before it is linked: a chain never points at a free cluster.
        if (!fat_set(cluster, end_mark()) || (previous != 0 && !fat_set(previous, cluster))) {
            return 0;
        }
        v.next_free = cluster + 1 > last ? 2 : cluster + 1;
        count_change(-1);
        return cluster;
    }
    return 0;
}

bool free_chain(uint32_t first) {
    uint32_t cluster = first;
    int freed = 0;
    for (uint32_t steps = 0; valid_cluster(cluster); ++steps) {
        uint32_t next = 0;
        if (steps > driver().volume.clusters || !fat_get(cluster, &next) || !fat_set(cluster, 0)) {
            count_change(-freed);
            return false;
        }
        ++freed;
        if (is_end(next)) {
            break;
        }
        cluster = next;
    }
    count_change(freed);
    return true;
}

}  // namespace sd
}  // namespace internal
}  // namespace host

using namespace host::internal::sd;
using host::internal::sd::driver;

namespace {

const Volume* mounted_as(uint8_t state) {
    const Driver& d = driver();
    return state != 0 && state == d.volume_epoch && d.volume.mounted ? &d.volume : nullptr;
}

}  // namespace

bool FatVolume::init(SdSpiCard* card, uint8_t part) {
    Driver& d = driver();
    state_ = 0;
    // A new mount closes whatever was open on the old one.
    d.volume = Volume{};
    d.fat_cached = false;
    for (OpenFile& file : d.files) {
        file.used = false;
    }
    d.volume_epoch = static_cast<uint8_t>(d.volume_epoch == 255 ? 1 : d.volume_epoch + 1);
    uint32_t first = 0;
    uint32_t blocks = 0;
    Volume v;
    const uint32_t size = card != nullptr && card->type() != 0 ? card_blocks() : 0;
    if (size == 0 || !volume_region(part, size, &first, &blocks) ||
        !read_boot_sector(first, blocks, &v)) {
        settle();
        return false;
    }
    v.mounted = true;
    d.volume = v;
    state_ = d.volume_epoch;
    settle();
    return true;
}

uint8_t FatVolume::fatType() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->fat_type : 0;
}

uint8_t FatVolume::blocksPerCluster() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->per_cluster : 0;
}

uint32_t FatVolume::clusterCount() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->clusters : 0;
}

int32_t FatVolume::freeClusterCount() {
    if (mounted_as(state_) == nullptr || !mounted()) {
        settle();
        return -1;
    }
    Volume& v = driver().volume;
    uint32_t free = 0;
    if (!count_free(&free)) {
        settle();
        return -1;
    }
    // The count on the card is put right, or kept from now on.
    if (v.fsinfo != 0 && v.free_count != free) {
        v.free_count = free;
        write_fsinfo();
    }
    settle();
    return static_cast<int32_t>(free);
}

uint32_t FatVolume::fatStartBlock() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->fat_start : 0;
}

uint8_t FatVolume::fatCount() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->fat_count : 0;
}

uint32_t FatVolume::blocksPerFat() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->fat_blocks : 0;
}

uint32_t FatVolume::rootDirStart() const {
    const Volume* v = mounted_as(state_);
    if (v == nullptr) {
        return 0;
    }
    return v->fat_type == 16 ? v->root_start : v->root_cluster;
}

uint32_t FatVolume::dataStartBlock() const {
    const Volume* v = mounted_as(state_);
    return v != nullptr ? v->data_start : 0;
}
