#include "codec/ais_messages.h"

#include <set>

namespace codec {
namespace {

// clang-format off
constexpr FieldKind U = FieldKind::kUnsigned;
constexpr FieldKind S = FieldKind::kSigned;
constexpr FieldKind T = FieldKind::kText;
constexpr FieldKind TT = FieldKind::kTextTail;
constexpr FieldKind D = FieldKind::kDataTail;

// Positions in 1/10 000 minute; 181° and 91° are "not available".
constexpr int64_t kNoLon = 181 * 600000;
constexpr int64_t kNoLat = 91 * 600000;

// Messages 1, 2 and 3: position report, class A.
const std::vector<Field> kPositionA = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"status",          38,   4, U, 15},
    {"turn",            42,   8, S, -128},
    {"speed",           50,  10, U, 1023},
    {"accuracy",        60,   1, U, 0},
    {"lon",             61,  28, S, kNoLon},
    {"lat",             89,  27, S, kNoLat},
    {"course",         116,  12, U, 3600},
    {"heading",        128,   9, U, 511},
    {"second",         137,   6, U, 60},
    {"maneuver",       143,   2, U, 0},
    {"spare",          145,   3, U, 0},
    {"raim",           148,   1, U, 0},
    {"radio",          149,  19, U, 0},
};

// Message 5: static and voyage data. Some transmitters leave out the last
// four bits, so 420 bits are taken too.
const std::vector<Field> kStaticVoyage = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"ais_version",     38,   2, U, 0},
    {"imo",             40,  30, U, 0},
    {"callsign",        70,  42, T, 0},
    {"shipname",       112, 120, T, 0},
    {"shiptype",       232,   8, U, 0},
    {"to_bow",         240,   9, U, 0},
    {"to_stern",       249,   9, U, 0},
    {"to_port",        258,   6, U, 0},
    {"to_starboard",   264,   6, U, 0},
    {"epfd",           270,   4, U, 0},
    {"month",          274,   4, U, 0},
    {"day",            278,   5, U, 0},
    {"hour",           283,   5, U, 24},
    {"minute",         288,   6, U, 60},
    {"draught",        294,   8, U, 0},
    {"destination",    302, 120, T, 0},
    {"dte",            422,   1, U, 1},
    {"spare",          423,   1, U, 0},
};

// Message 6: addressed binary message.
const std::vector<Field> kAddressedBinary = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"seqno",           38,   2, U, 0},
    {"dest_mmsi",       40,  30, U, 0},
    {"retransmit",      70,   1, U, 0},
    {"spare",           71,   1, U, 0},
    {"dac",             72,  10, U, 0},
    {"fid",             82,   6, U, 0},
    {"data",            88, 920, D, 0},
};

// Message 8: binary broadcast message.
const std::vector<Field> kBroadcastBinary = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"spare",           38,   2, U, 0},
    {"dac",             40,  10, U, 0},
    {"fid",             50,   6, U, 0},
    {"data",            56, 952, D, 0},
};

// Message 12: addressed safety-related text.
const std::vector<Field> kAddressedText = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"seqno",           38,   2, U, 0},
    {"dest_mmsi",       40,  30, U, 0},
    {"retransmit",      70,   1, U, 0},
    {"spare",           71,   1, U, 0},
    {"text",            72, 936, TT, 0},
};

// Message 14: safety-related broadcast text.
const std::vector<Field> kBroadcastText = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"spare",           38,   2, U, 0},
    {"text",            40, 968, TT, 0},
};

// Message 18: position report, class B.
const std::vector<Field> kPositionB = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"reserved",        38,   8, U, 0},
    {"speed",           46,  10, U, 1023},
    {"accuracy",        56,   1, U, 0},
    {"lon",             57,  28, S, kNoLon},
    {"lat",             85,  27, S, kNoLat},
    {"course",         112,  12, U, 3600},
    {"heading",        124,   9, U, 511},
    {"second",         133,   6, U, 60},
    {"regional",       139,   2, U, 0},
    {"cs",             141,   1, U, 0},
    {"display",        142,   1, U, 0},
    {"dsc",            143,   1, U, 0},
    {"band",           144,   1, U, 0},
    {"msg22",          145,   1, U, 0},
    {"assigned",       146,   1, U, 0},
    {"raim",           147,   1, U, 0},
    {"radio",          148,  20, U, 0},
};

// Message 21: aid-to-navigation report.
const std::vector<Field> kAidToNavigation = {
    // name          start width kind not available
    {"type",             0,   6, U, 0},
    {"repeat",           6,   2, U, 0},
    {"mmsi",             8,  30, U, 0},
    {"aid_type",        38,   5, U, 0},
    {"name",            43, 120, T, 0},
    {"accuracy",       163,   1, U, 0},
    {"lon",            164,  28, S, kNoLon},
    {"lat",            192,  27, S, kNoLat},
    {"to_bow",         219,   9, U, 0},
    {"to_stern",       228,   9, U, 0},
    {"to_port",        237,   6, U, 0},
    {"to_starboard",   243,   6, U, 0},
    {"epfd",           249,   4, U, 0},
    {"second",         253,   6, U, 60},
    {"off_position",   259,   1, U, 0},
    {"regional",       260,   8, U, 0},
    {"raim",           268,   1, U, 0},
    {"virtual_aid",    269,   1, U, 0},
    {"assigned",       270,   1, U, 0},
    {"spare",          271,   1, U, 0},
    {"name_ext",       272,  88, TT, 0},
};

// Message 8, DAC 1, FI 31: meteorological and hydrographic data (IMO
// SN.1/Circ.289), as the station sends it: no spare bits at the end (the
// ten that others send are taken too).
// Positions in 1/1000 minute.
const std::vector<Field> kMeteoHydro = {
    // name          start width kind not available
    {"lon",             56,  25, S, 10860000},
    {"lat",             81,  24, S, 5460000},
    {"accuracy",       105,   1, U, 0},
    {"day",            106,   5, U, 0},
    {"hour",           111,   5, U, 24},
    {"minute",         116,   6, U, 60},
    {"wspeed",         122,   7, U, 127},
    {"wgust",          129,   7, U, 127},
    {"wdir",           136,   9, U, 360},
    {"wgustdir",       145,   9, U, 360},
    {"airtemp",        154,  11, S, -1024},
    {"humidity",       165,   7, U, 101},
    {"dewpoint",       172,  10, S, 501},
    {"pressure",       182,   9, U, 511},
    {"pressuretend",   191,   2, U, 3},
    {"visgreater",     193,   1, U, 0},
    {"visibility",     194,   7, U, 127},
    {"waterlevel",     201,  12, U, 4001},
    {"leveltrend",     213,   2, U, 3},
    {"cspeed",         215,   8, U, 255},
    {"cdir",           223,   9, U, 360},
    {"cspeed2",        232,   8, U, 255},
    {"cdir2",          240,   9, U, 360},
    {"cdepth2",        249,   5, U, 31},
    {"cspeed3",        254,   8, U, 255},
    {"cdir3",          262,   9, U, 360},
    {"cdepth3",        271,   5, U, 31},
    {"waveheight",     276,   8, U, 255},
    {"waveperiod",     284,   6, U, 63},
    {"wavedir",        290,   9, U, 360},
    {"swellheight",    299,   8, U, 255},
    {"swellperiod",    307,   6, U, 63},
    {"swelldir",       313,   9, U, 360},
    {"seastate",       322,   4, U, 13},
    {"watertemp",      326,  10, S, 501},
    {"preciptype",     336,   3, U, 7},
    {"salinity",       339,   9, U, 510},
    {"ice",            348,   2, U, 3},
};

const MessageLayout kPositionALayout{"position report", 168, 168, kPositionA};
const MessageLayout kStaticVoyageLayout{"static and voyage data", 420, 424, kStaticVoyage};
const MessageLayout kAddressedBinaryLayout{"addressed binary", 88, 1008, kAddressedBinary};
const MessageLayout kBroadcastBinaryLayout{"binary broadcast", 56, 1008, kBroadcastBinary};
const MessageLayout kAddressedTextLayout{"addressed safety text", 72, 1008, kAddressedText};
const MessageLayout kBroadcastTextLayout{"broadcast safety text", 40, 1008, kBroadcastText};
const MessageLayout kPositionBLayout{"class B position report", 168, 168, kPositionB};
const MessageLayout kAidToNavigationLayout{"aid-to-navigation report", 272, 360,
                                           kAidToNavigation};
const MessageLayout kMeteoHydroLayout{"meteorological and hydrographic data", 350, 360,
                                      kMeteoHydro};

// clang-format on

bool refuse(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

bool fits(int64_t value, const Field& field) {
    if (field.kind == FieldKind::kSigned) {
        const int64_t half = int64_t{1} << (field.width - 1);
        return value >= -half && value < half;
    }
    return value >= 0 && (field.width >= 63 || value < (int64_t{1} << field.width));
}

// Writes the fields of one table; `used` collects the names taken from the
// message so that unknown ones can be refused.
bool encode_fields(const MessageLayout& layout, const Message& message, BitWriter* writer,
                   std::set<std::string>* used, std::string* error) {
    for (const Field& field : layout.fields) {
        if (writer->bits().size() != field.start) {
            return refuse(error, std::string("field table out of order at ") + field.name);
        }
        used->insert(field.name);
        if (field.kind == FieldKind::kText || field.kind == FieldKind::kTextTail) {
            const std::string text = message.text(field.name);
            const unsigned most = field.width / 6u;
            if (text.size() > most) {
                return refuse(error, std::string(field.name) + ": text longer than " +
                                         std::to_string(most) + " characters");
            }
            writer->put_text(
                text, field.kind == FieldKind::kText ? most : static_cast<unsigned>(text.size()));
            continue;
        }
        if (field.kind == FieldKind::kDataTail) {
            const unsigned type = static_cast<unsigned>(message.number("type"));
            const MessageLayout* application =
                application_layout(type, static_cast<unsigned>(message.number("dac")),
                                   static_cast<unsigned>(message.number("fid")));
            if (application != nullptr) {
                if (!message.data.empty()) {
                    return refuse(error, "data given for an application with a field table");
                }
                return encode_fields(*application, message, writer, used, error);
            }
            used->insert("data");
            if (message.data.size() > field.width) {
                return refuse(error, "data: more than " + std::to_string(field.width) + " bits");
            }
            writer->put_bits(message.data);
            continue;
        }
        const auto given = message.numbers.find(field.name);
        const int64_t value = given == message.numbers.end() ? field.missing : given->second;
        if (!fits(value, field)) {
            return refuse(error, std::string(field.name) + ": " + std::to_string(value) +
                                     " does not fit in " + std::to_string(field.width) +
                                     (field.kind == FieldKind::kSigned ? " signed" : "") + " bits");
        }
        writer->put(static_cast<uint64_t>(value), field.width);
    }
    return true;
}

void decode_fields(const MessageLayout& layout, const BitReader& reader, Message* message) {
    for (const Field& field : layout.fields) {
        switch (field.kind) {
            case FieldKind::kUnsigned:
                message->numbers[field.name] =
                    static_cast<int64_t>(reader.get(field.start, field.width));
                break;
            case FieldKind::kSigned:
                message->numbers[field.name] = reader.get_signed(field.start, field.width);
                break;
            case FieldKind::kText:
                message->texts[field.name] = reader.get_text(field.start, field.width / 6u);
                break;
            case FieldKind::kTextTail:
                message->texts[field.name] = reader.get_text(
                    field.start, static_cast<unsigned>((reader.size() - field.start) / 6));
                break;
            case FieldKind::kDataTail:
                break;
        }
    }
}

}  // namespace

const MessageLayout* message_layout(unsigned type) {
    switch (type) {
        case 1:
        case 2:
        case 3:
            return &kPositionALayout;
        case 5:
            return &kStaticVoyageLayout;
        case 6:
            return &kAddressedBinaryLayout;
        case 8:
            return &kBroadcastBinaryLayout;
        case 12:
            return &kAddressedTextLayout;
        case 14:
            return &kBroadcastTextLayout;
        case 18:
            return &kPositionBLayout;
        case 21:
            return &kAidToNavigationLayout;
        default:
            return nullptr;
    }
}

const MessageLayout* application_layout(unsigned type, unsigned dac, unsigned fi) {
    if (type == 8 && dac == 1 && fi == 31) {
        return &kMeteoHydroLayout;
    }
    return nullptr;
}

std::optional<Bits> encode_message(const Message& message, std::string* error) {
    const auto type = message.numbers.find("type");
    if (type == message.numbers.end()) {
        refuse(error, "type: missing");
        return std::nullopt;
    }
    const MessageLayout* layout =
        type->second >= 0 ? message_layout(static_cast<unsigned>(type->second)) : nullptr;
    if (layout == nullptr) {
        refuse(error, "type: no field table for message " + std::to_string(type->second));
        return std::nullopt;
    }
    BitWriter writer;
    std::set<std::string> used;
    if (!encode_fields(*layout, message, &writer, &used, error)) {
        return std::nullopt;
    }
    for (const auto& entry : message.numbers) {
        if (used.count(entry.first) == 0) {
            refuse(error, entry.first + ": not a field of a " + layout->name);
            return std::nullopt;
        }
    }
    for (const auto& entry : message.texts) {
        if (used.count(entry.first) == 0) {
            refuse(error, entry.first + ": not a field of a " + layout->name);
            return std::nullopt;
        }
    }
    if (!message.data.empty() && used.count("data") == 0) {
        refuse(error, std::string("data: not a field of a ") + layout->name);
        return std::nullopt;
    }
    return writer.bits();
}

std::optional<Message> decode_message(const Bits& payload, std::string* error) {
    const BitReader reader(payload);
    if (payload.size() < 6) {
        refuse(error, "payload shorter than a message type");
        return std::nullopt;
    }
    const unsigned type = static_cast<unsigned>(reader.get(0, 6));
    const MessageLayout* layout = message_layout(type);
    if (layout == nullptr) {
        refuse(error, "no field table for message " + std::to_string(type));
        return std::nullopt;
    }
    if (payload.size() < layout->min_bits || payload.size() > layout->max_bits) {
        refuse(error, "a " + std::string(layout->name) + " of " + std::to_string(payload.size()) +
                          " bits (" + std::to_string(layout->min_bits) + ".." +
                          std::to_string(layout->max_bits) + " expected)");
        return std::nullopt;
    }
    Message message;
    decode_fields(*layout, reader, &message);
    const Field& last = layout->fields.back();
    if (last.kind == FieldKind::kDataTail) {
        const MessageLayout* application =
            application_layout(type, static_cast<unsigned>(message.number("dac")),
                               static_cast<unsigned>(message.number("fid")));
        if (application != nullptr && payload.size() >= application->min_bits &&
            payload.size() <= application->max_bits) {
            decode_fields(*application, reader, &message);
        } else {
            message.data = reader.get_bits(last.start, payload.size() - last.start);
        }
    }
    return message;
}

}  // namespace codec
