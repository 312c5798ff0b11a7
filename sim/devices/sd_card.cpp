#include "devices/sd_card.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "devices/device.h"
#include "devices/state_file.h"

namespace sim {
namespace {

constexpr uint32_t kBlocksPerMb = 2048;

// Sets bits high..low of a 128-bit register sent most significant byte first.
void put_field(uint8_t reg[16], unsigned high, unsigned low, uint32_t value) {
    for (unsigned bit = low; bit <= high; ++bit) {
        const uint8_t mask = static_cast<uint8_t>(1U << (bit % 8));
        if ((value >> (bit - low)) & 1U) {
            reg[15 - bit / 8] |= mask;
        } else {
            reg[15 - bit / 8] &= static_cast<uint8_t>(~mask);
        }
    }
}

// CRC7 (x^7 + x^3 + 1) of the first 15 bytes, in the top bits of the last,
// followed by the always-one end bit.
void seal(uint8_t reg[16]) {
    uint8_t crc = 0;
    for (int i = 0; i < 15; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const uint8_t in = static_cast<uint8_t>((reg[i] >> bit) & 1U);
            const uint8_t top = static_cast<uint8_t>((crc >> 6) & 1U);
            crc = static_cast<uint8_t>((crc << 1) & 0x7F);
            if ((in ^ top) != 0) {
                crc ^= 0x09;
            }
        }
    }
    reg[15] = static_cast<uint8_t>((crc << 1) | 1U);
}

// READ_BL_LEN and C_SIZE_MULT for a standard-capacity size: the smallest
// block length whose C_SIZE fits its 12 bits.
bool standard_geometry(uint32_t capacity_mb, uint32_t* bl_len, uint32_t* mult, uint32_t* c_size) {
    const uint64_t blocks = static_cast<uint64_t>(capacity_mb) * kBlocksPerMb;
    for (uint32_t len = 9; len <= 11; ++len) {
        for (uint32_t m = 7; m + 1 > 0; --m) {
            const uint32_t shift = m + 2 + len - 9;
            if (blocks % (1ULL << shift) == 0 && (blocks >> shift) <= 4096 &&
                (blocks >> shift) >= 1) {
                *bl_len = len;
                *mult = m;
                *c_size = static_cast<uint32_t>((blocks >> shift) - 1);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool parse_sd_profile(const std::string& text, SdCardModel::Profile* profile) {
    if (text == "sd1" || text == "sd2" || text == "sdhc") {
        *profile = text == "sd1"   ? SdCardModel::Profile::sd1
                   : text == "sd2" ? SdCardModel::Profile::sd2
                                   : SdCardModel::Profile::sdhc;
        return true;
    }
    return false;
}

const char* sd_profile_name(SdCardModel::Profile profile) {
    switch (profile) {
        case SdCardModel::Profile::sd1:
            return "sd1";
        case SdCardModel::Profile::sd2:
            return "sd2";
        case SdCardModel::Profile::sdhc:
            break;
    }
    return "sdhc";
}

bool SdCardModel::capacity_fits(Profile profile, uint32_t capacity_mb) {
    if (profile == Profile::sdhc) {
        return capacity_mb >= 1 && capacity_mb <= kMaxHighCapacityMb;
    }
    uint32_t len = 0;
    uint32_t mult = 0;
    uint32_t c_size = 0;
    return capacity_mb >= 1 && capacity_mb <= kMaxStandardMb &&
           standard_geometry(capacity_mb, &len, &mult, &c_size);
}

void SdCardModel::make_cid(Profile profile, uint32_t capacity_mb, uint8_t cid[16]) {
    (void)capacity_mb;
    // A SanDisk-style card made in March 2019.
    const char* product = profile == Profile::sdhc ? "SC16G" : "SU02G";
    std::memset(cid, 0, 16);
    cid[0] = 0x03;  // manufacturer
    cid[1] = 'S';   // OEM
    cid[2] = 'D';
    std::memcpy(cid + 3, product, 5);
    cid[8] = 0x80;  // revision 8.0
    cid[9] = 0x5A;  // serial number
    cid[10] = 0x3C;
    cid[11] = 0x91;
    cid[12] = 0x07;
    const uint32_t year = 2019 - 2000;
    const uint32_t month = 3;
    cid[13] = static_cast<uint8_t>(year >> 4);
    cid[14] = static_cast<uint8_t>(((year & 0x0F) << 4) | month);
    seal(cid);
}

void SdCardModel::make_csd(Profile profile, uint32_t capacity_mb, uint8_t csd[16]) {
    std::memset(csd, 0, 16);
    const bool high = profile == Profile::sdhc;
    uint32_t len = 9;
    uint32_t mult = 0;
    uint32_t c_size = 0;
    if (!high) {
        standard_geometry(capacity_mb, &len, &mult, &c_size);
    }
    put_field(csd, 127, 126, high ? 1 : 0);        // CSD_STRUCTURE
    put_field(csd, 119, 112, high ? 0x0E : 0x26);  // TAAC
    put_field(csd, 103, 96, 0x32);                 // TRAN_SPEED: 25 MHz
    put_field(csd, 95, 84, high ? 0x5B5 : 0x5F5);  // CCC
    put_field(csd, 83, 80, len);                   // READ_BL_LEN
    if (high) {
        put_field(csd, 69, 48, capacity_mb * (kBlocksPerMb / 1024) - 1);  // C_SIZE
    } else {
        put_field(csd, 79, 79, 1);       // READ_BL_PARTIAL
        put_field(csd, 73, 62, c_size);  // C_SIZE
        put_field(csd, 61, 59, 7);       // VDD_R_CURR_MIN
        put_field(csd, 58, 56, 6);       // VDD_R_CURR_MAX
        put_field(csd, 55, 53, 7);       // VDD_W_CURR_MIN
        put_field(csd, 52, 50, 6);       // VDD_W_CURR_MAX
        put_field(csd, 49, 47, mult);    // C_SIZE_MULT
    }
    put_field(csd, 46, 46, 1);     // ERASE_BLK_EN
    put_field(csd, 45, 39, 0x7F);  // SECTOR_SIZE: 128 write blocks
    put_field(csd, 28, 26, 2);     // R2W_FACTOR
    put_field(csd, 25, 22, len);   // WRITE_BL_LEN
    seal(csd);
}

SdCardModel::SdCardModel(Profile profile, uint32_t capacity_mb, std::string file, bool create)
    : profile_(profile),
      capacity_mb_(capacity_mb),
      blocks_(capacity_mb * kBlocksPerMb),
      file_(std::move(file)) {
    if (!capacity_fits(profile, capacity_mb)) {
        load_error_ = "a " + std::string(sd_profile_name(profile)) + " card cannot have " +
                      std::to_string(capacity_mb) + " MB";
        return;
    }
    if (file_.empty()) {
        return;
    }
    std::error_code failure;
    if (!std::filesystem::exists(file_, failure)) {
        if (create) {
            create_image();
        }
        return;
    }
    fd_ = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        load_error_ = file_ + ": " + std::strerror(errno);
    } else if (static_cast<uint64_t>(info.st_size) != static_cast<uint64_t>(blocks_) * kBlockSize) {
        load_error_ = file_ + ": " + std::to_string(info.st_size) + " bytes, expected " +
                      std::to_string(static_cast<uint64_t>(blocks_) * kBlockSize) + " for " +
                      std::to_string(capacity_mb_) + " MB (remove it for a new card)";
    }
    if (!load_error_.empty() && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SdCardModel::~SdCardModel() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    // Never formatted: not an image anyone could use.
    if (!staged_.empty()) {
        ::unlink(staged_.c_str());
        keep_if_stopped(staged_);
    }
}

bool SdCardModel::create_image(bool staged) {
    if (file_.empty() || fd_ >= 0) {
        return true;
    }
    // A staged image left by a stopped run is replaced.
    const std::string name = staged ? file_ + ".new" : file_;
    fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | (staged ? O_TRUNC : O_EXCL) | O_CLOEXEC, 0644);
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(blocks_) * kBlockSize) != 0) {
        load_error_ = file_ + ": " + std::strerror(errno);
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
            ::unlink(name.c_str());
        }
        return false;
    }
    if (staged) {
        staged_ = name;
        remove_if_stopped(staged_);
    }
    return true;
}

bool SdCardModel::commit_image() {
    if (staged_.empty()) {
        return true;
    }
    if (::rename(staged_.c_str(), file_.c_str()) != 0) {
        load_error_ = file_ + ": " + std::strerror(errno);
        return false;
    }
    keep_if_stopped(staged_);
    staged_.clear();
    return true;
}

void SdCardModel::stop_run(int error) const {
    stop_on_state_error(file_, std::strerror(error));
}

bool SdCardModel::transfer(bool write, uint32_t block, uint8_t* data) {
    if (fd_ < 0) {
        return false;
    }
    const off_t at = static_cast<off_t>(block) * kBlockSize;
    for (size_t done = 0; done < kBlockSize;) {
        const ssize_t count = write ? ::pwrite(fd_, data + done, kBlockSize - done, at + done)
                                    : ::pread(fd_, data + done, kBlockSize - done, at + done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            // Nothing read inside the image's size: it was cut short under us.
            stop_run(count == 0 ? EIO : errno);
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

void SdCardModel::set_removed(bool removed) {
    // A card put back is unpowered until the host starts it again.
    if (removed_ && !removed) {
        started_ = false;
    }
    removed_ = removed;
}

bool SdCardModel::start() {
    started_ = !removed_;
    return started_;
}

bool SdCardModel::read_cid(uint8_t cid[16]) {
    if (!answering()) {
        return false;
    }
    make_cid(profile_, capacity_mb_, cid);
    return true;
}

bool SdCardModel::read_csd(uint8_t csd[16]) {
    if (!answering()) {
        return false;
    }
    make_csd(profile_, capacity_mb_, csd);
    return true;
}

bool SdCardModel::read_ocr(uint32_t* ocr) {
    if (!answering()) {
        return false;
    }
    // Powered up, 2.7-3.6 V, and the capacity status for a block-addressed card.
    *ocr = 0x80FF8000U | (profile_ == Profile::sdhc ? 0x40000000U : 0U);
    return true;
}

bool SdCardModel::read_block(uint32_t block, uint8_t data[kBlockSize]) {
    if (!answering() || block >= blocks_) {
        return false;
    }
    if (file_.empty()) {
        const auto found = memory_.find(block);
        if (found == memory_.end()) {
            std::memset(data, 0, kBlockSize);
        } else {
            std::memcpy(data, found->second.data(), kBlockSize);
        }
        return true;
    }
    return transfer(false, block, data);
}

bool SdCardModel::write_block(uint32_t block, const uint8_t data[kBlockSize]) {
    if (!answering() || block >= blocks_) {
        return false;
    }
    ++blocks_written_;
    if (file_.empty()) {
        memory_[block].assign(data, data + kBlockSize);
        return true;
    }
    // pwrite only reads the block.
    return transfer(true, block, const_cast<uint8_t*>(data));
}

bool SdCardModel::erase(uint32_t first, uint32_t last) {
    if (!answering() || first > last || last >= blocks_) {
        return false;
    }
    if (file_.empty()) {
        memory_.erase(memory_.lower_bound(first), memory_.upper_bound(last));
        return true;
    }
    if (fd_ < 0) {
        return false;
    }
    const off_t start = static_cast<off_t>(first) * kBlockSize;
    const off_t length = static_cast<off_t>(last - first + 1) * kBlockSize;
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, start, length) == 0) {
        return true;
    }
    // A file system without holes: zeros only over the parts holding data.
    static const uint8_t zeros[kBlockSize] = {};
    off_t at = start;
    while (at < start + length) {
        const off_t data = ::lseek(fd_, at, SEEK_DATA);
        if (data < 0 || data >= start + length) {
            break;
        }
        off_t hole = ::lseek(fd_, data, SEEK_HOLE);
        hole = hole < 0 || hole > start + length ? start + length : hole;
        for (off_t b = data - data % kBlockSize; b < hole; b += kBlockSize) {
            if (::pwrite(fd_, zeros, kBlockSize, b) != static_cast<ssize_t>(kBlockSize)) {
                stop_run(errno);
            }
        }
        at = hole;
    }
    return true;
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The card in the station's slot: its image, the card description in
// sd_card.txt (capacity_mb, profile), and its fault keys.
namespace sim {
namespace {

constexpr uint32_t kDefaultMb = 64;
constexpr const char* kDescription = "sd_card.txt";

class SdCardDevice : public ModelDevice<SdCardModel> {
  public:
    SdCardDevice(std::unique_ptr<SdCardModel> model, std::string description)
        : ModelDevice(std::move(model)), description_(std::move(description)) {}
    std::string write_new_state() override {
        if (!description_.empty()) {
            // The card as loaded: the standard one, or the size of an image
            // the user put there without its description.
            write_state_file(description_,
                             "# The card in the slot: size in MB, and sd1, sd2 or sdhc.\n"
                             "capacity_mb " +
                                 std::to_string(model().capacity_mb()) + "\nprofile " +
                                 sd_profile_name(model().profile()) + "\n");
        }
        return model().create_image(true) ? std::string() : model().load_error();
    }
    void attach(const codec::StationConfig&) override { plug(); }
    void set_absent(bool absent) {
        absent_ = absent;
        plug();
    }

  private:
    void plug() { host::attach_sd_card(absent_ ? nullptr : &model()); }

    std::string description_;  // written when it was missing
    bool absent_ = false;
};

std::unique_ptr<Device> load(const std::filesystem::path& image, std::string* error) {
    const std::string text = (image.parent_path() / kDescription).string();
    std::vector<StateLine> lines;
    const StateRead read = read_state_lines(text, &lines, error);
    if (read == StateRead::failed) {
        return nullptr;
    }
    if (std::string refused = check_state_file(image.string()); !refused.empty()) {
        *error = refused;
        return nullptr;
    }
    std::error_code failure;
    const bool image_exists = std::filesystem::exists(image, failure);
    SdCardModel::Profile profile = SdCardModel::Profile::sd2;
    double capacity = kDefaultMb;
    if (read == StateRead::missing && image_exists) {
        // An image without its description: a standard card up to 2 GB.
        capacity = static_cast<double>(std::filesystem::file_size(image, failure) / (1 << 20));
        if (capacity > SdCardModel::kMaxStandardMb) {
            profile = SdCardModel::Profile::sdhc;
        }
    }
    for (const StateLine& line : lines) {
        if (line.name == "capacity_mb") {
            if (!state_number(text, line, &capacity, error)) {
                return nullptr;
            }
        } else if (line.name == "profile") {
            if (!parse_sd_profile(line.value, &profile)) {
                *error =
                    state_error(text, line.number,
                                "profile: expected sd1, sd2 or sdhc, got \"" + line.value + "\"");
                return nullptr;
            }
        } else {
            *error =
                state_error(text, line.number,
                            "unknown name \"" + line.name + "\" (expected capacity_mb, profile)");
            return nullptr;
        }
    }
    const uint32_t mb = capacity >= 1 && capacity <= SdCardModel::kMaxHighCapacityMb &&
                                capacity == static_cast<uint32_t>(capacity)
                            ? static_cast<uint32_t>(capacity)
                            : 0;
    if (!SdCardModel::capacity_fits(profile, mb)) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", capacity);
        *error = text + ": a " + sd_profile_name(profile) + " card cannot have " + shown +
                 " MB (sd1 and sd2: 1 to 2048; sdhc: 1 to 1048576)";
        return nullptr;
    }
    auto model = std::make_unique<SdCardModel>(profile, mb, image.string(), false);
    if (!model->load_error().empty()) {
        *error = model->load_error();
        return nullptr;
    }
    return std::make_unique<SdCardDevice>(std::move(model),
                                          read == StateRead::missing ? text : std::string());
}

// "sd_card_absent": the slot is empty (true) or holds the card again.
// "sd_card_removed": the card is pulled out now (true) or put back.
bool parse_step(const std::string& key, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    bool on = false;
    if (!step_bool(value, &on, expected)) {
        return false;
    }
    if (key == "sd_card_absent") {
        *step = [on](Device& device) { static_cast<SdCardDevice&>(device).set_absent(on); };
    } else {
        *step = [on](Device& device) { model_of<SdCardModel>(device).set_removed(on); };
    }
    return true;
}

}  // namespace

DeviceType sd_card_device_type() {
    return {"sd_card", "sd_card.img", {"sd_card_absent", "sd_card_removed"}, &load, &parse_step};
}

}  // namespace sim
