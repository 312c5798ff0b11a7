// A station's card as ktr09-log finds it: a mounted card (its root, one day's
// directory or one hour's file), or an image of the card (a file, or the
// card's device on a PC). An image's FAT volume is found from its partition
// table, or taken from block 0 when the image is a volume itself, and read
// with mtools (mdir and mtype), so that no FAT code of our own reads a
// card that may be damaged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log_records.h"

namespace logtool {

// One hourly log file: "25_05_20/10_vdm.txt" holds the AIS records of
// 20 May 2025 from 10:00 UTC.
struct LogFile {
    std::string name;  // as shown to the user, from the card's root
    int64_t hour_start = 0;
    LogKind kind = LogKind::kAis;
};

// The hour a log file's names give ("25_05_20", "10_vdm.txt", either case),
// or nullopt when they are not a station's names.
std::optional<LogFile> log_file_of(const std::string& day, const std::string& file);

// Whether a file is in the day ("25_05_20") or hour ("25_05_20/10") given,
// in either case; every file is in "".
bool within(const LogFile& file, const std::string& part);

// Where the FAT volume of an image starts, in bytes: block 0 when it holds
// a FAT boot sector, else the first FAT partition of its partition table.
// `block0` is the image's first 512 bytes. Nullopt with the reason.
std::optional<uint64_t> volume_offset(const uint8_t* block0, uint64_t image_size,
                                      std::string* error);

class Card {
  public:
    // Nullopt with the reason when the path cannot be read as a card.
    static std::optional<Card> open(const std::string& path, std::string* error);

    // "station-state/sd_card.img (FAT volume at block 223)", "/media/card".
    const std::string& description() const { return description_; }
    // The station's log files in time order (each hour's AIS file first).
    const std::vector<LogFile>& files() const { return files_; }
    // A file's bytes; false with the reason.
    bool read(const LogFile& file, std::string* bytes, std::string* error) const;

  private:
    std::string path_;  // the image, or the directory the names start from
    bool image_ = false;
    uint64_t offset_ = 0;  // of the image's volume
    std::string description_;
    std::vector<LogFile> files_;

    bool list_image(std::string* error);
    void list_directory(const std::string& day_only);
};

}  // namespace logtool
