// The card's log and its volume, read from the image as outside tools see it.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "codec/nmea.h"
#include "monitors/monitors.h"

namespace sim::monitors {
namespace {

namespace fs = std::filesystem;

// Sentences in flight when the power goes or the run ends: heard, perhaps
// not yet written.
constexpr host::Micros kInFlight = 2 * host::kSecond;
// A record's tag time against the GPS time it was heard at: the station's
// clock is within 2 s of GPS, and the tag counts whole seconds.
constexpr int64_t kTagSlack = 3;

std::string shell_quoted(const std::string& text) {
    return "'" + text + "'";
}

// Runs a shell command; its exit status, and its output in `output`.
int run(const std::string& command, std::string* output) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output != nullptr) {
            output->append(buffer, count);
        }
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A check that needs an outside tool says once that it cannot run.
bool tool_ready(const char* tool, const char* missing, bool* noted) {
    if (::access(tool, X_OK) == 0) {
        return true;
    }
    if (!*noted) {
        std::fprintf(stderr, "%s\n", missing);
        *noted = true;
    }
    return false;
}

// The first block of the volume the station mounts: partition 1 when the
// first block holds a partition table with one, else the whole card.
uint64_t volume_block(const std::string& image) {
    std::ifstream in(image, std::ios::binary);
    unsigned char block[512] = {};
    if (!in.read(reinterpret_cast<char*>(block), sizeof block) || block[510] != 0x55 ||
        block[511] != 0xAA) {
        return 0;
    }
    const unsigned char* entry = block + 446;
    const uint32_t first = static_cast<uint32_t>(entry[8]) | static_cast<uint32_t>(entry[9]) << 8 |
                           static_cast<uint32_t>(entry[10]) << 16 |
                           static_cast<uint32_t>(entry[11]) << 24;
    // A boot sector of a volume without partition table starts with a jump.
    const bool boot_sector = block[0] == 0xEB || block[0] == 0xE9;
    return entry[4] != 0 && first != 0 && !boot_sector ? first : 0;
}

// A fresh directory for a copy of the card's files.
fs::path scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "ktr09-check-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

int64_t tag_time(const std::string& tag) {
    const size_t c = tag.find(",c:");
    if (c == std::string::npos) {
        return -1;
    }
    return std::strtoll(tag.c_str() + c + 3, nullptr, 10);
}

// "25_05_20/10_VDM.TXT" for a time in seconds since 1970.
std::string hour_file(int64_t seconds) {
    return utc_text(seconds, "%y_%m_%d/%H_VDM.TXT");
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

// ---- Card log ------------------------------------------------------------------

CardLogMonitor::CardLogMonitor(const World& world, Report* report)
    : Monitor("card-log", report), card_image_(world.card_image), gps_utc_(world.gps_utc) {
    read_card();
    baseline_taken_ = true;
}

void CardLogMonitor::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    if (port != World::kAisPort) {
        return;
    }
    if (!accepted) {
        overflow();
    }
    std::optional<std::string> line;
    line_.add(byte, accepted, &line);
    if (line) {
        last_line_ = host::now();
        overflow_reported_ = false;
    }
    if (line && line->rfind("!AIVDM,", 0) == 0 && codec::parse_sentence(*line)) {
        heard_.push_back({*line, host::now(), gps_utc_ ? gps_utc_() : -1, boot_, card_trouble_});
    }
}

void CardLogMonitor::overflow() {
    // Bytes are lost at a closed port or one at another rate too (a
    // transponder restarting, the link being set up); only a port that is
    // open, driven and was taking whole lines a moment ago lost them to its
    // full buffer: sentences the station never had.
    const host::UartStatus port = host::uart_status(World::kAisPort);
    const bool lost = port.lost != lost_seen_;  // not a byte noise spoilt
    lost_seen_ = port.lost;
    if (overflow_reported_ || !lost || !port.open || !port.driver_enabled ||
        host::now() > last_line_ + 2 * host::kSecond) {
        return;
    }
    overflow_reported_ = true;
    violation("bytes from the transponder lost to the station's full receive buffer");
}

void CardLogMonitor::usb_from_station(const uint8_t* data, size_t size) {
    console_.append(reinterpret_cast<const char*>(data), size);
    size_t end = 0;
    while ((end = console_.find('\n')) != std::string::npos) {
        const std::string line = console_.substr(0, end);
        console_.erase(0, end + 1);
        // What the station says when its card cannot log.
        for (const char* trouble :
             {"Error inicializacion SD", "Limite maximo de memoria SD superado",
              "File System initialization failed", "Error creando directorio", "Error escritura SD",
              "Tarjeta SD perdida"}) {
            if (line.find(trouble) != std::string::npos) {
                card_trouble();
            }
        }
        const std::string attempt = "Intento creacion fichero numero: ";
        if (const size_t at = line.find(attempt);
            at != std::string::npos && std::atoi(line.c_str() + at + attempt.size()) > 0) {
            card_trouble();
        }
        // Owed again once the hour's file is open again.
        if (line.find("_vdm.txt") != std::string::npos &&
            (line.find("Nuevo fichero creado") != std::string::npos ||
             line.find("Fichero existente") != std::string::npos)) {
            card_trouble_ = false;
        }
        // A card formatted from the console starts empty.
        if (line.find("Format done") != std::string::npos) {
            for (Heard& heard : heard_) {
                heard.excused = true;
            }
            baseline_.clear();
        }
    }
    if (console_.size() > 4096) {
        console_.erase(0, console_.size() - 1024);
    }
}

// The record being written when the card failed was heard a moment before.
void CardLogMonitor::card_trouble() {
    card_trouble_ = true;
    excuse_in_flight();
}

void CardLogMonitor::excuse_in_flight() {
    const host::Micros now = host::now();
    for (Heard& heard : heard_) {
        heard.excused = heard.excused || (heard.boot == boot_ && heard.at + kInFlight >= now);
    }
}

void CardLogMonitor::restarting(const char* reason) {
    excuse_in_flight();
    ++boot_;
    card_trouble_ = false;
    line_.clear();
    if (std::string(reason) == "power cycle") {
        read_card();
    }
}

void CardLogMonitor::finish() {
    excuse_in_flight();
    read_card();
    size_t excused = 0;
    for (const Heard& heard : heard_) {
        excused += heard.excused ? 1 : 0;
    }
    // So that a run where nothing could be judged does not pass unnoticed.
    std::fprintf(stderr,
                 "[check] card-log: %zu sentences heard, %zu found on the card, %zu owed "
                 "nothing (card not logging)\n",
                 heard_.size(), found_, excused);
}

void CardLogMonitor::read_card() {
    if (card_image_.empty() || !fs::exists(card_image_)) {
        return;
    }
    if (!tool_ready("/usr/bin/mcopy",
                    "[check] card-log: mtools not installed, the card log is not checked",
                    &noted_)) {
        return;
    }
    const fs::path copy = scratch_dir();
    const std::string source =
        shell_quoted(card_image_) + "@@" + std::to_string(volume_block(card_image_) * 512);
    std::string output;
    std::vector<Record> records;
    if (run("MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 /usr/bin/mcopy -s -n -i " + source + " ::/ " +
                shell_quoted(copy.string()),
            &output) == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(copy)) {
            const std::string name = upper(entry.path().filename().string());
            if (!entry.is_regular_file() || name.size() != 10 || name.substr(2) != "_VDM.TXT") {
                continue;
            }
            const std::string file =
                upper(entry.path().parent_path().filename().string()) + "/" + name;
            std::ifstream in(entry.path(), std::ios::binary);
            std::string line;
            while (std::getline(in, line)) {
                const size_t end_tag = line.find('\\', 1);
                if (line.empty() || line[0] != '\\' || end_tag == std::string::npos || in.eof()) {
                    continue;  // not a whole record: cut by a power cut
                }
                records.push_back(
                    {file, line.substr(1, end_tag - 1), line.substr(end_tag + 1) + "\n"});
            }
        }
    } else if (!noted_) {
        // A card with no volume the tools can read has no log to judge.
        std::fprintf(stderr, "[check] card-log: the card's files cannot be read: %s\n",
                     output.c_str());
        noted_ = true;
    }
    fs::remove_all(copy);
    if (!baseline_taken_) {
        baseline_taken_ = true;
        for (const Record& record : records) {
            baseline_[record.sentence].insert(tag_time(record.tag));
        }
        return;
    }
    judge(records);
}

void CardLogMonitor::judge(const std::vector<Record>& records) {
    // Each sentence's records by their tag time: a sentence heard again (an
    // AtoN's unchanging report) takes the record tagged when it was heard.
    std::map<std::string, std::multiset<int64_t>> on_card;
    for (const Record& record : records) {
        on_card[record.sentence].insert(tag_time(record.tag));
        const int64_t when = tag_time(record.tag);
        if (when >= 0 && hour_file(when) != record.file &&
            misplaced_.insert(record.file + record.tag + record.sentence).second) {
            violation(record.sentence.substr(0, record.sentence.size() - 2) + " tagged " +
                      utc_text(when) + " is in " + record.file);
        }
    }
    for (const auto& [sentence, times] : baseline_) {
        std::multiset<int64_t>& left = on_card[sentence];
        for (const int64_t time : times) {
            if (const auto it = left.find(time); it != left.end()) {
                left.erase(it);
            }
        }
    }
    // A record of the sentence tagged when it was heard, taken or only looked at.
    const auto take = [&on_card](const Heard& heard, bool erase) {
        std::multiset<int64_t>& left = on_card[heard.sentence];
        auto it = heard.utc < 0 ? left.begin() : left.lower_bound(heard.utc - kTagSlack);
        if (it == left.end() || (heard.utc >= 0 && *it > heard.utc + kTagSlack)) {
            return false;
        }
        if (erase) {
            left.erase(it);
        }
        return true;
    };
    // Each sentence owed takes one record of it, in the order heard; a
    // power-up owes nothing before its first sentence that reached the card.
    // Those owed nothing (in flight at a cut, before a format) take what is
    // left, so that a repeated sentence (an AtoN's unchanging report) they
    // were never written as is still owed by each later hearing.
    std::map<unsigned, bool> logging;
    size_t found = 0;
    for (size_t i = 0; i < heard_.size(); ++i) {
        const Heard& heard = heard_[i];
        if (heard.excused) {
            logging[heard.boot] = logging[heard.boot] || take(heard, false);
            continue;
        }
        if (take(heard, true)) {
            ++found;
            logging[heard.boot] = true;
            continue;
        }
        if (!logging[heard.boot] || !missing_.insert(i).second) {
            continue;
        }
        // Records of it tagged at other times: a clock that went wrong.
        const std::multiset<int64_t>& others = on_card[heard.sentence];
        violation(heard.sentence.substr(0, heard.sentence.size() - 2) + " heard at " +
                  std::to_string(heard.at / host::kMillisecond) + " ms" +
                  (heard.utc >= 0 ? " (" + utc_text(heard.utc) + ")" : std::string()) +
                  (others.empty() ? " is not on the card"
                                  : " is on the card only tagged " + utc_text(*others.begin())));
    }
    for (const Heard& heard : heard_) {
        if (heard.excused && take(heard, true)) {
            ++found;
        }
    }
    found_ = found;
    for (const Heard& heard : heard_) {
        const size_t left = on_card[heard.sentence].size();
        if (left > 0 && doubled_.insert(heard.sentence).second) {
            violation(heard.sentence.substr(0, heard.sentence.size() - 2) + " is on the card " +
                      std::to_string(left) + " more time(s) than it was heard");
        }
    }
}

// ---- The volume ------------------------------------------------------------------

CardFsckMonitor::CardFsckMonitor(const World& world, Report* report)
    : Monitor("card-fsck", report), card_image_(world.card_image) {}

void CardFsckMonitor::restarting(const char* reason) {
    if (std::string(reason) == "power cycle" && !formatting_) {
        check("after a power cut");
    }
    formatting_ = false;
    console_.clear();
}

void CardFsckMonitor::usb_from_station(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (const auto line = console_.add(data[i])) {
            formatting_ = (formatting_ || line->rfind("Formatting", 0) == 0) &&
                          line->rfind("Format done", 0) != 0;
        }
    }
}

std::string CardFsckMonitor::fsck_image(const std::string& image) {
    const fs::path dir = scratch_dir();
    const fs::path volume = dir / "volume.img";
    std::string output;
    int status = run("dd status=none conv=sparse bs=512 if=" + shell_quoted(image) +
                         " of=" + shell_quoted(volume.string()) +
                         " skip=" + std::to_string(volume_block(image)),
                     &output);
    if (status == 0) {
        output.clear();
        status = run("/usr/sbin/fsck.fat -n " + shell_quoted(volume.string()), &output);
    }
    fs::remove_all(dir);
    return status == 0 ? std::string() : output.empty() ? "fsck.fat failed" : output;
}

void CardFsckMonitor::check(const char* when) {
    if (card_image_.empty() || !fs::exists(card_image_)) {
        return;
    }
    if (!tool_ready("/usr/sbin/fsck.fat",
                    "[check] card-fsck: dosfstools not installed, the card's volume is not "
                    "checked",
                    &noted_)) {
        return;
    }
    if (const std::string fault = fsck_image(card_image_); !fault.empty()) {
        violation(std::string("fsck.fat -n ") + when + ": " + fault);
    }
}

}  // namespace sim::monitors
