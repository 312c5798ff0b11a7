// Files and paths: open (create, truncate, append), write through a one-block
// buffer, sync and close; exists and mkdir with parents; the error print.
//
// The card is consistent after every block that leaves the buffer: a new
// cluster is marked and linked, the data written, then the entry's size. So a
// power cut loses only the part of a block written since the last sync.
#include <Arduino.h>
#include <SdFat.h>

#include <algorithm>
#include <cstring>

#include "sdfat_internal.h"

using namespace host::internal::sd;
using host::internal::sd::driver;

namespace {

constexpr unsigned kGenerations = 15;  // keeps every handle below 0x80
constexpr size_t kMaxPath = 256;

OpenFile* open_file(uint8_t handle) {
    if (handle == 0 || handle > kMaxFiles * kGenerations) {
        return nullptr;
    }
    OpenFile& file = driver().files[(handle - 1) % kMaxFiles];
    const unsigned generation = (handle - 1) / kMaxFiles;
    return file.used && file.generation == generation ? &file : nullptr;
}

uint32_t cluster_bytes() {
    return driver().volume.per_cluster * kBlock;
}

// The file's cluster number `index` along its chain; with `grow` the chain
// gets the one cluster it may lack at its end.
bool cluster_at(OpenFile& f, uint32_t index, bool grow, uint32_t* cluster) {
    if (f.first_cluster == 0) {
        if (index != 0 || !grow) {
            return false;
        }
        f.first_cluster = allocate_cluster(0, false);
        f.walk_index = 0;
        f.walk_cluster = f.first_cluster;
        *cluster = f.first_cluster;
        return f.first_cluster != 0;
    }
    uint32_t at = 0;
    uint32_t current = f.first_cluster;
    if (f.walk_cluster != 0 && f.walk_index <= index) {
        at = f.walk_index;
        current = f.walk_cluster;
    }
    for (uint32_t steps = 0; at < index; ++steps, ++at) {
        uint32_t next = 0;
        if (!valid_cluster(current) || steps > driver().volume.clusters ||
            !fat_get(current, &next)) {
            return false;
        }
        if (is_end(next)) {
            if (!grow || at + 1 != index) {
                return false;
            }
            next = allocate_cluster(current, false);
        }
        if (!valid_cluster(next)) {
            return false;
        }
        current = next;
    }
    if (!valid_cluster(current)) {
        return false;
    }
    f.walk_index = index;
    f.walk_cluster = current;
    *cluster = current;
    return true;
}

bool block_at(OpenFile& f, uint32_t offset, bool grow, uint32_t* block) {
    uint32_t cluster = 0;
    if (!cluster_at(f, offset / cluster_bytes(), grow, &cluster)) {
        return false;
    }
    *block = cluster_block(cluster) + (offset % cluster_bytes()) / kBlock;
    return true;
}

// The buffered block to the card with the entry's size and first cluster.
bool flush(OpenFile& f) {
    if (!f.dirty) {
        return true;
    }
    uint32_t block = 0;
    if (!mounted() || !block_at(f, f.buffer_offset, true, &block) ||
        !volume_write(block, f.buffer)) {
        return false;
    }
    const uint32_t size = std::max(f.size, std::min(f.length, f.buffer_offset + kBlock));
    if (!update_entry(f.entry_block, f.entry_index, f.first_cluster, size)) {
        return false;
    }
    f.size = size;
    f.dirty = false;
    return true;
}

// Brings the block under the position into the buffer.
bool load(OpenFile& f) {
    const uint32_t offset = f.position - f.position % kBlock;
    if (f.buffered && f.buffer_offset == offset) {
        return true;
    }
    if (!flush(f)) {
        return false;
    }
    f.buffered = false;
    uint32_t block = 0;
    if (offset < f.size) {
        if (!block_at(f, offset, false, &block) || !volume_read(block, f.buffer)) {
            return false;
        }
    } else {
        std::memset(f.buffer, 0, kBlock);
    }
    f.buffered = true;
    f.buffer_offset = offset;
    return true;
}

template <typename T>
T done(T result) {
    settle();
    return result;
}

// Gives up a slot: what it buffered goes to the card, its handle goes stale.
void release(OpenFile& f) {
    flush(f);
    f.used = false;
    f.generation = static_cast<uint8_t>((f.generation + 1) % kGenerations);
}

bool open_for_writing(Entry entry, uint8_t oflag, uint8_t* handle) {
    Driver& d = driver();
    // A file opened again takes over its slot, so two handles never write
    // it at once; a File never closed loses its slot to new opens when all
    // are taken, as it costs nothing to leave one open elsewhere.
    OpenFile* slot = nullptr;
    for (OpenFile& f : d.files) {
        if (f.used && f.entry_block == entry.block && f.entry_index == entry.index) {
            release(f);
            entry.first_cluster = f.first_cluster;  // as its last flush left them
            entry.size = f.size;
            slot = &f;
            break;
        }
    }
    for (OpenFile& f : d.files) {
        if (slot == nullptr && !f.used) {
            slot = &f;
        }
    }
    if (slot == nullptr) {
        slot = &d.files[0];
        for (OpenFile& f : d.files) {
            slot = f.last_use < slot->last_use ? &f : slot;
        }
        release(*slot);
    }
    const uint8_t generation = slot->generation;
    *slot = OpenFile{};
    slot->generation = generation;
    slot->flags = oflag;
    slot->entry_block = entry.block;
    slot->entry_index = entry.index;
    slot->first_cluster = entry.first_cluster;
    slot->size = entry.size;
    // A size the chain cannot hold is cut to nothing rather than trusted.
    if (entry.first_cluster == 0 ? entry.size != 0 : !valid_cluster(entry.first_cluster)) {
        slot->first_cluster = 0;
        slot->size = 0;
        oflag |= O_TRUNC;
    }
    if ((oflag & O_TRUNC) != 0 && (entry.size != 0 || entry.first_cluster != 0)) {
        if (!update_entry(entry.block, entry.index, 0, 0)) {
            return false;
        }
        if (valid_cluster(slot->first_cluster)) {
            free_chain(slot->first_cluster);
        }
        slot->first_cluster = 0;
        slot->size = 0;
    }
    slot->length = slot->size;
    slot->position = (oflag & O_APPEND) != 0 ? slot->size : 0;
    slot->used = true;
    slot->last_use = ++d.uses;
    *handle = static_cast<uint8_t>(1 + (slot - d.files) + kMaxFiles * generation);
    return true;
}

}  // namespace

bool File::isDir() const {
    return handle_ == kHandleDirectory;
}

bool File::openRoot(FatVolume* vol) {
    if (isOpen() || vol == nullptr || vol->fatType() == 0) {
        return done(false);
    }
    handle_ = kHandleDirectory;
    return done(true);
}

bool File::open(const char* path, uint8_t oflag) {
    if (isOpen() || !mounted()) {
        return done(false);
    }
    Entry entry;
    Entry parent;
    uint8_t name[11];
    bool directory_wanted = false;
    const Lookup found = lookup(path, &entry, &parent, name, &directory_wanted);
    const bool writing = (oflag & O_WRITE) != 0;
    if (found == Lookup::found) {
        if ((entry.attributes & kAttrDirectory) != 0 || entry.root) {
            if (writing) {
                return done(false);
            }
            handle_ = kHandleDirectory;
            return done(true);
        }
        if (directory_wanted) {
            return done(false);
        }
        if (!writing) {
            handle_ = kHandleReadFile;
            return done(true);
        }
        if ((oflag & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL) ||
            (entry.attributes & kAttrReadOnly) != 0) {
            return done(false);
        }
        return done(open_for_writing(entry, oflag, &handle_));
    }
    if (found != Lookup::missing || !writing || (oflag & O_CREAT) == 0 || directory_wanted) {
        return done(false);
    }
    Entry created;
    if (!create_entry(parent, name, kAttrArchive, 0, &created)) {
        return done(false);
    }
    return done(open_for_writing(created, oflag, &handle_));
}

size_t File::write(const void* buf, size_t count) {
    OpenFile* f = open_file(handle_);
    if (f == nullptr || (f->flags & O_WRITE) == 0 || !mounted() || buf == nullptr) {
        return done<size_t>(0);
    }
    f->last_use = ++driver().uses;
    const uint8_t* bytes = static_cast<const uint8_t*>(buf);
    if ((f->flags & O_APPEND) != 0) {
        f->position = f->length;
    }
    // A FAT file ends below 4 GiB.
    count = std::min<size_t>(count, UINT32_MAX - f->position);
    size_t written = 0;
    while (written < count) {
        if (!load(*f)) {
            break;
        }
        const uint32_t at = f->position % kBlock;
        const size_t chunk = std::min<size_t>(count - written, kBlock - at);
        std::memcpy(f->buffer + at, bytes + written, chunk);
        f->dirty = true;
        f->position += static_cast<uint32_t>(chunk);
        f->length = std::max(f->length, f->position);
        written += chunk;
    }
    return done(written);
}

size_t File::write(uint8_t b) {
    return write(&b, 1);
}

size_t File::write(const char* str) {
    return str == nullptr ? 0 : write(str, std::strlen(str));
}

size_t File::println() {
    return write("\r\n", 2);
}

bool File::sync() {
    if (handle_ == kHandleReadFile || handle_ == kHandleDirectory) {
        return done(true);
    }
    OpenFile* f = open_file(handle_);
    return done(f != nullptr && flush(*f));
}

bool File::close() {
    const uint8_t handle = handle_;
    handle_ = 0;
    if (handle == kHandleReadFile || handle == kHandleDirectory) {
        return done(true);
    }
    OpenFile* f = open_file(handle);
    if (f == nullptr) {
        return done(false);
    }
    const bool synced = flush(*f);
    release(*f);
    return done(synced);
}

bool SdFat::exists(const char* path) {
    if (vol_.fatType() == 0 || !mounted()) {
        return done(false);
    }
    Entry entry;
    Entry parent;
    uint8_t name[11];
    bool directory_wanted = false;
    const bool found = lookup(path, &entry, &parent, name, &directory_wanted) == Lookup::found;
    return done(found && (!directory_wanted || (entry.attributes & kAttrDirectory) != 0));
}

bool SdFat::mkdir(const char* path, bool pFlag) {
    if (vol_.fatType() == 0 || !mounted() || path == nullptr || std::strlen(path) >= kMaxPath) {
        return done(false);
    }
    // Each prefix that ends a component, parents first.
    char prefix[kMaxPath];
    const size_t length = std::strlen(path);
    bool named = false;  // the root itself is no directory to make
    for (size_t end = 1; end <= length; ++end) {
        const bool boundary = end == length || path[end] == '/';
        if (!boundary || path[end - 1] == '/') {
            continue;
        }
        named = true;
        std::memcpy(prefix, path, end);
        prefix[end] = '\0';
        const bool last = path[end + std::strspn(path + end, "/")] == '\0';
        Entry entry;
        Entry parent;
        uint8_t name[11];
        bool slash = false;
        const Lookup found = lookup(prefix, &entry, &parent, name, &slash);
        if (found == Lookup::found) {
            if (last || (entry.attributes & kAttrDirectory) == 0) {
                return done(false);
            }
            continue;
        }
        Entry made;
        if (found != Lookup::missing || (!last && !pFlag) || !make_directory(parent, name, &made)) {
            return done(false);
        }
    }
    return done(named);
}

File SdFat::open(const char* path, uint8_t oflag) {
    File file;
    file.open(path, oflag);
    return file;
}

void SdFat::errorPrint(const char* msg) {
    SerialUSB.print("error: ");
    SerialUSB.println(msg);
    if (cardErrorCode() != 0) {
        SerialUSB.print("SD errorCode: 0X");
        SerialUSB.print(static_cast<unsigned int>(cardErrorCode()), HEX);
        SerialUSB.print(",0X");
        SerialUSB.println(static_cast<unsigned long>(cardErrorData()), HEX);
    }
}
