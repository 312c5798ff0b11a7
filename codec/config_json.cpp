#include "codec/config_json.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <set>

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
std::string name_text(const std::array<uint8_t, 20>& bytes) {
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

// Reads one member into a field, checking its kind and range.
class FieldReader {
  public:
    FieldReader(std::string* error, bool every_field) : error_(error), every_field_(every_field) {}
    bool failed() const { return failed_; }

    // Each reader of a kind of value: true when `value` is of that kind and
    // fits the field.
    template <typename T>
    static bool integer_of(const json& value, T* field) {
        if (!value.is_number_integer() || value.get<int64_t>() < std::numeric_limits<T>::min() ||
            value.get<int64_t>() > std::numeric_limits<T>::max()) {
            return false;
        }
        *field = static_cast<T>(value.get<int64_t>());
        return true;
    }

    // A decimal kept as an integer number of hundredths in [low, high].
    template <typename T>
    static bool hundredths_of(const json& value, int64_t low, int64_t high, T* field) {
        if (!value.is_number()) {
            return false;
        }
        const double scaled = std::round(value.get<double>() * 100.0);
        if (!(scaled >= static_cast<double>(low) && scaled <= static_cast<double>(high))) {
            return false;
        }
        *field = static_cast<T>(scaled);
        return true;
    }

    static bool real_of(const json& value, float* field) {
        if (!value.is_number()) {
            return false;
        }
        *field = value.get<float>();
        return true;
    }

    // One member read with `read`, or an array of N of them.
    template <typename Read>
    void one(const json& object, const char* name, const char* expected, Read read) {
        const json* value = member(object, name);
        if (value != nullptr && !read(*value)) {
            fail(name, expected);
        }
    }

    template <size_t N, typename Read>
    void each(const json& object, const char* name, const char* expected, Read read) {
        const json* value = member(object, name);
        if (value == nullptr) {
            return;
        }
        if (!value->is_array() || value->size() != N) {
            fail(name, "an array of " + std::to_string(N) + " values");
            return;
        }
        for (size_t i = 0; i < N; ++i) {
            if (!read((*value)[i], i)) {
                fail(std::string(name) + "[" + std::to_string(i) + "]", expected);
                return;
            }
        }
    }

    template <typename T>
    void integer(const json& object, const char* name, T* field) {
        one(object, name, "an integer in its field's range",
            [field](const json& v) { return integer_of(v, field); });
    }

    template <typename T, size_t N>
    void integers(const json& object, const char* name, std::array<T, N>* field) {
        each<N>(object, name, "an integer in the field's range",
                [field](const json& v, size_t i) { return integer_of(v, &(*field)[i]); });
    }

    template <typename T>
    void hundredths(const json& object, const char* name, T* field, int64_t low, int64_t high) {
        one(object, name, "a number with at most two decimals in the field's range",
            [=](const json& v) { return hundredths_of(v, low, high, field); });
    }

    template <typename T, size_t N>
    void hundredths_array(const json& object, const char* name, std::array<T, N>* field,
                          int64_t low, int64_t high) {
        each<N>(object, name, "a number with at most two decimals in the field's range",
                [=](const json& v, size_t i) { return hundredths_of(v, low, high, &(*field)[i]); });
    }

    void real(const json& object, const char* name, float* field) {
        one(object, name, "a number", [field](const json& v) { return real_of(v, field); });
    }

    template <size_t N>
    void reals(const json& object, const char* name, std::array<float, N>* field) {
        each<N>(object, name, "a number",
                [field](const json& v, size_t i) { return real_of(v, &(*field)[i]); });
    }

    void name(const json& object, const char* member_name, std::array<uint8_t, 20>* field) {
        const json* value = member(object, member_name);
        if (value == nullptr) {
            return;
        }
        if (!value->is_string()) {
            fail(member_name, "a text");
            return;
        }
        const std::string& text = value->get_ref<const std::string&>();
        std::array<uint8_t, 20> bytes{};
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
                fail(member_name, "at most 20 characters");
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

constexpr int64_t kU16 = 0xFFFF;
constexpr int64_t kU24 = 0xFFFFFF;
constexpr int64_t kSignMagnitude = 0x7FFFFFFF;

}  // namespace

ordered_json config_to_json(const StationConfig& config) {
    ordered_json document;
    ordered_json channels = ordered_json::array();
    for (const SensorChannelConfig& channel : config.configuracion_sensor) {
        channels.push_back({
            {"csensor", channel.csensor},
            {"ctipo_comunicacion", channel.ctipo_comunicacion},
            {"cbaudios_comunicacion", channel.cbaudios_comunicacion},
            {"csalida_reset", channel.csalida_reset},
            {"cseg_delay_inicial", channel.cseg_delay_inicial},
            {"csample_interval", channel.csample_interval},
            {"cdireccionamiento_viento", channel.cdireccionamiento_viento},
            {"ctimeout_datos_validos", channel.ctimeout_datos_validos},
        });
    }
    document["configuracion_sensor"] = channels;

    const AisLinkConfig& ais = config.configuracion_ais;
    document["configuracion_ais"] = {
        {"ctipo_comunicacion", ais.ctipo_comunicacion},
        {"cbaudios", ais.cbaudios},
        {"csalida_reset", ais.csalida_reset},
        {"cenable_msg21", ais.cenable_msg21},
        {"cinput_light_msg21", ais.cinput_light_msg21},
        {"cinput_error_light_msg21", ais.cinput_error_light_msg21},
        {"cenable_shipras", ais.cenable_shipras},
        {"llatitud_shipras", ais.llatitud_shipras},
        {"llongitud_shipras", ais.llongitud_shipras},
    };

    const BoardConfig& board = config.configuracion_ktr09;
    ordered_json analog_on = ordered_json::array();
    ordered_json analog_off = ordered_json::array();
    ordered_json factor_a = ordered_json::array();
    ordered_json factor_b = ordered_json::array();
    for (size_t k = 0; k < 2; ++k) {
        analog_on.push_back(hundredths_to_value(board.fumbral_alarma_on[k]));
        analog_off.push_back(hundredths_to_value(board.fumbral_alarma_off[k]));
        factor_a.push_back(hundredths_to_value(board.ffactor_A[k]));
        factor_b.push_back(hundredths_to_value(board.ffactor_B[k]));
    }
    document["configuracion_ktr09"] = {
        {"cestado_en_reposo_salida_digital", board.cestado_en_reposo_salida_digital},
        {"itemporizacion_salida_digital", board.itemporizacion_salida_digital},
        {"cfuncionalidad_entradas_externas", board.cfuncionalidad_entradas_externas},
        {"cestado_en_reposo_entrada_externa", board.cestado_en_reposo_entrada_externa},
        {"itemporizacion_entrada_externa", board.itemporizacion_entrada_externa},
        {"ctemporizador_minutos", board.ctemporizador_minutos},
        {"fumbral_alarma_on", analog_on},
        {"fumbral_alarma_off", analog_off},
        {"ffactor_A", factor_a},
        {"ffactor_B", factor_b},
        {"ftension_alarma_bateria_baja", hundredths_to_value(board.ftension_alarma_bateria_baja)},
        {"ftension_alarma_bateria_off", hundredths_to_value(board.ftension_alarma_bateria_off)},
        {"cnombre", name_text(board.cnombre)},
        {"fconversor_bateria", shortest_float(board.fconversor_bateria)},
        {"ivalor_0_analogica", board.ivalor_0_analogica},
        {"fconversor_analogica",
         {shortest_float(board.fconversor_analogica[0]),
          shortest_float(board.fconversor_analogica[1])}},
    };

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

void read_channel(const json& c, const std::string& path, FieldReader& read,
                  SensorChannelConfig* channel) {
    read.begin_object(c, path);
    read.integer(c, "csensor", &channel->csensor);
    read.integer(c, "ctipo_comunicacion", &channel->ctipo_comunicacion);
    read.integer(c, "cbaudios_comunicacion", &channel->cbaudios_comunicacion);
    read.integer(c, "csalida_reset", &channel->csalida_reset);
    read.integer(c, "cseg_delay_inicial", &channel->cseg_delay_inicial);
    read.integer(c, "csample_interval", &channel->csample_interval);
    read.integer(c, "cdireccionamiento_viento", &channel->cdireccionamiento_viento);
    read.integer(c, "ctimeout_datos_validos", &channel->ctimeout_datos_validos);
    read.end_object(c);
}

void read_ais(const json& a, FieldReader& read, AisLinkConfig* ais) {
    read.begin_object(a, "configuracion_ais");
    read.integer(a, "ctipo_comunicacion", &ais->ctipo_comunicacion);
    read.integer(a, "cbaudios", &ais->cbaudios);
    read.integer(a, "csalida_reset", &ais->csalida_reset);
    read.integer(a, "cenable_msg21", &ais->cenable_msg21);
    read.integer(a, "cinput_light_msg21", &ais->cinput_light_msg21);
    read.integer(a, "cinput_error_light_msg21", &ais->cinput_error_light_msg21);
    read.integer(a, "cenable_shipras", &ais->cenable_shipras);
    read.integers(a, "llatitud_shipras", &ais->llatitud_shipras);
    read.integers(a, "llongitud_shipras", &ais->llongitud_shipras);
    // Sign and magnitude has no room for the most negative 32-bit value.
    for (int32_t bound : ais->llatitud_shipras) {
        if (bound == std::numeric_limits<int32_t>::min()) {
            read.fail("llatitud_shipras", "within sign-and-magnitude range");
        }
    }
    for (int32_t bound : ais->llongitud_shipras) {
        if (bound == std::numeric_limits<int32_t>::min()) {
            read.fail("llongitud_shipras", "within sign-and-magnitude range");
        }
    }
    read.end_object(a);
}

void read_board(const json& b, FieldReader& read, BoardConfig* board) {
    read.begin_object(b, "configuracion_ktr09");
    read.integers(b, "cestado_en_reposo_salida_digital", &board->cestado_en_reposo_salida_digital);
    read.integers(b, "itemporizacion_salida_digital", &board->itemporizacion_salida_digital);
    read.integers(b, "cfuncionalidad_entradas_externas", &board->cfuncionalidad_entradas_externas);
    read.integers(b, "cestado_en_reposo_entrada_externa",
                  &board->cestado_en_reposo_entrada_externa);
    read.integers(b, "itemporizacion_entrada_externa", &board->itemporizacion_entrada_externa);
    read.integers(b, "ctemporizador_minutos", &board->ctemporizador_minutos);
    read.hundredths_array(b, "fumbral_alarma_on", &board->fumbral_alarma_on, 0, kU16);
    read.hundredths_array(b, "fumbral_alarma_off", &board->fumbral_alarma_off, 0, kU16);
    read.hundredths_array(b, "ffactor_A", &board->ffactor_A, 0, kU24);
    read.hundredths_array(b, "ffactor_B", &board->ffactor_B, -kSignMagnitude, kSignMagnitude);
    read.hundredths(b, "ftension_alarma_bateria_baja", &board->ftension_alarma_bateria_baja, 0,
                    kU16);
    read.hundredths(b, "ftension_alarma_bateria_off", &board->ftension_alarma_bateria_off, 0, kU16);
    read.name(b, "cnombre", &board->cnombre);
    read.real(b, "fconversor_bateria", &board->fconversor_bateria);
    read.integers(b, "ivalor_0_analogica", &board->ivalor_0_analogica);
    read.reals(b, "fconversor_analogica", &board->fconversor_analogica);
    read.end_object(b);
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
        read.integer(run, "direccion", &at);
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
                read_channel(channels[i], "configuracion_sensor[" + std::to_string(i) + "]", read,
                             &config->configuracion_sensor[i]);
            }
        }
    }
    if (document.contains("configuracion_ais")) {
        read_ais(document["configuracion_ais"], read, &config->configuracion_ais);
    }
    if (document.contains("configuracion_ktr09")) {
        read_board(document["configuracion_ktr09"], read, &config->configuracion_ktr09);
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
