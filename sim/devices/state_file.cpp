#include "devices/state_file.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "host/machine.h"

namespace sim {
namespace {

// Whether `file` can be read and later rewritten in place.
bool usable(const std::string& file, std::string* error) {
    if (::access(file.c_str(), R_OK | W_OK) != 0) {
        *error = file + ": " + std::strerror(errno);
        return false;
    }
    std::error_code failure;
    if (!std::filesystem::is_regular_file(file, failure)) {
        *error = file + ": not a regular file";
        return false;
    }
    return true;
}

}  // namespace

std::string check_state_dir(const std::string& dir) {
    std::error_code failure;
    if (!std::filesystem::is_directory(dir, failure)) {
        return dir + ": not a directory";
    }
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0) {
        return dir + ": " + std::strerror(errno) +
               " (the state directory must be readable and writable)";
    }
    return {};
}

std::string check_state_file(const std::string& file) {
    std::error_code failure;
    std::string error;
    if ((std::filesystem::exists(file, failure) || failure) && !usable(file, &error)) {
        return error;
    }
    return {};
}

StateRead read_state_bytes(const std::string& file, size_t size, std::vector<uint8_t>* bytes,
                           std::string* error) {
    std::error_code failure;
    if (!std::filesystem::exists(file, failure) && !failure) {
        return StateRead::missing;
    }
    if (!usable(file, error)) {
        return StateRead::failed;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> content((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = file + ": cannot be read";
        return StateRead::failed;
    }
    if (content.size() != size) {
        *error = file + ": " + std::to_string(content.size()) + " bytes, expected " +
                 std::to_string(size) + " (remove it to start from a new part)";
        return StateRead::failed;
    }
    *bytes = std::move(content);
    return StateRead::read;
}

StateRead read_state_lines(const std::string& file, std::vector<StateLine>* lines,
                           std::string* error) {
    std::error_code failure;
    if (!std::filesystem::exists(file, failure) && !failure) {
        return StateRead::missing;
    }
    if (!usable(file, error)) {
        return StateRead::failed;
    }
    std::ifstream in(file);
    std::string text;
    for (unsigned number = 1; std::getline(in, text); ++number) {
        std::istringstream words(text);
        StateLine line{number, {}, {}};
        if (!(words >> line.name) || line.name[0] == '#') {
            continue;
        }
        std::string extra;
        if (!(words >> line.value) || (words >> extra)) {
            *error =
                state_error(file, number, "expected a name and one value, got \"" + text + "\"");
            return StateRead::failed;
        }
        lines->push_back(std::move(line));
    }
    if (in.bad()) {
        *error = file + ": cannot be read";
        return StateRead::failed;
    }
    return StateRead::read;
}

std::string state_error(const std::string& file, unsigned line, const std::string& what) {
    return file + ":" + std::to_string(line) + ": " + what;
}

bool state_number(const std::string& file, const StateLine& line, double* value,
                  std::string* error) {
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(line.value.c_str(), &end);
    if (line.value.empty() || *end != '\0' || errno != 0 || !std::isfinite(number)) {
        *error = state_error(file, line.number,
                             line.name + ": expected a number, got \"" + line.value + "\"");
        return false;
    }
    *value = number;
    return true;
}

bool try_write_state_file(const std::string& file, const std::string& contents) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.flush();
    return static_cast<bool>(out);
}

void write_state_file(const std::string& file, const std::string& contents) {
    if (!try_write_state_file(file, contents)) {
        host::fatal("cannot write " + file + ": " + std::strerror(errno));
    }
}

}  // namespace sim
