// The configuration image: the byte layout of the fields, exact round trips
// through the decoder and through JSON, the JSON checks, the standard
// station's settings, and the ktr09-config tool.
#include <gtest/gtest.h>

#include "support/state_dir.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/config_json.h"
#include "devices/analog_inputs.h"
#include "codec/config_image.h"

namespace {

using codec::StationConfig;

std::vector<uint8_t> bytes_at(const std::vector<uint8_t>& image, size_t at, size_t count) {
    return std::vector<uint8_t>(image.begin() + at, image.begin() + at + count);
}

std::vector<uint8_t> random_image(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> image(codec::kConfigImageSize);
    for (uint8_t& byte : image) {
        byte = static_cast<uint8_t>(random());
    }
    return image;
}

TEST(ConfigImageTest, FieldsLieWhereTheStationReadsThem) {
    StationConfig config;
    config.configuracion_sensor[0].csensor = 3;
    config.configuracion_sensor[1].cbaudios_comunicacion = 6;
    config.configuracion_ais.llatitud_shipras[0] = -5;
    config.configuracion_ais.llongitud_shipras[1] = 5;
    config.configuracion_ktr09.itemporizacion_salida_digital[3] = 0x0102;
    config.configuracion_ktr09.itemporizacion_entrada_externa[2] = 0x0304;
    config.configuracion_ktr09.ffactor_A[0] = 10000;  // 100.00
    config.configuracion_ktr09.ffactor_B[1] = -1234;  // -12.34
    config.configuracion_ktr09.ftension_alarma_bateria_baja = 1150;
    config.configuracion_ktr09.ivalor_0_analogica[1] = 0x0506;
    config.configuracion_ktr09.fconversor_bateria = 1.0f;
    const std::vector<uint8_t> image = codec::encode_image(config);
    ASSERT_EQ(codec::kConfigImageSize, image.size());
    struct Case {
        const char* name;
        size_t at;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"csensor of channel 1", 0, {3}},
        {"baud code of channel 2", 101, {6}},
        {"first latitude, sign and magnitude", 9, {0x05, 0x00, 0x00, 0x80}},
        {"second longitude", 21, {0x05, 0x00, 0x00, 0x00}},
        {"output 4 pulse, high byte first", 122, {0x01, 0x02}},
        {"input 3 debounce, high byte first", 136, {0x03, 0x04}},
        {"factor A of input 1, low byte first", 148, {0x10, 0x27, 0x00}},
        {"factor B of input 2", 162, {0xD2, 0x04, 0x00, 0x80}},
        {"low battery", 166, {0x04, 0x7E}},
        {"zero count of input 2", 0x1FFA, {0x05, 0x06}},
        {"battery factor, IEEE low byte first", 0x1FF0, {0x00, 0x00, 0x80, 0x3F}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bytes, bytes_at(image, c.at, c.bytes.size())) << c.name;
    }
}

TEST(ConfigImageTest, AnyImageComesBackByteForByte) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const std::vector<uint8_t> image = random_image(seed);
        EXPECT_EQ(image, codec::encode_image(codec::decode_image(image))) << "seed " << seed;
        std::vector<uint8_t> again;
        std::string error;
        const std::string text = codec::config_json_text(codec::decode_image(image));
        ASSERT_TRUE(codec::json_text_to_image(text, &again, &error)) << error;
        EXPECT_EQ(image, again) << "through JSON, seed " << seed;
    }
}

TEST(ConfigImageTest, JsonUsesDecimalsAndTheRecordNames) {
    const nlohmann::json document = nlohmann::json::parse(R"({
        "configuracion_sensor": [{"csensor": 3, "csample_interval": 15}, {}],
        "configuracion_ais": {"llatitud_shipras": [-25800000, 25860000]},
        "configuracion_ktr09": {
            "ftension_alarma_bateria_baja": 11.5,
            "ffactor_A": [1.006, 2],
            "ffactor_B": [-0.5, 0],
            "cnombre": "Faro Peñas",
            "fconversor_bateria": 0.0106
        },
        "sin_decodificar": [{"direccion": 30, "bytes": "AB CD"}]
    })");
    StationConfig config;
    std::string error;
    ASSERT_TRUE(codec::config_from_json(document, &config, &error)) << error;
    const std::vector<uint8_t> image = codec::encode_image(config);
    EXPECT_EQ(3, image[0]);
    EXPECT_EQ(15, image[92]);
    EXPECT_EQ((std::vector<uint8_t>{0x04, 0x7E}), bytes_at(image, 166, 2));
    EXPECT_EQ(101u, config.configuracion_ktr09.ffactor_A[0]) << "rounded to hundredths";
    EXPECT_EQ(-50, config.configuracion_ktr09.ffactor_B[0]);
    EXPECT_EQ(-25800000, config.configuracion_ais.llatitud_shipras[0]);
    EXPECT_EQ((std::vector<uint8_t>{'F', 'a', 'r', 'o', ' ', 'P', 'e', 0xF1, 'a', 's', 0}),
              bytes_at(image, 170, 11))
        << "one Latin-1 byte per character";
    EXPECT_EQ((std::vector<uint8_t>{0xAB, 0xCD}), bytes_at(image, 30, 2));
    EXPECT_EQ(0.0106f, config.configuracion_ktr09.fconversor_bateria);
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
    EXPECT_FALSE(
        codec::json_text_to_usable_image(R"({"configuracion_ais": {}})", nullptr, &image, &error));
    EXPECT_EQ(0u, error.find("configuracion_sensor: missing")) << error;

    // Changing one field of an image keeps every other byte.
    const std::vector<uint8_t> base = codec::encode_image(codec::default_station_config());
    ASSERT_TRUE(codec::json_text_to_usable_image(
        R"({"configuracion_sensor": [{"csample_interval": 5}, {}]})", &base, &image, &error))
        << error;
    std::vector<uint8_t> expected = base;
    expected[92] = 5;
    EXPECT_EQ(expected, image);
    EXPECT_FALSE(codec::json_text_to_usable_image(
        R"({"configuracion_sensor": [{"csample_interval": 0}, {}]})", &base, &image, &error));
    EXPECT_EQ(0u, error.find("configuracion_sensor[0].csample_interval")) << error;
}

TEST(ConfigImageTest, StandardStation) {
    const StationConfig config = codec::default_station_config();
    const codec::SensorChannelConfig& weather = config.configuracion_sensor[0];
    EXPECT_EQ(3, weather.csensor);
    EXPECT_EQ(1, weather.ctipo_comunicacion);
    EXPECT_EQ(10, weather.csample_interval);
    EXPECT_EQ(2, weather.cseg_delay_inicial);
    EXPECT_EQ(0, config.configuracion_sensor[1].csensor);
    EXPECT_EQ(1, config.configuracion_ais.ctipo_comunicacion);
    EXPECT_EQ(4, config.configuracion_ais.cbaudios) << "38400 baud";
    const auto& board = config.configuracion_ktr09;
    EXPECT_LT(board.ftension_alarma_bateria_baja, board.ftension_alarma_bateria_off);
    for (int k = 0; k < 2; ++k) {
        EXPECT_LT(board.fumbral_alarma_on[k], board.fumbral_alarma_off[k]);
    }
    EXPECT_NE(0, board.cnombre[0]);
    // A 12.6 V battery through the board's divider reads as 12.6 V.
    const double pin = 12.6 * sim::AnalogInputs::kBatteryDivider;
    const double counts = std::nearbyint(pin / 3.3 * 4096);
    EXPECT_NEAR(12.6, counts * board.fconversor_bateria, 0.02);
    const auto& ais = config.configuracion_ais;
    EXPECT_NE(ais.llatitud_shipras[0], ais.llatitud_shipras[1]);
    EXPECT_NE(ais.llongitud_shipras[0], ais.llongitud_shipras[1]);
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

TEST_F(ConfigToolTest, MisspeltKeyIsNamedAndNoImageIsWritten) {
    const auto json = dir / "misspelt.json";
    const auto image = dir / "image.bin";
    const auto message = dir / "stderr.txt";
    std::ofstream(json) << R"({"configuracion_sensor": [{}, {"cbaudios": 4}]})";
    const std::string command = tool().string() + " to-image " + json.string() + " " +
                                image.string() + " 2>" + message.string();
    EXPECT_NE(0, std::system(command.c_str()));
    std::ifstream in(message);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("configuracion_sensor[1].cbaudios")) << text;
    EXPECT_FALSE(std::filesystem::exists(image));
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

TEST_F(ConfigToolTest, BadInputsFail) {
    const auto json = dir / "bad.json";
    std::ofstream(json) << R"({"configuracion_sensor": [{"csensor": -1}, {}]})";
    EXPECT_NE(0, run("to-image " + json.string() + " " + (dir / "x.bin").string()));
    std::ofstream(dir / "short.bin") << "not an image";
    EXPECT_NE(0, run("to-json " + (dir / "short.bin").string()));
    EXPECT_NE(0, run("to-json " + (dir / "missing.bin").string()));
}

}  // namespace
