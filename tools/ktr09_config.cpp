// ktr09-config: the station's PC configuration program. Converts between the
// readable JSON configuration file and the EEPROM image, and reads, writes
// and verifies a station's configuration over its serial link.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/config_fields.h"
#include "codec/config_image.h"
#include "codec/config_json.h"
#include "serial_link.h"
#include "sim/exit_codes.h"

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

// The parts of the image the station uses: block 1, block 2 and the
// calibration block.
std::vector<tools::Range> configuration_blocks() {
    std::vector<tools::Range> ranges;
    for (const codec::ConfigBlock& block : codec::kConfigBlocks) {
        ranges.push_back(tools::Range{block.address, block.size});
    }
    return ranges;
}

void show_progress(const char* verb, size_t done, size_t total) {
    // One line rewritten in place on a terminal, one line per block in a log.
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::fprintf(stderr, "%s%s %zu/%zu blocks%s", terminal ? "\r" : "", verb, done, total,
                 terminal ? (done == total ? "\n" : "") : "\n");
}

// The exit codes of the simulator's table (docs/exit-codes.md): a station
// that does not do as asked is a run fault, a file that cannot be read,
// taken whole or written a state error.
int fail(const std::string& message, int code = sim::kExitRunFault) {
    std::fprintf(stderr, "ktr09-config: %s\n", message.c_str());
    return code;
}

int fail_file(const std::string& message) {
    return fail(message, sim::kExitStateError);
}

// The image to store from a file: a whole configuration, or with `base` the
// fields the file gives changed in that image. Only values the station can
// use pass.
bool file_to_image(const std::string& path, const std::vector<uint8_t>* base,
                   std::vector<uint8_t>* image, std::string* error) {
    std::string text;
    if (!read_text(path, &text)) {
        *error = "cannot read " + path;
        return false;
    }
    if (!codec::json_text_to_usable_image(text, base, image, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool write_text(const std::string& path, const std::string& text) {
    if (path.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return true;
    }
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// 16 bytes a line, each line led by its address.
std::string hex_dump(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::string text;
    char cell[16];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(cell, sizeof cell, "%s%04X:", i == 0 ? "" : "\n",
                          static_cast<unsigned>(address + i));
            text += cell;
        }
        std::snprintf(cell, sizeof cell, " %02X", bytes[i]);
        text += cell;
    }
    return text + "\n";
}

struct LinkOptions {
    std::string device;
    int timeout_ms = 2000;
};

void add_link_options(CLI::App* command, LinkOptions* options) {
    command
        ->add_option("-d,--device", options->device,
                     "Serial device of the station (a port, or the simulator's USB pty)")
        ->required();
    command->add_option("--timeout", options->timeout_ms, "Milliseconds to wait for each reply")
        ->capture_default_str()
        ->check(CLI::Range(1, 60000));
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "KTR09 station configuration: the 8 KB EEPROM image the station loads at start-up, "
        "as a readable JSON file and back, and the station's configuration read, written "
        "and verified over its USB or serial link."};
    app.require_subcommand(1);

    std::string json_path;
    std::string image_path;
    CLI::App* to_image = app.add_subcommand(
        "to-image", "Build an image from a JSON configuration that gives every field");
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

    LinkOptions link_options;
    CLI::App* ping_command = app.add_subcommand("ping", "Check that the station answers");
    add_link_options(ping_command, &link_options);

    std::string station_json_path;
    std::string from_text;
    size_t count = 0;
    CLI::App* read_command = app.add_subcommand(
        "read", "Read the station's configuration as JSON, or an address range as hex");
    add_link_options(read_command, &link_options);
    read_command->add_option("-o,--output", station_json_path, "Write here instead of stdout");
    CLI::Option* from_option = read_command->add_option(
        "--from", from_text, "First address of a raw range (0x.. or decimal)");
    CLI::Option* count_option =
        read_command->add_option("--count", count, "Bytes of the raw range")
            ->check(CLI::Range(1, static_cast<int>(codec::kConfigImageSize)));
    from_option->needs(count_option);
    count_option->needs(from_option);

    std::string write_path;
    CLI::App* write_command = app.add_subcommand(
        "write", "Write a JSON configuration to the station, which applies it at once");
    add_link_options(write_command, &link_options);
    write_command->add_option("config", write_path, "JSON configuration file")->required();
    bool merge = false;
    write_command->add_flag("--merge", merge,
                            "Read the station's configuration first and change only the fields "
                            "the file gives");

    std::string verify_path;
    CLI::App* verify_command = app.add_subcommand(
        "verify", "Compare the station's configuration with a JSON file (exit 1 on a difference)");
    add_link_options(verify_command, &link_options);
    verify_command->add_option("config", verify_path, "JSON configuration file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& parse_error) {
        return app.exit(parse_error) == 0 ? sim::kExitDone : sim::kExitUsage;
    }

    std::string error;
    if (to_image->parsed()) {
        std::vector<uint8_t> image;
        if (!file_to_image(json_path, nullptr, &image, &error)) {
            return fail_file(error);
        }
        if (!write_bytes(image_path, image)) {
            return fail_file("cannot write " + image_path);
        }
        return 0;
    }
    if (to_json->parsed()) {
        std::string text;
        if (!codec::image_file_to_json_text(read_path, &text, &error)) {
            return fail_file(error);
        }
        return write_text(out_path, text) ? 0 : fail_file("cannot write " + out_path);
    }
    if (make_default->parsed()) {
        const std::string text = codec::config_json_text(codec::default_station_config());
        return write_text(default_path, text) ? 0 : fail_file("cannot write " + default_path);
    }

    // The file is checked before the station is touched (a merge on the
    // standard configuration, and again once the station's image is known).
    std::vector<uint8_t> file_image;
    const std::vector<uint8_t> standard = codec::encode_image(codec::default_station_config());
    if (write_command->parsed() &&
        !file_to_image(write_path, merge ? &standard : nullptr, &file_image, &error)) {
        return fail_file(error);
    }
    if (verify_command->parsed() && !file_to_image(verify_path, nullptr, &file_image, &error)) {
        return fail_file(error);
    }
    std::vector<tools::Range> ranges = configuration_blocks();
    if (from_option->count() != 0) {
        size_t from = 0;
        try {
            size_t used = 0;
            from = std::stoul(from_text, &used, 0);
            if (used != from_text.size()) {
                throw std::invalid_argument(from_text);
            }
        } catch (const std::exception&) {
            return fail("--from: not an address: " + from_text, sim::kExitUsage);
        }
        if (from + count > codec::kConfigImageSize) {
            return fail("--from/--count: the range runs past the 8192-byte EEPROM",
                        sim::kExitUsage);
        }
        ranges = {tools::Range{static_cast<uint32_t>(from), count}};
    }

    tools::SerialLink link;
    link.set_timeout_ms(link_options.timeout_ms);
    if (!link.open(link_options.device, &error)) {
        return fail(error);
    }
    if (ping_command->parsed()) {
        if (!tools::ping(&link, &error)) {
            return fail(error);
        }
        std::printf("station on %s answers\n", link_options.device.c_str());
        return 0;
    }
    if (write_command->parsed()) {
        if (merge) {
            std::vector<uint8_t> station_image = codec::blank_image();
            if (!tools::read_ranges(&link, ranges, &station_image, show_progress, &error)) {
                return fail(error);
            }
            if (!file_to_image(write_path, &station_image, &file_image, &error)) {
                return fail_file(error);
            }
        }
        if (!tools::write_ranges(&link, ranges, file_image, show_progress, &error)) {
            return fail(error);
        }
        return 0;
    }

    std::vector<uint8_t> station_image = codec::blank_image();
    if (!tools::read_ranges(&link, ranges, &station_image, show_progress, &error)) {
        return fail(error);
    }
    if (read_command->parsed()) {
        const tools::Range& range = ranges.front();
        const std::string text =
            from_option->count() != 0
                ? hex_dump(range.address,
                           std::vector<uint8_t>(station_image.begin() + range.address,
                                                station_image.begin() + range.address + range.size))
                : codec::config_json_text(codec::decode_image(station_image));
        return write_text(station_json_path, text) ? 0
                                                   : fail_file("cannot write " + station_json_path);
    }
    for (const tools::Range& range : ranges) {
        for (uint32_t address = range.address; address < range.address + range.size; ++address) {
            if (station_image[address] != file_image[address]) {
                char where[96];
                std::snprintf(where, sizeof where,
                              " differs from the station at address %u (0x%04X): station "
                              "0x%02X, file 0x%02X",
                              address, address, station_image[address], file_image[address]);
                return fail(verify_path + where);
            }
        }
    }
    std::printf("the station's configuration matches %s\n", verify_path.c_str());
    return 0;
}
