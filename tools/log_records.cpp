#include "log_records.h"

#include <cstdlib>

#include "codec/nmea.h"

namespace logtool {

const char* damage_text(Damage damage) {
    switch (damage) {
        case Damage::kNone:
            return "whole";
        case Damage::kBadTagChecksum:
            return "tag block checksum fails";
        case Damage::kBadTag:
            return "tag block without a checksum or a time";
        case Damage::kCut:
            return "record cut short (power cut while it was written)";
        case Damage::kBadSentence:
            return "sentence not whole or its checksum fails";
        case Damage::kStray:
            return "bytes that are no record";
    }
    return "?";
}

namespace {

enum class TagText { kOk, kNoChecksum, kNoTime };

// The text between a tag block's backslashes, "s:..,c:..,t:L*hh": its
// fields (a comma inside the station's name stays in the name) and whether
// the checksum matches.
TagText parse_tag(std::string_view text, TagBlock* tag, bool* checksum_ok) {
    const size_t star = text.rfind('*');
    if (star == std::string_view::npos || text.size() != star + 3) {
        return TagText::kNoChecksum;
    }
    const int high = codec::hex_digit(text[star + 1]);
    const int low = codec::hex_digit(text[star + 2]);
    if (high < 0 || low < 0) {
        return TagText::kNoChecksum;
    }
    const std::string_view fields = text.substr(0, star);
    *checksum_ok = codec::nmea_checksum(fields) == (high << 4 | low);
    std::string* last = nullptr;
    for (const std::string& field : codec::split_fields(fields)) {
        if (field.size() >= 2 && field[1] == ':' &&
            (field[0] == 's' || field[0] == 'c' || field[0] == 't')) {
            const std::string value = field.substr(2);
            last = nullptr;
            if (field[0] == 's') {
                tag->station = value;
                last = &tag->station;
            } else if (field[0] == 'c') {
                char* end = nullptr;
                const long long utc = std::strtoll(value.c_str(), &end, 10);
                tag->utc = !value.empty() && *end == '\0' && utc >= 0 ? utc : -1;
            } else if (value.size() == 1) {
                tag->source = value[0];
            }
        } else if (last != nullptr) {
            *last += "," + field;
        }
    }
    return tag->utc >= 0 ? TagText::kOk : TagText::kNoTime;
}

bool sentence_whole(std::string_view body) {
    return codec::parse_sentence(body).has_value();
}

// The records of one line (without its line end). `ended`: the line had its
// line end, so the last record on it is whole.
void split_line(std::string_view line, uint64_t at, bool ended, LogKind kind,
                std::vector<Record>* records) {
    size_t pos = 0;
    const size_t first_tag = line.find('\\');
    if (first_tag != 0) {
        // Text before any tag block: what a sensor channel's device sent,
        // logged as it came (a data-link frame, a base station's ABM), or
        // the zeros a card may hold where a write never came.
        const std::string_view text = line.substr(0, first_tag);
        Record record;
        record.offset = at;
        record.body = text;
        const bool block = text.find('\0') == std::string_view::npos;
        record.damage = !block                                          ? Damage::kStray
                        : !ended && first_tag == std::string_view::npos ? Damage::kCut
                                                                        : Damage::kNone;
        records->push_back(record);
        pos = text.size();
    }
    while (pos < line.size()) {
        Record record;
        record.offset = at + pos;
        record.tagged = true;
        const size_t close = line.find('\\', pos + 1);
        bool checksum_ok = false;
        const TagText text =
            close == std::string_view::npos
                ? TagText::kNoChecksum
                : parse_tag(line.substr(pos + 1, close - pos - 1), &record.tag, &checksum_ok);
        if (text == TagText::kNoChecksum) {
            // No tag block here (one cut short, say): the piece up to the
            // next backslash, where one may start, goes as damaged.
            record.damage = Damage::kBadTag;
            const size_t next = close == std::string_view::npos ? line.size() : close;
            record.body = line.substr(pos, next - pos);
            records->push_back(record);
            pos = next;
            continue;
        }
        const size_t body_start = close + 1;
        const size_t next = line.find('\\', body_start);
        const size_t body_end = next == std::string_view::npos ? line.size() : next;
        record.body = line.substr(body_start, body_end - body_start);
        if (text == TagText::kNoTime) {
            record.damage = Damage::kBadTag;
        } else if (next != std::string_view::npos || !ended) {
            record.damage = Damage::kCut;
        } else if (!checksum_ok) {
            record.damage = Damage::kBadTagChecksum;
        } else if (kind == LogKind::kAis && !sentence_whole(record.body)) {
            record.damage = Damage::kBadSentence;
        }
        records->push_back(record);
        pos = body_end;
    }
}

}  // namespace

std::vector<Record> split_records(std::string_view bytes, LogKind kind) {
    std::vector<Record> records;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t newline = bytes.find('\n', pos);
        const bool ended = newline != std::string_view::npos;
        const size_t end = ended ? newline : bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            split_line(line, pos, ended, kind, &records);
        }
        pos = ended ? newline + 1 : bytes.size();
    }
    return records;
}

}  // namespace logtool
