// The configuration image: where each field lies and how its bytes hold it
// (against the image format's own layout), the bytes outside the fields, the
// JSON checks, the standard station's calibration, and the ktr09-config tool.
#include <gtest/gtest.h>

#include "support/state_dir.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codec/config_fields.h"
#include "codec/config_image.h"
#include "codec/config_json.h"
#include "devices/analog_inputs.h"

namespace {

using codec::StationConfig;

// ---- The stored layout, read from the image format's own description ----

// One sample per way of storing a value, worked out by hand: its bytes in
// image order, the value as stored and, for a field kept in hundredths, the
// decimal.
enum Stored { kU8, kU16Be, kU24Le, kS32SignMagnitudeLe, kF32Le, kText };
const struct {
    std::vector<uint8_t> bytes;
    nlohmann::json value;
    nlohmann::json hundredths;
} kSamples[] = {
    {{0xA5}, 165, nullptr},
    {{0x12, 0x34}, 0x1234, 46.6},
    {{0x01, 0x02, 0x03}, 0x030201, 1971.21},
    {{0x01, 0x02, 0x03, 0x84}, -0x04030201, -673059.85},
    {{0x00, 0x00, 0x80, 0x3F}, 1.0, nullptr},
    // One Latin-1 byte per character.
    {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I',  'J',
      'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 0xF1, 'T'},
     "ABCDEFGHIJKLMNOPQRñT",
     nullptr},
};

// The layout as the image format describes it: a field's element k lies at
// address + k * stride ("{k}" in the JSON pointer).
struct LayoutRow {
    const char* pointer;
    uint32_t address;
    uint32_t stride;
    size_t count;
    Stored stored;
    bool hundredths;
};

constexpr Stored U8 = kU8;
constexpr Stored U16 = kU16Be;
constexpr Stored U24 = kU24Le;
constexpr Stored SM = kS32SignMagnitudeLe;
constexpr Stored F32 = kF32Le;

// clang-format off
const LayoutRow kLayout[] = {
    // Block 1.
    {"/configuracion_sensor/{k}/csensor",                         0,  1, 2, U8,  false},
    {"/configuracion_ais/ctipo_comunicacion",                     2,  0, 1, U8,  false},
    {"/configuracion_ais/cbaudios",                               3,  0, 1, U8,  false},
    {"/configuracion_ais/csalida_reset",                          4,  0, 1, U8,  false},
    {"/configuracion_ais/cenable_msg21",                          5,  0, 1, U8,  false},
    {"/configuracion_ais/cinput_light_msg21",                     6,  0, 1, U8,  false},
    {"/configuracion_ais/cinput_error_light_msg21",               7,  0, 1, U8,  false},
    {"/configuracion_ais/cenable_shipras",                        8,  0, 1, U8,  false},
    {"/configuracion_ais/llatitud_shipras/{k}",                   9,  8, 2, SM,  false},
    {"/configuracion_ais/llongitud_shipras/{k}",                 13,  8, 2, SM,  false},
    {"/configuracion_sensor/{k}/ctipo_comunicacion",             88, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/cbaudios_comunicacion",          89, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/csalida_reset",                  90, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/cseg_delay_inicial",             91, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/csample_interval",               92, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/cdireccionamiento_viento",       93, 12, 2, U8,  false},
    {"/configuracion_sensor/{k}/ctimeout_datos_validos",         94, 12, 2, U8,  false},
    // Block 2.
    {"/configuracion_ktr09/cestado_en_reposo_salida_digital/{k}",  112, 3, 4, U8,  false},
    {"/configuracion_ktr09/itemporizacion_salida_digital/{k}",     113, 3, 4, U16, false},
    {"/configuracion_ktr09/cfuncionalidad_entradas_externas/{k}",  124, 5, 4, U8,  false},
    {"/configuracion_ktr09/cestado_en_reposo_entrada_externa/{k}", 125, 5, 4, U8,  false},
    {"/configuracion_ktr09/itemporizacion_entrada_externa/{k}",    126, 5, 4, U16, false},
    {"/configuracion_ktr09/ctemporizador_minutos/{k}",             128, 5, 4, U8,  false},
    {"/configuracion_ktr09/fumbral_alarma_on/{k}",                 144, 11, 2, U16, true},
    {"/configuracion_ktr09/fumbral_alarma_off/{k}",                146, 11, 2, U16, true},
    {"/configuracion_ktr09/ffactor_A/{k}",                         148, 11, 2, U24, true},
    {"/configuracion_ktr09/ffactor_B/{k}",                         151, 11, 2, SM,  true},
    {"/configuracion_ktr09/ftension_alarma_bateria_baja",          166, 0, 1, U16, true},
    {"/configuracion_ktr09/ftension_alarma_bateria_off",           168, 0, 1, U16, true},
    {"/configuracion_ktr09/cnombre",                               170, 0, 1, kText, false},
    // The calibration block.
    {"/configuracion_ktr09/fconversor_bateria",                   8176, 0, 1, F32, false},
    {"/configuracion_ktr09/ivalor_0_analogica/{k}",               8180, 6, 2, U16, false},
    {"/configuracion_ktr09/fconversor_analogica/{k}",             8182, 6, 2, F32, false},
};
// clang-format on

std::string pointer_of(const LayoutRow& row, size_t k) {
    std::string pointer = row.pointer;
    const size_t mark = pointer.find("{k}");
    return mark == std::string::npos ? pointer : pointer.replace(mark, 3, std::to_string(k));
}

// A blank part with its calibration block cleared: a blank block reads as
// NaN factors, which JSON has no number for.
std::vector<uint8_t> cleared_image() {
    std::vector<uint8_t> image = codec::blank_image();
    std::fill(image.begin() + 8176, image.end(), 0);
    return image;
}

nlohmann::ordered_json image_json(const std::vector<uint8_t>& image) {
    return codec::config_to_json(codec::decode_image(image));
}

// Each field's sample bytes at its place in a blank image change that field
// and nothing else, and its JSON value builds that image again.
TEST(ConfigImageTest, EachFieldLiesWhereTheImageFormatPutsIt) {
    const nlohmann::ordered_json blank = image_json(cleared_image());
    for (const LayoutRow& row : kLayout) {
        const auto& s = kSamples[row.stored];
        for (size_t k = 0; k < row.count; ++k) {
            const std::string where = pointer_of(row, k);
            std::vector<uint8_t> image = cleared_image();
            std::copy(s.bytes.begin(), s.bytes.end(), image.begin() + row.address + k * row.stride);
            nlohmann::ordered_json expected = blank;
            expected[nlohmann::ordered_json::json_pointer(where)] =
                row.hundredths ? s.hundredths : s.value;
            EXPECT_EQ(expected, image_json(image)) << where;
            std::vector<uint8_t> built;
            std::string error;
            ASSERT_TRUE(codec::json_text_to_image(expected.dump(), &built, &error)) << error;
            EXPECT_EQ(image, built) << where;
            const auto inside = [&](const codec::ConfigBlock& b) {
                const size_t at = row.address + k * row.stride;
                return at >= b.address && at + s.bytes.size() <= b.address + b.size;
            };
            EXPECT_TRUE(std::any_of(std::begin(codec::kConfigBlocks),
                                    std::end(codec::kConfigBlocks), inside))
                << where << " lies outside the blocks the configuration program transfers";
        }
    }
}

// Bytes outside the fields are read by none and come back as they were, and
// so does a whole image of random bytes.
TEST(ConfigImageTest, BytesOutsideTheFieldsAreKeptAsTheyAre) {
    std::vector<bool> in_field(codec::kConfigImageSize, false);
    for (const LayoutRow& row : kLayout) {
        for (size_t k = 0; k < row.count; ++k) {
            std::fill_n(in_field.begin() + row.address + k * row.stride,
                        kSamples[row.stored].bytes.size(), true);
        }
    }
    const nlohmann::ordered_json blank = image_json(cleared_image());
    for (unsigned seed = 1; seed <= 5; ++seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> image(codec::kConfigImageSize);
        std::vector<uint8_t> outside = cleared_image();
        for (size_t at = 0; at < image.size(); ++at) {
            image[at] = static_cast<uint8_t>(random());
            outside[at] = in_field[at] ? outside[at] : static_cast<uint8_t>(1 + image[at] % 255);
        }
        nlohmann::ordered_json fields = image_json(outside);
        fields["sin_decodificar"] = blank["sin_decodificar"];
        EXPECT_EQ(blank, fields) << "a field reads a byte outside the layout, seed " << seed;
        for (const std::vector<uint8_t>& original : {image, outside}) {
            std::vector<uint8_t> again;
            std::string error;
            const std::string text = codec::config_json_text(codec::decode_image(original));
            ASSERT_TRUE(codec::json_text_to_image(text, &again, &error)) << error;
            EXPECT_EQ(original, again) << "through JSON, seed " << seed;
        }
    }
}

// A file may give more decimals than the image keeps.
TEST(ConfigImageTest, JsonDecimalsAreRoundedToHundredths) {
    StationConfig config;
    std::string error;
    ASSERT_TRUE(codec::config_from_json(
        nlohmann::json::parse(R"({"configuracion_ktr09": {"ffactor_B": [1.006, -0.004]}})"),
        &config, &error))
        << error;
    EXPECT_EQ(101, config.configuracion_ktr09.ffactor_B[0]);
    EXPECT_EQ(0, config.configuracion_ktr09.ffactor_B[1]);
}

TEST(ConfigImageTest, JsonValuesOutOfTheirFieldsAreRefused) {
    struct Case {
        const char* json;
        const char* field;
    };
    const Case cases[] = {
        {R"({"configuracion_sensor": [{"csensor": 256}, {}]})", "csensor"},
        {R"({"configuracion_sensor": [{}]})", "configuracion_sensor"},
        {R"({"configuracion_ais": {"cbaudios": "fast"}})", "cbaudios"},
        {R"({"configuracion_ais": {"llongitud_shipras": [1]}})", "llongitud_shipras"},
        {R"({"configuracion_ktr09": {"ftension_alarma_bateria_off": 700}})",
         "ftension_alarma_bateria_off"},
        {R"({"configuracion_ktr09": {"ffactor_A": [-1, 0]}})", "ffactor_A"},
        {R"({"configuracion_ktr09": {"cnombre": "a name that is far too long"}})", "cnombre"},
        {R"({"sin_decodificar": [{"direccion": 8191, "bytes": "01 02"}]})", "sin_decodificar"},
        // Misspelt or unknown keys, named by their path.
        {R"({"configuracion_sensor": [{}, {"cbaudios": 1}]})", "configuracion_sensor[1].cbaudios"},
        {R"({"configuracion_aiss": {}})", "configuracion_aiss"},
        {R"({"configuracion_ktr09": {"cnombre": "X", "fconversor_bateri": 1}})",
         "configuracion_ktr09.fconversor_bateri"},
        {R"({"sin_decodificar": [{"direccion": 30, "byte": "AB"}]})", "sin_decodificar[0].byte"},
        // Bad values, named down to the array element.
        {R"({"configuracion_ktr09": {"ffactor_B": [0, "x"]}})", "configuracion_ktr09.ffactor_B[1]"},
        {R"({"configuracion_ais": 5})", "configuracion_ais"},
        {R"({"sin_decodificar": [{"direccion": 30, "bytes": "0x"}]})", "sin_decodificar[0].bytes"},
        // Sign and magnitude has no -2^31.
        {R"({"configuracion_ais": {"llatitud_shipras": [0, -2147483648]}})",
         "configuracion_ais.llatitud_shipras: must be within sign-and-magnitude range"},
    };
    for (const Case& c : cases) {
        StationConfig config;
        std::string error;
        EXPECT_FALSE(codec::config_from_json(nlohmann::json::parse(c.json), &config, &error))
            << c.json;
        EXPECT_NE(std::string::npos, error.find(c.field)) << c.json << ": " << error;
    }
}

// Each row breaks one field of the standard station; the message names the
// field and the range the station can use.
TEST(ConfigImageTest, ValuesTheStationCannotUseAreNamedWithTheirRange) {
    using Change = void (*)(StationConfig&);
    const struct {
        const char* description;
        Change change;
        const char* message;  // "" when the station can use the result
    } cases[] = {
        {"standard", [](StationConfig&) {}, ""},
        {"no samples", [](StationConfig& c) { c.configuracion_sensor[0].csample_interval = 0; },
         "configuracion_sensor[0].csample_interval: must be 1..255"},
        {"unknown baud code",
         [](StationConfig& c) { c.configuracion_sensor[0].cbaudios_comunicacion = 7; },
         "configuracion_sensor[0].cbaudios_comunicacion: must be 0..6"},
        {"line off", [](StationConfig& c) { c.configuracion_sensor[0].ctipo_comunicacion = 0; },
         "configuracion_sensor[0].ctipo_comunicacion: must be 1..4"},
        {"unknown line code", [](StationConfig& c) { c.configuracion_ais.ctipo_comunicacion = 5; },
         "configuracion_ais.ctipo_comunicacion: must be 1..4"},
        {"an unused channel's settings are not read",
         [](StationConfig& c) {
             c.configuracion_sensor[1].cbaudios_comunicacion = 9;
             c.configuracion_sensor[1].csample_interval = 0;
         },
         ""},
        {"a base station has no sample interval",
         [](StationConfig& c) { c.configuracion_sensor[1] = {1, 1, 2, 0, 0, 0, 0, 0}; }, ""},
        {"weather never valid",
         [](StationConfig& c) { c.configuracion_sensor[0].ctimeout_datos_validos = 0; },
         "configuracion_sensor[0].ctimeout_datos_validos: must be 1..255"},
        {"light input 7", [](StationConfig& c) { c.configuracion_ais.cinput_light_msg21 = 7; },
         "configuracion_ais.cinput_light_msg21: must be 0..6"},
        {"latitude beyond the pole",
         [](StationConfig& c) { c.configuracion_ais.llatitud_shipras[1] = 54000001; },
         "configuracion_ais.llatitud_shipras[1]: must be -54000000..54000000"},
        {"input function 3",
         [](StationConfig& c) { c.configuracion_ktr09.cfuncionalidad_entradas_externas[3] = 3; },
         "configuracion_ktr09.cfuncionalidad_entradas_externas[3]: must be 0..2"},
        {"release below the alarm",
         [](StationConfig& c) { c.configuracion_ktr09.fumbral_alarma_off[1] = 49; },
         "configuracion_ktr09.fumbral_alarma_off[1]: must be 0.50..655.35"},
        // 4095 counts of 3.3 V / 4096 through 100k over 8.2k: 43.533 V.
        {"battery alarm above what the board measures",
         [](StationConfig& c) {
             c.configuracion_ktr09.ftension_alarma_bateria_baja = 4354;
             c.configuracion_ktr09.ftension_alarma_bateria_off = 4360;
         },
         "configuracion_ktr09.ftension_alarma_bateria_baja: must be 0.00..43.53"},
        {"a negative input factor",
         [](StationConfig& c) { c.configuracion_ktr09.fconversor_analogica[1] = -0.5f; }, ""},
        {"a zero input factor",
         [](StationConfig& c) { c.configuracion_ktr09.fconversor_analogica[1] = 0.0f; },
         "configuracion_ktr09.fconversor_analogica[1]: must be a number other than 0"},
        {"a negative battery factor",
         [](StationConfig& c) { c.configuracion_ktr09.fconversor_bateria = -0.01f; },
         "configuracion_ktr09.fconversor_bateria: must be a positive number"},
    };
    for (const auto& c : cases) {
        StationConfig config = codec::default_station_config();
        c.change(config);
        const std::string error = codec::config_range_error(config);
        if (std::string(c.message).empty()) {
            EXPECT_EQ("", error) << c.description;
        } else {
            EXPECT_EQ(0u, error.find(c.message)) << c.description << ": " << error;
        }
    }
}

TEST(ConfigImageTest, AStoredImageNeedsEveryFieldOrAnImageToChange) {
    nlohmann::json whole =
        nlohmann::json::parse(codec::config_json_text(codec::default_station_config()));
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(codec::json_text_to_usable_image(whole.dump(), nullptr, &image, &error)) << error;
    whole["configuracion_ais"].erase("cbaudios");
    EXPECT_FALSE(codec::json_text_to_usable_image(whole.dump(), nullptr, &image, &error));
    EXPECT_EQ(0u, error.find("configuracion_ais.cbaudios: missing")) << error;

    // Changing one field of an image keeps every other byte.
    const std::vector<uint8_t> base = codec::encode_image(codec::default_station_config());
    ASSERT_TRUE(codec::json_text_to_usable_image(
        R"({"configuracion_sensor": [{"csample_interval": 5}, {}]})", &base, &image, &error))
        << error;
    std::vector<uint8_t> expected = base;
    expected[92] = 5;
    EXPECT_EQ(expected, image);
}

// The standard station's calibration: a 12.6 V battery through the board's
// divider reads as 12.6 V.
TEST(ConfigImageTest, StandardStationReadsTheBatteryInVolts) {
    const StationConfig config = codec::default_station_config();
    const double pin = 12.6 * sim::AnalogInputs::kBatteryDivider;
    const double counts = std::nearbyint(pin / 3.3 * 4096);
    EXPECT_NEAR(12.6, counts * config.configuracion_ktr09.fconversor_bateria, 0.02);
}

// ---- The command-line tool ------------------------------------------------

std::filesystem::path tool() {
    return KTR09_CONFIG_BINARY;
}

int run(const std::string& arguments) {
    const std::string command = tool().string() + " " + arguments + " 2>/dev/null";
    return std::system(command.c_str());
}

class ConfigToolTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = scratch.path(); }
    static std::vector<uint8_t> file_bytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    }
    TemporaryStateDir scratch;
    std::filesystem::path dir;
};

TEST_F(ConfigToolTest, DefaultToImageToJsonAndBack) {
    const auto json = dir / "station.json";
    const auto image = dir / "image.bin";
    const auto again = dir / "again.json";
    const auto image2 = dir / "image2.bin";
    ASSERT_EQ(0, run("default -o " + json.string()));
    ASSERT_EQ(0, run("to-image " + json.string() + " " + image.string()));
    EXPECT_EQ(codec::encode_image(codec::default_station_config()), file_bytes(image));
    ASSERT_EQ(0, run("to-json " + image.string() + " -o " + again.string()));
    ASSERT_EQ(0, run("to-image " + again.string() + " " + image2.string()));
    EXPECT_EQ(file_bytes(image), file_bytes(image2));
}

TEST_F(ConfigToolTest, FilesTheStationCannotUseAreRefusedBeforeAnythingIsWritten) {
    const auto image = dir / "image.bin";
    const auto message = dir / "stderr.txt";
    nlohmann::json zero_interval =
        nlohmann::json::parse(codec::config_json_text(codec::default_station_config()));
    zero_interval["configuracion_sensor"][0]["csample_interval"] = 0;
    const struct {
        const char* command;
        std::string file;
        const char* named;
    } cases[] = {
        {"to-image", zero_interval.dump(),
         "configuracion_sensor[0].csample_interval: must be 1..255"},
        {"to-image", R"({"configuracion_sensor": [{"csensor": 3}, {}]})",
         "configuracion_ais: missing"},
        {"to-image", R"({"configuracion_sensor": [{}, {"cbaudios": 4}]})",
         "configuracion_sensor[1].cbaudios: is not a known key"},
        {"to-image", R"({"configuracion_sensor": [{"csensor": -1}, {}]})",
         "configuracion_sensor[0].csensor: must be an integer"},
        // The file is judged before the device is opened.
        {"write", R"({"configuracion_ktr09": {"cnombre": "X"}})", "configuracion_sensor: missing"},
        {"write --merge", R"({"configuracion_ais": {"cbaudios": 7}})",
         "configuracion_ais.cbaudios: must be 0..6"},
    };
    for (const auto& c : cases) {
        const auto json = dir / "file.json";
        std::ofstream(json) << c.file;
        const std::string tail = std::string(c.command) == "to-image"
                                     ? " " + image.string()
                                     : " -d " + (dir / "no-such-device").string();
        const std::string command = tool().string() + " " + c.command + " " + json.string() + tail +
                                    " 2>" + message.string();
        EXPECT_NE(0, std::system(command.c_str())) << c.command;
        std::ifstream in(message);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        EXPECT_NE(std::string::npos, text.find(c.named)) << c.command << ": " << text;
        EXPECT_FALSE(std::filesystem::exists(image));
    }
}

TEST_F(ConfigToolTest, ImagesOfTheWrongSizeAreRefused) {
    std::ofstream(dir / "short.bin") << "not an image";
    EXPECT_NE(0, run("to-json " + (dir / "short.bin").string()));
    EXPECT_NE(0, run("to-json " + (dir / "missing.bin").string()));
}

}  // namespace
