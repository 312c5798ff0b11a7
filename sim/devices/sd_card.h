// A micro SD card: its CID, CSD and OCR registers as a card of its profile
// sends them, and its 512-byte blocks in a sparse image file (or in memory).
// Erased blocks read 0x00; an erase punches holes in the file instead of
// writing zeros. An image file the host cannot read or write stops the
// simulator (stop_on_state_error) rather than failing the station's command.
// A card pulled from the slot answers nothing until it is put back and
// started again.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

class SdCardModel : public host::SdCard {
  public:
    // sd1: standard capacity, physical layer 1.x; sd2: standard capacity,
    // 2.00 (CSD version 1, up to 2 GB); sdhc: high capacity (CSD version 2,
    // block addressed).
    enum class Profile { sd1, sd2, sdhc };
    static constexpr uint32_t kMaxStandardMb = 2048;
    static constexpr uint32_t kMaxHighCapacityMb = 1024 * 1024;

    // With a file name the blocks live in that image file, created sparse
    // when missing unless `create` is false (then create_image() makes it
    // later); an existing one must have the card's size. Without a file name
    // they live in memory. Check load_error() after construction.
    SdCardModel(Profile profile, uint32_t capacity_mb, std::string file = {}, bool create = true);
    // Makes the missing image file, all blocks erased; false with load_error().
    // A `staged` one is made under a temporary name and becomes the image
    // only at commit_image(): a card whose first format fails leaves none.
    bool create_image(bool staged = false);
    bool commit_image();
    ~SdCardModel() override;
    SdCardModel(const SdCardModel&) = delete;
    SdCardModel& operator=(const SdCardModel&) = delete;
    const std::string& load_error() const { return load_error_; }
    const std::string& file() const { return file_; }
    Profile profile() const { return profile_; }
    uint32_t capacity_mb() const { return capacity_mb_; }

    // ---- Test-facing ----------------------------------------------------
    // Card pulled out (true) or put back (false).
    void set_removed(bool removed);
    bool removed() const { return removed_; }
    // Blocks written and erase calls so far.
    uint64_t blocks_written() const { return blocks_written_; }
    // The profile's registers, as the card sends them.
    static void make_cid(Profile profile, uint32_t capacity_mb, uint8_t cid[16]);
    static void make_csd(Profile profile, uint32_t capacity_mb, uint8_t csd[16]);
    // Whether a profile can have this capacity (standard ones: at most 2 GB).
    static bool capacity_fits(Profile profile, uint32_t capacity_mb);

    // ---- host::SdCard ---------------------------------------------------
    bool present() override { return !removed_; }
    bool start() override;
    bool version_2() override { return profile_ != Profile::sd1; }
    bool high_capacity() override { return profile_ == Profile::sdhc; }
    uint32_t block_count() override { return blocks_; }
    bool read_cid(uint8_t cid[16]) override;
    bool read_csd(uint8_t csd[16]) override;
    bool read_ocr(uint32_t* ocr) override;
    bool read_block(uint32_t block, uint8_t data[kBlockSize]) override;
    bool write_block(uint32_t block, const uint8_t data[kBlockSize]) override;
    bool erase(uint32_t first, uint32_t last) override;

  private:
    bool answering() const { return !removed_ && started_; }
    // The image file failed the host (a full disk, an I/O error): no fault of
    // the card, and a run that went on would lose what the station logs.
    [[noreturn]] void stop_run(int error) const;
    bool transfer(bool write, uint32_t block, uint8_t* data);

    Profile profile_;
    uint32_t capacity_mb_;
    uint32_t blocks_;
    std::string file_;
    std::string load_error_;
    std::string staged_;  // the image's name until it is committed
    int fd_ = -1;
    std::map<uint32_t, std::vector<uint8_t>> memory_;
    bool removed_ = false;
    bool started_ = true;
    uint64_t blocks_written_ = 0;
};

// "sd1", "sd2", "sdhc" and back.
bool parse_sd_profile(const std::string& text, SdCardModel::Profile* profile);
const char* sd_profile_name(SdCardModel::Profile profile);

}  // namespace sim
