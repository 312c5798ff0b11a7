#include "codec/config_json.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <regex>
#include <set>

#include "codec/config_fields.h"
#include "codec/nmea.h"

namespace codec {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// The shortest decimal that reads back as the same single-precision value.
double shortest_float(float value) {
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    return std::strtod(text, nullptr);
}

double hundredths_to_value(int64_t stored) {
    return static_cast<double>(stored) / 100.0;
}

std::string hex_bytes(const std::vector<uint8_t>& image, uint32_t from, uint32_t to) {
    std::string text;
    char digits[4];
    for (uint32_t at = from; at < to; ++at) {
        std::snprintf(digits, sizeof digits, "%02X", image[at]);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

// The name up to its last non-zero byte (a NUL inside it stays, as \u0000),
// each byte a Latin-1 character; the zeros after it come back on reading.
std::string name_text(const std::vector<uint8_t>& bytes) {
    size_t length = bytes.size();
    while (length > 0 && bytes[length - 1] == 0) {
        --length;
    }
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = bytes[i];
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

// One element of a field as the JSON form writes it.
ordered_json element_json(const ConfigField& field, int64_t stored) {
    if (field.encoding == ConfigEncoding::kF32Le) {
        return shortest_float(config_float(stored));
    }
    if (field.hundredths) {
        return hundredths_to_value(stored);
    }
    if (field.encoding == ConfigEncoding::kS32SignMagnitudeLe) {
        return stored;
    }
    return static_cast<uint64_t>(stored);
}

ordered_json field_json(const ConfigField& field, const StationConfig& config, size_t channel) {
    if (field.record == ConfigRecord::kChannel) {
        return element_json(field, field.get(config, channel));
    }
    if (field.encoding == ConfigEncoding::kText) {
        std::vector<uint8_t> bytes;
        for (size_t k = 0; k < field.count; ++k) {
            bytes.push_back(static_cast<uint8_t>(field.get(config, k)));
        }
        return name_text(bytes);
    }
    if (field.count == 1) {
        return element_json(field, field.get(config, 0));
    }
    ordered_json values = ordered_json::array();
    for (size_t k = 0; k < field.count; ++k) {
        values.push_back(element_json(field, field.get(config, k)));
    }
    return values;
}

// One element of a field from its JSON value: false when the value is not
// of the field's kind or does not fit its bytes.
bool element_of(const ConfigField& field, const json& value, int64_t* stored) {
    if (field.encoding == ConfigEncoding::kF32Le) {
        if (!value.is_number()) {
            return false;
        }
        *stored = config_float_bits(value.get<float>());
        return true;
    }
    int64_t low = 0;
    int64_t high = 0;
    config_stored_range(field.encoding, &low, &high);
    if (field.hundredths) {
        if (!value.is_number()) {
            return false;
        }
        const double scaled = std::round(value.get<double>() * 100.0);
        if (!(scaled >= static_cast<double>(low) && scaled <= static_cast<double>(high))) {
            return false;
        }
        *stored = static_cast<int64_t>(scaled);
        return true;
    }
    if (field.encoding == ConfigEncoding::kS32SignMagnitudeLe) {
        // Taken here and refused with its own message once the record is read.
        low = std::numeric_limits<int32_t>::min();
    }
    if (!value.is_number_integer() || value.get<int64_t>() < low || value.get<int64_t>() > high) {
        return false;
    }
    *stored = value.get<int64_t>();
    return true;
}

const char* expected_element(const ConfigField& field, bool single) {
    if (field.encoding == ConfigEncoding::kF32Le) {
        return "a number";
    }
    if (field.hundredths) {
        return "a number with at most two decimals in the field's range";
    }
    return single ? "an integer in its field's range" : "an integer in the field's range";
}

// Reads one member into a field, checking its kind and range.
class FieldReader {
  public:
    FieldReader(std::string* error, bool every_field) : error_(error), every_field_(every_field) {}
    bool failed() const { return failed_; }

    // One member read with `read`, or an array of `count` of them.
    template <typename Read>
    void one(const json& object, const char* name, const char* expected, Read read) {
        const json* value = member(object, name);
        if (value != nullptr && !read(*value)) {
            fail(name, expected);
        }
    }

    void each(const json& object, const char* name, size_t count, const char* expected,
              const std::function<bool(const json&, size_t)>& read) {
        const json* value = member(object, name);
        if (value == nullptr) {
            return;
        }
        if (!value->is_array() || value->size() != count) {
            fail(name, "an array of " + std::to_string(count) + " values");
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            if (!read((*value)[i], i)) {
                fail(std::string(name) + "[" + std::to_string(i) + "]", expected);
                return;
            }
        }
    }

    void name(const json& object, const char* member_name, std::vector<uint8_t>* field) {
        const json* value = member(object, member_name);
        if (value == nullptr) {
            return;
        }
        if (!value->is_string()) {
            fail(member_name, "a text");
            return;
        }
        const std::string& text = value->get_ref<const std::string&>();
        std::vector<uint8_t> bytes(field->size(), 0);
        size_t count = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            unsigned code = c;
            if (c >= 0x80) {
                // Two-byte UTF-8 for U+0080..U+00FF only.
                if ((c != 0xC2 && c != 0xC3) || i + 1 >= text.size()) {
                    fail(member_name, "Latin-1 characters only");
                    return;
                }
                code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3Fu);
            }
            if (count >= bytes.size()) {
                fail(member_name, "at most " + std::to_string(bytes.size()) + " characters");
                return;
            }
            bytes[count++] = static_cast<uint8_t>(code);
        }
        *field = bytes;
    }

    // Members are read from one object at a time; its path names them in
    // messages ("configuracion_sensor[1].cbaudios_comunicacion").
    void begin_object(const json& object, const std::string& path) {
        path_ = path;
        known_.clear();
        object_ok_ = object.is_object();
        if (!object_ok_) {
            fail_at(path.empty() ? "the configuration" : path, "must be a JSON object");
        }
    }
    void known(const char* name) { known_.insert(name); }
    // Any member the readers did not ask for is a misspelt or unknown key.
    void end_object(const json& object) {
        if (!object_ok_) {
            return;
        }
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (known_.count(it.key()) == 0) {
                fail_at(path_of(it.key()), "is not a known key");
                return;
            }
        }
    }

    // A field the document leaves out, reported only when nothing else is
    // wrong: a misspelt key explains a missing one better.
    void note_missing(const std::string& path) {
        if (every_field_ && missing_.empty()) {
            missing_ = path;
        }
    }
    void finish() {
        if (!missing_.empty()) {
            fail_at(missing_,
                    "missing (a whole configuration gives every field; write --merge changes "
                    "only the fields a file gives)");
        }
    }

    void fail(const std::string& name, const std::string& what) {
        fail_at(path_of(name), "must be " + what);
    }
    void fail_at(const std::string& path, const std::string& what) {
        if (!failed_ && error_ != nullptr) {
            *error_ = path + ": " + what;
        }
        failed_ = true;
    }

  private:
    std::string path_of(const std::string& name) const {
        return path_.empty() ? name : path_ + "." + name;
    }

    const json* member(const json& object, const char* name) {
        known_.insert(name);
        if (!object_ok_ || !object.is_object()) {
            return nullptr;
        }
        const auto found = object.find(name);
        if (found == object.end()) {
            note_missing(path_of(name));
            return nullptr;
        }
        return &*found;
    }

    std::string* error_;
    bool every_field_;
    std::string missing_;
    bool failed_ = false;
    std::string path_;
    std::set<std::string> known_;
    bool object_ok_ = false;
};

}  // namespace

ordered_json config_to_json(const StationConfig& config) {
    ordered_json channels = ordered_json::array();
    for (size_t channel = 0; channel < config.configuracion_sensor.size(); ++channel) {
        ordered_json record = ordered_json::object();
        for (const ConfigField& field : config_fields()) {
            if (field.record == ConfigRecord::kChannel) {
                record[field.name] = field_json(field, config, channel);
            }
        }
        channels.push_back(record);
    }
    ordered_json document;
    document["configuracion_sensor"] = channels;
    for (const ConfigRecord kind : {ConfigRecord::kAis, ConfigRecord::kBoard}) {
        ordered_json record = ordered_json::object();
        for (const ConfigField& field : config_fields()) {
            if (field.record == kind) {
                record[field.name] = field_json(field, config, 0);
            }
        }
        document[config_record_name(kind)] = record;
    }

    // Runs of undecoded bytes that differ from a blank image.
    ordered_json runs = ordered_json::array();
    const std::vector<uint8_t> image = encode_image(config);
    const auto keep = [&](uint32_t at) {
        return !is_decoded_address(at) && image[at] != blank_byte(at);
    };
    for (uint32_t at = 0; at < kConfigImageSize;) {
        if (!keep(at)) {
            ++at;
            continue;
        }
        uint32_t end = at;
        while (end < kConfigImageSize && keep(end)) {
            ++end;
        }
        runs.push_back({{"direccion", at}, {"bytes", hex_bytes(image, at, end)}});
        at = end;
    }
    document["sin_decodificar"] = runs;
    return document;
}

namespace {

void read_field(const json& object, const ConfigField& field, size_t channel, FieldReader& read,
                StationConfig* config) {
    if (field.encoding == ConfigEncoding::kText) {
        std::vector<uint8_t> bytes(field.count);
        for (size_t k = 0; k < field.count; ++k) {
            bytes[k] = static_cast<uint8_t>(field.get(*config, k));
        }
        read.name(object, field.name, &bytes);
        for (size_t k = 0; k < field.count; ++k) {
            field.set(*config, k, bytes[k]);
        }
        return;
    }
    const auto element = [&](const json& value, size_t k) {
        int64_t stored = 0;
        if (!element_of(field, value, &stored)) {
            return false;
        }
        field.set(*config, k, stored);
        return true;
    };
    if (field.record == ConfigRecord::kChannel || field.count == 1) {
        read.one(object, field.name, expected_element(field, true),
                 [&](const json& value) { return element(value, channel); });
    } else {
        read.each(object, field.name, field.count, expected_element(field, false), element);
    }
}

// The fields of one record (of channel `channel` for a channel's record).
void read_record(const json& object, const std::string& path, ConfigRecord record, size_t channel,
                 FieldReader& read, StationConfig* config) {
    read.begin_object(object, path);
    for (const ConfigField& field : config_fields()) {
        if (field.record == record) {
            read_field(object, field, channel, read, config);
        }
    }
    // Sign and magnitude has no room for the most negative 32-bit value.
    for (const ConfigField& field : config_fields()) {
        if (field.record != record || field.record == ConfigRecord::kChannel ||
            field.encoding != ConfigEncoding::kS32SignMagnitudeLe || field.hundredths) {
            continue;
        }
        for (size_t k = 0; k < field.count; ++k) {
            if (field.get(*config, k) == std::numeric_limits<int32_t>::min()) {
                read.fail(field.name, "within sign-and-magnitude range");
            }
        }
    }
    read.end_object(object);
}

// Runs of undecoded bytes: {"direccion": address, "bytes": "AB CD ..."}.
void read_runs(const json& runs, FieldReader& read, std::vector<uint8_t>* image) {
    if (!runs.is_array()) {
        read.fail_at("sin_decodificar", "must be an array of {\"direccion\", \"bytes\"} runs");
        return;
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        const json& run = runs[r];
        const std::string path = "sin_decodificar[" + std::to_string(r) + "]";
        uint32_t at = 0;
        read.begin_object(run, path);
        read.one(run, "direccion", "an integer in its field's range", [&at](const json& value) {
            if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
                value.get<int64_t>() > std::numeric_limits<uint32_t>::max()) {
                return false;
            }
            at = static_cast<uint32_t>(value.get<int64_t>());
            return true;
        });
        read.known("bytes");
        read.end_object(run);
        if (!run.is_object() || !run.contains("direccion") || !run.contains("bytes") ||
            !run["bytes"].is_string()) {
            read.fail_at(path, "must hold \"direccion\" and \"bytes\" (a text)");
            return;
        }
        const std::string& text = run["bytes"].get_ref<const std::string&>();
        for (size_t i = 0; i < text.size();) {
            if (text[i] == ' ') {
                ++i;
                continue;
            }
            const int high = hex_digit(text[i]);
            const int low = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
            if (high < 0 || low < 0 || at >= kConfigImageSize) {
                read.fail_at(path + ".bytes", "must be hexadecimal bytes inside the image");
                return;
            }
            (*image)[at++] = static_cast<uint8_t>(high * 16 + low);
            i += 2;
        }
    }
}

}  // namespace

bool config_from_json(const json& document, StationConfig* config, std::string* error,
                      bool every_field) {
    FieldReader read(error, every_field);
    read.begin_object(document, "");
    if (read.failed()) {
        return false;
    }
    for (const char* key :
         {"configuracion_sensor", "configuracion_ais", "configuracion_ktr09", "sin_decodificar"}) {
        read.known(key);
    }
    read.end_object(document);
    for (const char* group : {"configuracion_sensor", "configuracion_ais", "configuracion_ktr09"}) {
        if (!document.contains(group)) {
            read.note_missing(group);
        }
    }
    if (document.contains("configuracion_sensor")) {
        const json& channels = document["configuracion_sensor"];
        if (!channels.is_array() || channels.size() != 2) {
            read.fail_at("configuracion_sensor", "must be an array of the 2 sensor channels");
        } else {
            for (size_t i = 0; i < 2; ++i) {
                read_record(channels[i], "configuracion_sensor[" + std::to_string(i) + "]",
                            ConfigRecord::kChannel, i, read, config);
            }
        }
    }
    if (document.contains("configuracion_ais")) {
        read_record(document["configuracion_ais"], "configuracion_ais", ConfigRecord::kAis, 0, read,
                    config);
    }
    if (document.contains("configuracion_ktr09")) {
        read_record(document["configuracion_ktr09"], "configuracion_ktr09", ConfigRecord::kBoard, 0,
                    read, config);
    }
    if (document.contains("sin_decodificar")) {
        read_runs(document["sin_decodificar"], read, &config->image);
    }
    read.finish();
    return !read.failed();
}

std::string config_json_text(const StationConfig& config) {
    // Arrays of numbers on one line each.
    static const std::regex kNumberArray(R"(\[\s*(-?[0-9.e+-]+(?:,\s*-?[0-9.e+-]+)*)\s*\])");
    const std::string text = config_to_json(config).dump(2);
    std::string compact;
    auto from = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), kNumberArray), end; it != end; ++it) {
        compact.append(from, text.cbegin() + it->position());
        const std::string items = std::regex_replace((*it)[1].str(), std::regex(R"(,\s*)"), ", ");
        compact += "[" + items + "]";
        from = text.cbegin() + it->position() + it->length();
    }
    compact.append(from, text.cend());
    return compact + "\n";
}

bool image_file_to_json_text(const std::string& image_path, std::string* json_text,
                             std::string* error) {
    std::ifstream in(image_path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + image_path;
        return false;
    }
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (image.size() != kConfigImageSize) {
        *error = image_path + " holds " + std::to_string(image.size()) +
                 " bytes, not an image of " + std::to_string(kConfigImageSize);
        return false;
    }
    *json_text = config_json_text(decode_image(image));
    return true;
}

bool json_text_to_image(const std::string& json_text, std::vector<uint8_t>* image,
                        std::string* error) {
    json document;
    try {
        document = json::parse(json_text);
    } catch (const json::parse_error& e) {
        *error = std::string("not a JSON document: ") + e.what();
        return false;
    }
    StationConfig config;
    if (!config_from_json(document, &config, error)) {
        return false;
    }
    *image = encode_image(config);
    return true;
}

bool json_text_to_usable_image(const std::string& json_text, const std::vector<uint8_t>* base,
                               std::vector<uint8_t>* image, std::string* error) {
    json document;
    try {
        document = json::parse(json_text);
    } catch (const json::parse_error& e) {
        *error = std::string("not a JSON document: ") + e.what();
        return false;
    }
    StationConfig config = base != nullptr ? decode_image(*base) : StationConfig{};
    if (!config_from_json(document, &config, error, base == nullptr)) {
        return false;
    }
    if (const std::string range = config_range_error(config); !range.empty()) {
        *error = range;
        return false;
    }
    *image = encode_image(config);
    return true;
}

}  // namespace codec
