// Directories: 8.3 short names (upper case on the card, compared without
// regard to case), paths from the root, new entries and new directories.
// Long-name entries are stepped over; names that do not fit 8.3 are refused.
#include <cstring>

#include "sdfat_internal.h"

namespace host {
namespace internal {
namespace sd {
namespace {

constexpr uint32_t kEntries = kBlock / 32;
// Entries carry a fixed date, 1 January 2000 00:00: the library has no clock.
constexpr uint16_t kDate = ((2000 - 1980) << 9) | (1 << 5) | 1;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint32_t le16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | (p[1] << 8));
}

bool short_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("$%'-_@~`!(){}^#&", c) != nullptr);
}

// One path component as an 11-byte short name, or false.
bool to_short_name(const char* text, size_t length, uint8_t name[11]) {
    std::memset(name, ' ', 11);
    size_t dot = length;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '.') {
            if (dot != length) {
                return false;
            }
            dot = i;
        }
    }
    const size_t base = dot;
    const size_t ext = dot == length ? 0 : length - dot - 1;
    if (base == 0 || base > 8 || ext > 3 || (dot != length && ext == 0)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (i == dot) {
            continue;
        }
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (!short_name_char(c)) {
            return false;
        }
        name[i < dot ? i : 8 + (i - dot - 1)] = static_cast<uint8_t>(c);
    }
    return true;
}

uint32_t entry_cluster(const uint8_t* e) {
    const uint32_t high = driver().volume.fat_type == 32 ? le16(e + 20) : 0;
    return (high << 16) | le16(e + 26);
}

void fill_entry(uint8_t* e, const uint8_t name[11], uint8_t attributes, uint32_t cluster,
                uint32_t size) {
    std::memset(e, 0, 32);
    std::memcpy(e, name, 11);
    e[11] = attributes;
    put16(e + 16, kDate);
    put16(e + 18, kDate);
    put16(e + 20, cluster >> 16);
    put16(e + 24, kDate);
    put16(e + 26, cluster);
    put32(e + 28, size);
}

Entry root_entry() {
    Entry root;
    root.root = true;
    root.attributes = kAttrDirectory;
    root.first_cluster = driver().volume.fat_type == 32 ? driver().volume.root_cluster : 0;
    return root;
}

enum class Visit { more, stop, failed };

// Calls `f(block, index, entry bytes)` for each slot of a directory in order
// until it returns true. `last_cluster` gets the chain's last cluster (0 for
// the fixed root), for growing it.
template <typename F>
Visit visit(const Entry& dir, uint8_t* data, uint32_t* last_cluster, F f) {
    const Volume& v = driver().volume;
    *last_cluster = 0;
    if (dir.root && v.fat_type == 16) {
        for (uint32_t b = 0; b < v.root_blocks; ++b) {
            if (!volume_read(v.root_start + b, data)) {
                return Visit::failed;
            }
            for (uint16_t i = 0; i < kEntries; ++i) {
                if (f(v.root_start + b, i, data + 32 * i)) {
                    return Visit::stop;
                }
            }
        }
        return Visit::more;
    }
    uint32_t cluster = dir.first_cluster;
    for (uint32_t steps = 0; valid_cluster(cluster) && steps <= v.clusters; ++steps) {
        *last_cluster = cluster;
        for (uint32_t b = 0; b < v.per_cluster; ++b) {
            const uint32_t block = cluster_block(cluster) + b;
            if (!volume_read(block, data)) {
                return Visit::failed;
            }
            for (uint16_t i = 0; i < kEntries; ++i) {
                if (f(block, i, data + 32 * i)) {
                    return Visit::stop;
                }
            }
        }
        uint32_t next = 0;
        if (!fat_get(cluster, &next)) {
            return Visit::failed;
        }
        if (is_end(next)) {
            return Visit::more;
        }
        cluster = next;
    }
    // A chain that leaves the volume or loops ends the directory here.
    return Visit::more;
}

// Looks up `name` in `dir`; `found` set when it is there.
bool find(const Entry& dir, const uint8_t name[11], Entry* found, bool* present) {
    uint8_t data[kBlock];
    uint32_t last = 0;
    *present = false;
    const Visit result = visit(dir, data, &last, [&](uint32_t block, uint16_t i, const uint8_t* e) {
        if (e[0] == 0x00) {
            return true;  // nothing past the end marker
        }
        if (e[0] == 0xE5 || e[11] == kAttrLongName || (e[11] & kAttrVolume) != 0) {
            return false;
        }
        uint8_t stored[11];
        std::memcpy(stored, e, 11);
        if (stored[0] == 0x05) {
            stored[0] = 0xE5;
        }
        if (std::memcmp(stored, name, 11) != 0) {
            return false;
        }
        found->block = block;
        found->index = i;
        found->attributes = e[11];
        found->first_cluster = entry_cluster(e);
        found->size = static_cast<uint32_t>(le16(e + 28) | (le16(e + 30) << 16));
        found->root = false;
        *present = true;
        return true;
    });
    return result != Visit::failed;
}

}  // namespace

Lookup lookup(const char* path, Entry* entry, Entry* parent, uint8_t name[11],
              bool* trailing_slash) {
    if (path == nullptr) {
        return Lookup::bad_name;
    }
    const size_t length = std::strlen(path);
    *trailing_slash = length > 0 && path[length - 1] == '/';
    Entry current = root_entry();
    size_t at = 0;
    while (true) {
        while (path[at] == '/') {
            ++at;
        }
        if (path[at] == '\0') {
            *entry = current;
            return Lookup::found;
        }
        size_t end = at;
        while (path[end] != '\0' && path[end] != '/') {
            ++end;
        }
        if (!to_short_name(path + at, end - at, name)) {
            return Lookup::bad_name;
        }
        size_t rest = end;
        while (path[rest] == '/') {
            ++rest;
        }
        const bool last = path[rest] == '\0';
        Entry next;
        bool present = false;
        if (!find(current, name, &next, &present)) {
            return Lookup::failed;
        }
        if (!present) {
            *parent = current;
            return last ? Lookup::missing : Lookup::missing_parent;
        }
        if (!last && (next.attributes & kAttrDirectory) == 0) {
            return Lookup::missing_parent;
        }
        current = next;
        at = end;
    }
}

bool create_entry(const Entry& dir, const uint8_t name[11], uint8_t attributes,
                  uint32_t first_cluster, Entry* created) {
    uint8_t data[kBlock];
    uint32_t last = 0;
    bool found = false;
    const Visit result = visit(dir, data, &last, [&](uint32_t block, uint16_t i, const uint8_t* e) {
        if (e[0] != 0x00 && e[0] != 0xE5) {
            return false;
        }
        created->block = block;
        created->index = i;
        found = true;
        return true;
    });
    if (result == Visit::failed) {
        return false;
    }
    if (!found) {
        // The fixed root cannot grow; a directory gets one more cluster.
        if (last == 0) {
            return false;
        }
        const uint32_t cluster = allocate_cluster(last, true);
        if (cluster == 0) {
            return false;
        }
        created->block = cluster_block(cluster);
        created->index = 0;
        std::memset(data, 0, kBlock);
    }
    fill_entry(data + 32 * created->index, name, attributes, first_cluster, 0);
    created->attributes = attributes;
    created->first_cluster = first_cluster;
    created->size = 0;
    created->root = false;
    return volume_write(created->block, data);
}

bool update_entry(uint32_t block, uint16_t index, uint32_t first_cluster, uint32_t size) {
    uint8_t data[kBlock];
    if (index >= kEntries || !volume_read(block, data)) {
        return false;
    }
    uint8_t* e = data + 32 * index;
    put16(e + 20, first_cluster >> 16);
    put16(e + 26, first_cluster);
    put32(e + 28, size);
    put16(e + 24, kDate);
    return volume_write(block, data);
}

bool make_directory(const Entry& parent, const uint8_t name[11], Entry* made) {
    const uint32_t cluster = allocate_cluster(0, true);
    if (cluster == 0) {
        return false;
    }
    uint8_t data[kBlock] = {};
    uint8_t dot[11];
    std::memset(dot, ' ', 11);
    dot[0] = '.';
    fill_entry(data, dot, kAttrDirectory, cluster, 0);
    dot[1] = '.';
    // ".." of a directory in the root names cluster 0, on FAT32 too.
    fill_entry(data + 32, dot, kAttrDirectory, parent.root ? 0 : parent.first_cluster, 0);
    if (!volume_write(cluster_block(cluster), data) ||
        !create_entry(parent, name, kAttrDirectory, cluster, made)) {
        free_chain(cluster);
        return false;
    }
    return true;
}

}  // namespace sd
}  // namespace internal
}  // namespace host
