// The records of one hourly log file of a station's card, as the station
// writes them: a tag block "\s:<name>,c:<unix time>,t:L*hh\" and then an AIS
// sentence with its CR LF (the "_vdm" file), or a data block received over
// the air with CR LF (the "_tlk" file). What a sensor channel's device sends
// the station is logged as it came, without a tag block: a base station's
// blocks in the "_vdm" file, the frames of its data-link device in the
// "_tlk" file.
//
// The station syncs the tag block and the record separately, so a power cut
// can leave a tag block with nothing or half a sentence behind it, and the
// next start appends the next record right after it on the same line. Such a
// record, a bad checksum and bytes that belong to no record are marked, with
// their offset in the file, and the reading goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace logtool {

enum class LogKind : uint8_t { kAis, kTidelink };

enum class Damage : uint8_t {
    kNone,
    kBadTagChecksum,  // the tag block's checksum does not match its text
    kBadTag,          // a tag block without its checksum, or without a time
    kCut,             // the record stops before its line end (a power cut)
    kBadSentence,     // an AIS record whose sentence is not whole or fails its checksum
    kStray,           // bytes that are no record (zeros where a write never came)
};

// What a user is told about a damaged record.
const char* damage_text(Damage damage);

struct TagBlock {
    std::string station;  // s:
    int64_t utc = -1;     // c:, Unix seconds; -1 when there is none
    char source = 0;      // t: 'L' or 'R'
};

struct Record {
    uint64_t offset = 0;  // of its first byte in the file
    bool tagged = false;
    TagBlock tag;
    std::string_view body;  // what follows the tag block, without the line end
    Damage damage = Damage::kNone;
};

// Every record of a file, in file order. Empty lines are skipped (a data
// block's own line end leaves one). The views point into `bytes`.
std::vector<Record> split_records(std::string_view bytes, LogKind kind);

}  // namespace logtool
