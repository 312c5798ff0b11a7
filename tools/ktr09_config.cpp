// ktr09-config: builds the station's EEPROM configuration image from a
// readable JSON file, and prints an image back as that file.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/config_json.h"
#include "codec/config_image.h"

namespace {

bool read_text(const std::string& path, std::string* text) {
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Station configuration images: the 8 KB EEPROM image the KTR09 station loads at "
        "start-up, as a readable JSON file and back."};
    app.require_subcommand(1);

    std::string json_path;
    std::string image_path;
    CLI::App* to_image = app.add_subcommand(
        "to-image", "Build an image from a JSON configuration (missing fields are 0)");
    to_image->add_option("config", json_path, "JSON configuration file")->required();
    to_image->add_option("image", image_path, "Image file to write (8192 bytes)")->required();

    std::string read_path;
    std::string out_path;
    CLI::App* to_json = app.add_subcommand("to-json", "Print an image as a JSON configuration");
    to_json->add_option("image", read_path, "Image file (8192 bytes)")->required();
    to_json->add_option("-o,--output", out_path, "Write the JSON here instead of stdout");

    std::string default_path;
    CLI::App* make_default =
        app.add_subcommand("default", "Write the simulator's standard configuration as JSON");
    make_default->add_option("-o,--output", default_path, "Write the JSON here instead of stdout");

    CLI11_PARSE(app, argc, argv);

    std::string error;
    if (to_image->parsed()) {
        std::string text;
        if (!read_text(json_path, &text)) {
            std::fprintf(stderr, "ktr09-config: cannot read %s\n", json_path.c_str());
            return 1;
        }
        std::vector<uint8_t> image;
        if (!codec::json_text_to_image(text, &image, &error)) {
            std::fprintf(stderr, "ktr09-config: %s: %s\n", json_path.c_str(), error.c_str());
            return 1;
        }
        if (!write_bytes(image_path, image)) {
            std::fprintf(stderr, "ktr09-config: cannot write %s\n", image_path.c_str());
            return 1;
        }
        return 0;
    }

    std::string text;
    const std::string* output = nullptr;
    if (to_json->parsed()) {
        if (!codec::image_file_to_json_text(read_path, &text, &error)) {
            std::fprintf(stderr, "ktr09-config: %s\n", error.c_str());
            return 1;
        }
        output = &out_path;
    } else {
        text = codec::config_json_text(codec::default_station_config());
        output = &default_path;
    }
    if (output->empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    std::ofstream out(*output, std::ios::trunc);
    out << text;
    if (!out) {
        std::fprintf(stderr, "ktr09-config: cannot write %s\n", output->c_str());
        return 1;
    }
    return 0;
}
