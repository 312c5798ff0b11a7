#include "log_card.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log_time.h"

extern char** environ;

namespace logtool {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kBlock = 512;

int two_digits(const std::string& text, size_t at) {
    if (at + 2 > text.size() || !std::isdigit(static_cast<unsigned char>(text[at])) ||
        !std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
        return -1;
    }
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

bool boot_sector(const uint8_t* block) {
    const uint8_t per_cluster = block[13];
    return (block[0] == 0xEB || block[0] == 0xE9) && le16(block + 11) == kBlock &&
           per_cluster != 0 && (per_cluster & (per_cluster - 1)) == 0 && le16(block + 14) != 0 &&
           (block[16] == 1 || block[16] == 2) && block[510] == 0x55 && block[511] == 0xAA;
}

bool fat_partition_type(uint8_t type) {
    return type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0B || type == 0x0C ||
           type == 0x0E;
}

struct ProgramRun {
    bool started = false;
    int status = -1;
    std::string out;
    std::string err;
};

// Runs an mtools program with the image's volume; what it writes on stdout
// and stderr comes back whole. The station's formatter lays volumes that
// mtools' geometry check would refuse, and its files have short names only.
ProgramRun run_mtools(const std::vector<std::string>& arguments) {
    ProgramRun run;
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0) {
        return run;
    }
    if (::pipe(err_pipe) != 0) {
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    std::vector<std::string> environment = {"MTOOLS_SKIP_CHECK=1", "MTOOLS_NO_VFAT=1"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "MTOOLS", 6) != 0) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (spawned == 0) {
        run.started = true;
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        std::string* sinks[2] = {&run.out, &run.err};
        char buffer[65536];
        int open_pipes = 2;
        while (open_pipes > 0 && ::poll(fds, 2, -1) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) {
                    continue;
                }
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open_pipes;
                }
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    return run;
}

// Hour by hour, each hour's AIS file before its data-link file.
void in_time_order(std::vector<LogFile>* files) {
    std::sort(files->begin(), files->end(), [](const LogFile& a, const LogFile& b) {
        return a.hour_start != b.hour_start ? a.hour_start < b.hour_start : a.kind < b.kind;
    });
}

std::string first_line(const std::string& text) {
    const size_t end = text.find('\n');
    return text.substr(0, end);
}

}  // namespace

std::optional<LogFile> log_file_of(const std::string& day, const std::string& file) {
    const int yy = two_digits(day, 0);
    const int mm = two_digits(day, 3);
    const int dd = two_digits(day, 6);
    const int hh = two_digits(file, 0);
    const std::string tail = lower(file.size() > 2 ? file.substr(2) : "");
    if (day.size() != 8 || day[2] != '_' || day[5] != '_' || yy < 0 || mm < 1 || mm > 12 ||
        dd < 1 || dd > 31 || hh < 0 || hh > 23 || (tail != "_vdm.txt" && tail != "_tlk.txt")) {
        return std::nullopt;
    }
    LogFile log;
    log.name = lower(day) + "/" + lower(file);
    log.hour_start =
        days_from_civil(2000 + yy, static_cast<unsigned>(mm), static_cast<unsigned>(dd)) * 86400 +
        hh * 3600;
    log.kind = tail == "_vdm.txt" ? LogKind::kAis : LogKind::kTidelink;
    return log;
}

bool within(const LogFile& file, const std::string& part) {
    return part.empty() || lower(file.name).compare(0, part.size(), lower(part)) == 0;
}

std::optional<uint64_t> volume_offset(const uint8_t* block0, uint64_t image_size,
                                      std::string* error) {
    if (image_size < kBlock) {
        *error = "too small for a card image (" + std::to_string(image_size) + " bytes)";
        return std::nullopt;
    }
    if (boot_sector(block0)) {
        return 0;
    }
    if (block0[510] == 0x55 && block0[511] == 0xAA) {
        for (int entry = 0; entry < 4; ++entry) {
            const uint8_t* p = block0 + 446 + 16 * entry;
            const uint64_t first = le32(p + 8);
            if ((p[0] == 0x00 || p[0] == 0x80) && fat_partition_type(p[4]) && first != 0 &&
                (first + 1) * kBlock <= image_size) {
                return first * kBlock;
            }
        }
    }
    *error =
        "no FAT volume: block 0 holds neither a FAT boot sector nor a partition table "
        "with a FAT partition";
    return std::nullopt;
}

std::optional<Card> Card::open(const std::string& path, std::string* error) {
    Card card;
    std::error_code code;
    const fs::file_status status = fs::status(path, code);
    if (code) {
        *error = path + ": " + code.message();
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        const fs::path normal = fs::path(path).lexically_normal();
        const fs::path directory = normal.has_filename() ? normal : normal.parent_path();
        const std::string leaf = directory.filename().string();
        const bool day = log_file_of(leaf, "00_vdm.txt").has_value();
        card.path_ = day ? directory.parent_path().string() : normal.string();
        card.description_ = path;
        card.list_directory(day ? leaf : "");
        return card;
    }
    const fs::path file(path);
    const std::optional<LogFile> one =
        log_file_of(file.parent_path().filename().string(), file.filename().string());
    if (one) {
        card.path_ = file.parent_path().parent_path().string();
        card.description_ = path;
        card.files_.push_back(*one);
        return card;
    }
    std::ifstream in(path, std::ios::binary);
    uint8_t block0[kBlock] = {};
    in.read(reinterpret_cast<char*>(block0), kBlock);
    if (!in) {
        *error = path + ": cannot be read as a card image";
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const uint64_t size = static_cast<uint64_t>(in.tellg());
    const std::optional<uint64_t> offset = volume_offset(block0, size, error);
    if (!offset) {
        *error = path + ": " + *error;
        return std::nullopt;
    }
    card.path_ = path;
    card.image_ = true;
    card.offset_ = *offset;
    card.description_ = path + " (FAT volume at block " + std::to_string(*offset / kBlock) + ")";
    if (!card.list_image(error)) {
        *error = path + ": " + *error;
        return std::nullopt;
    }
    return card;
}

void Card::list_directory(const std::string& day_only) {
    std::error_code code;
    for (const fs::directory_entry& day : fs::directory_iterator(path_, code)) {
        const std::string day_name = day.path().filename().string();
        if (!day.is_directory(code) || (!day_only.empty() && day_name != day_only)) {
            continue;
        }
        for (const fs::directory_entry& file : fs::directory_iterator(day.path(), code)) {
            std::optional<LogFile> log = log_file_of(day_name, file.path().filename().string());
            if (log && file.is_regular_file(code)) {
                log->name = day_name + "/" + file.path().filename().string();
                files_.push_back(*log);
            }
        }
    }
    in_time_order(&files_);
}

bool Card::list_image(std::string* error) {
    const std::string volume = path_ + "@@" + std::to_string(offset_);
    const ProgramRun run = run_mtools({"mdir", "-/", "-b", "-i", volume, "::/"});
    if (!run.started) {
        *error =
            "mtools is needed to read a card image (Debian: apt install mtools); "
            "or mount the card and give its directory";
        return false;
    }
    // An empty volume: mdir finds nothing to list.
    if (run.status != 0 && !(run.out.empty() && run.err.find("not found") != std::string::npos)) {
        *error = "mdir: " + first_line(run.err);
        return false;
    }
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        // "::/25_05_20/10_VDM.TXT": files of a day directory in the root.
        if (line.rfind("::/", 0) != 0) {
            continue;
        }
        const std::string rest = line.substr(3);
        const size_t slash = rest.find('/');
        if (slash == std::string::npos || rest.find('/', slash + 1) != std::string::npos) {
            continue;
        }
        std::optional<LogFile> log = log_file_of(rest.substr(0, slash), rest.substr(slash + 1));
        if (log) {
            files_.push_back(*log);
        }
    }
    in_time_order(&files_);
    return true;
}

bool Card::read(const LogFile& file, std::string* bytes, std::string* error) const {
    if (image_) {
        const std::string volume = path_ + "@@" + std::to_string(offset_);
        ProgramRun run = run_mtools({"mtype", "-i", volume, "::/" + file.name});
        if (!run.started || run.status != 0) {
            *error = run.started ? "mtype: " + first_line(run.err) : "mtype cannot be started";
            return false;
        }
        *bytes = std::move(run.out);
        return true;
    }
    const fs::path full = fs::path(path_) / file.name;
    std::ifstream in(full, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in) {
        *error = std::strerror(errno);
        return false;
    }
    *bytes = content.str();
    return true;
}

}  // namespace logtool
