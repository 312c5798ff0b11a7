#include "devices/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <system_error>
#include <vector>

#include "exit_codes.h"

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
                           std::string* error, StateValue value) {
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
        if (value == StateValue::rest_of_line) {
            words >> std::ws;
            std::getline(words, line.value);
            line.value.erase(line.value.find_last_not_of(" \t\r") + 1);
        } else if (!(words >> line.value) || (words >> extra)) {
            line.value.clear();
        }
        if (line.value.empty()) {
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

namespace {

// 0, or the errno of what failed.
int replace_file(const std::string& file, const std::string& contents) {
    std::error_code failure;
    std::filesystem::path target = file;
    if (std::filesystem::is_symlink(target, failure)) {
        target = std::filesystem::weakly_canonical(target, failure);
    }
    // One simulator holds the directory (state_lock.h), so a fixed name will do.
    const std::string temporary = target.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    struct stat old {};
    bool written = ::stat(target.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
    for (size_t done = 0; written && done < contents.size();) {
        const ssize_t count = ::write(fd, contents.data() + done, contents.size() - done);
        written = count > 0;
        done += written ? static_cast<size_t>(count) : 0;
    }
    const int write_error = errno;
    // close reports what a network file system kept back.
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = written ? errno : write_error;
        ::unlink(temporary.c_str());
        return error;
    }
    return 0;
}

}  // namespace

std::string replace_state_file(const std::string& file, const std::string& contents) {
    const int error = replace_file(file, contents);
    return error == 0 ? std::string() : file + ": " + std::strerror(error);
}

bool try_write_state_file(const std::string& file, const std::string& contents) {
    return replace_file(file, contents) == 0;
}

void write_state_file(const std::string& file, const std::string& contents) {
    if (const int error = replace_file(file, contents); error != 0) {
        stop_on_state_error(file, std::strerror(error));
    }
}

namespace {

std::mutex g_stop_mutex;
std::vector<std::string> g_remove_when_stopped;
void (*g_before_stop)() = nullptr;

}  // namespace

void remove_if_stopped(const std::string& file) {
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    g_remove_when_stopped.push_back(file);
}

void keep_if_stopped(const std::string& file) {
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    g_remove_when_stopped.erase(
        std::remove(g_remove_when_stopped.begin(), g_remove_when_stopped.end(), file),
        g_remove_when_stopped.end());
}

void before_state_stop(void (*action)()) {
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    g_before_stop = action;
}

void stop_on_state_error(const std::string& file, const std::string& error) {
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    if (g_before_stop != nullptr) {
        g_before_stop();
    }
    std::fflush(stdout);
    std::fprintf(stderr, "ktr09-sim: %s: %s\n", file.c_str(), error.c_str());
    for (const std::string& leftover : g_remove_when_stopped) {
        ::unlink(leftover.c_str());
    }
    // At once: the other thread may be inside the machine, and nothing more
    // the station does could reach the state directory whole.
    std::fflush(stderr);
    ::_exit(kExitStateError);
}

}  // namespace sim
