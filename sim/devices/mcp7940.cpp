#include "devices/mcp7940.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "devices/device.h"
#include "devices/state_file.h"
#include "devices/variation.h"
#include "host/machine.h"

namespace sim {
namespace {

constexpr host::Micros kNotStarting = UINT64_MAX;
constexpr uint8_t kPowerFailBit = 0x10;  // weekday: PWRFAIL, can only be cleared
constexpr uint8_t kTimeBlockEnd = 0x20;

int from_bcd(uint8_t value) {
    return (value >> 4) * 10 + (value & 0x0F);
}

uint8_t to_bcd(int value) {
    return static_cast<uint8_t>(((value / 10) << 4) | (value % 10));
}

int days_in_month(int month, int year) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 31;
    }
    return month == 2 && year % 4 == 0 ? 29 : kDays[month - 1];
}

}  // namespace

Mcp7940::Mcp7940(std::string file) : I2cRegisterDevice(1, kRegisterCount), file_(std::move(file)) {
    if (!file_.empty()) {
        std::vector<uint8_t> saved;
        switch (read_state_bytes(file_, kRegisterCount, &saved, &load_error_)) {
            case StateRead::read:
                std::copy(saved.begin(), saved.end(), regs_);
                break;
            case StateRead::failed:
                file_.clear();
                break;
            case StateRead::missing:
                break;
        }
    }
    counted_to_ = host::now();
    // A clock that was running when saved has kept running on its battery.
    running_ = (regs_[kSeconds] & kStartBit) != 0 && can_oscillate();
}

Mcp7940::~Mcp7940() {
    // The time run since the last write, for the next run to go on from.
    if (!file_.empty()) {
        catch_up();
        try_write_state_file(file_, std::string(std::begin(regs_), std::end(regs_)));
    }
}

void Mcp7940::vary(uint64_t seed) {
    catch_up();
    // Its own generator: "RTC-7940" in ASCII.
    Variation variation(seed, 0x5254432D37393430ull);
    drift_ppb_ = variation.between(-kLargestDriftPpb, kLargestDriftPpb);
}

host::Micros Mcp7940::crystal_time(host::Micros elapsed) {
    if (drift_ppb_ == 0) {
        return elapsed;
    }
    constexpr int64_t kBillion = 1000000000;
    // Below 2^63 for any run shorter than some 14 years at the largest drift.
    const int64_t scaled = static_cast<int64_t>(elapsed) * drift_ppb_ + drift_remainder_;
    int64_t extra = scaled / kBillion;
    if (scaled % kBillion < 0) {
        --extra;
    }
    drift_remainder_ = scaled - extra * kBillion;
    return static_cast<host::Micros>(static_cast<int64_t>(elapsed) + extra);
}

bool Mcp7940::can_oscillate() const {
    return !crystal_failed_ && ((regs_[kControl] & kExtOscBit) == 0 || external_clock_);
}

void Mcp7940::catch_up() {
    const host::Micros now = host::now();
    if (now < counted_to_) {
        // The machine was reset under the part: nothing to count.
        counted_to_ = now;
    }
    if (!running_ && starts_at_ != kNotStarting && now >= starts_at_) {
        running_ = true;
        counted_to_ = starts_at_;
        subsecond_ = 0;
        starts_at_ = kNotStarting;
    }
    if (running_) {
        const host::Micros total = subsecond_ + crystal_time(now - counted_to_);
        subsecond_ = total % host::kSecond;
        for (host::Micros n = total / host::kSecond; n > 0; --n) {
            count_second();
        }
    }
    counted_to_ = now;
}

void Mcp7940::update_oscillator() {
    const bool wanted = (regs_[kSeconds] & kStartBit) != 0 && can_oscillate();
    if (!wanted) {
        running_ = false;
        starts_at_ = kNotStarting;
        return;
    }
    if (!running_ && starts_at_ == kNotStarting) {
        starts_at_ = host::now() + kOscillatorStartup;
    }
}

// The counters of the part: each rolls over after its last value and carries
// into the next, the date by the month's length (leap years by year % 4).
void Mcp7940::count_second() {
    int second = from_bcd(regs_[kSeconds] & 0x7F) + 1;
    const uint8_t start = regs_[kSeconds] & kStartBit;
    if (second < 60) {
        regs_[kSeconds] = static_cast<uint8_t>(start | to_bcd(second));
        return;
    }
    regs_[kSeconds] = start;
    int minute = from_bcd(regs_[kMinutes] & 0x7F) + 1;
    if (minute < 60) {
        regs_[kMinutes] = to_bcd(minute);
        return;
    }
    regs_[kMinutes] = 0;
    bool next_day = false;
    if ((regs_[kHours] & kTwelveHourBit) != 0) {
        int hour = from_bcd(regs_[kHours] & 0x1F);
        bool pm = (regs_[kHours] & kPmBit) != 0;
        if (hour == 11) {
            hour = 12;
            next_day = pm;
            pm = !pm;
        } else {
            hour = hour >= 12 ? 1 : hour + 1;
        }
        regs_[kHours] = static_cast<uint8_t>(kTwelveHourBit | (pm ? kPmBit : 0) | to_bcd(hour));
    } else {
        int hour = from_bcd(regs_[kHours] & 0x3F) + 1;
        next_day = hour > 23;
        regs_[kHours] = to_bcd(next_day ? 0 : hour);
    }
    if (!next_day) {
        return;
    }
    const int weekday = regs_[kWeekday] & 0x07;
    regs_[kWeekday] =
        static_cast<uint8_t>((regs_[kWeekday] & ~0x07) | (weekday >= 7 ? 1 : weekday + 1));
    const int year = from_bcd(regs_[kYear]);
    const int month = from_bcd(regs_[kMonth] & 0x1F);
    const int day = from_bcd(regs_[kDate] & 0x3F) + 1;
    if (day <= days_in_month(month, year)) {
        regs_[kDate] = to_bcd(day);
        return;
    }
    regs_[kDate] = to_bcd(1);
    if (month + 1 <= 12) {
        regs_[kMonth] = to_bcd(month + 1);
        return;
    }
    regs_[kMonth] = to_bcd(1);
    regs_[kYear] = to_bcd(year >= 99 ? 0 : year + 1);
}

uint8_t Mcp7940::read_register(uint32_t reg) {
    switch (reg) {
        case kWeekday:
            return static_cast<uint8_t>(regs_[kWeekday] | (running_ ? kOscRunBit : 0));
        case kMonth:
            return static_cast<uint8_t>(regs_[kMonth] |
                                        (from_bcd(regs_[kYear]) % 4 == 0 ? kLeapYearBit : 0));
        default:
            return regs_[reg];
    }
}

void Mcp7940::write_register(uint32_t reg, uint8_t value) {
    switch (reg) {
        case kSeconds:
            // The divider chain below the seconds runs on: a write does not
            // restart the current second.
            regs_[kSeconds] = value;
            break;
        case kWeekday: {
            const uint8_t power_fail = regs_[kWeekday] & value & kPowerFailBit;
            regs_[kWeekday] =
                static_cast<uint8_t>((value & ~(kOscRunBit | kPowerFailBit)) | power_fail);
            break;
        }
        case kMonth:
            regs_[kMonth] = value & static_cast<uint8_t>(~kLeapYearBit);
            break;
        default:
            regs_[reg] = value;
            break;
    }
}

// The timekeeping block and the SRAM each wrap on themselves.
uint32_t Mcp7940::next_read_register(uint32_t reg) const {
    if (reg < kTimeBlockEnd) {
        return (reg + 1) % kTimeBlockEnd;
    }
    return reg + 1 < kRegisterCount ? reg + 1 : kSramStart;
}

uint32_t Mcp7940::next_write_register(uint32_t reg) const {
    return next_read_register(reg);
}

void Mcp7940::end_write(uint32_t first_register, size_t data_bytes) {
    static_cast<void>(first_register);
    if (data_bytes == 0) {
        return;
    }
    update_oscillator();
    save();
}

void Mcp7940::set_time(const Time& time) {
    catch_up();
    regs_[kSeconds] = static_cast<uint8_t>(kStartBit | to_bcd(time.second));
    regs_[kMinutes] = to_bcd(time.minute);
    regs_[kHours] = to_bcd(time.hour);
    regs_[kWeekday] = static_cast<uint8_t>((regs_[kWeekday] & 0x18) | (time.weekday & 0x07));
    regs_[kDate] = to_bcd(time.day);
    regs_[kMonth] = to_bcd(time.month);
    regs_[kYear] = to_bcd(time.year);
    subsecond_ = 0;
    starts_at_ = kNotStarting;
    running_ = can_oscillate();
    save();
}

Mcp7940::Time Mcp7940::time() {
    catch_up();
    Time time{};
    time.second = from_bcd(regs_[kSeconds] & 0x7F);
    time.minute = from_bcd(regs_[kMinutes] & 0x7F);
    if ((regs_[kHours] & kTwelveHourBit) != 0) {
        const int hour = from_bcd(regs_[kHours] & 0x1F) % 12;
        time.hour = (regs_[kHours] & kPmBit) != 0 ? hour + 12 : hour;
    } else {
        time.hour = from_bcd(regs_[kHours] & 0x3F);
    }
    time.weekday = regs_[kWeekday] & 0x07;
    time.day = from_bcd(regs_[kDate] & 0x3F);
    time.month = from_bcd(regs_[kMonth] & 0x1F);
    time.year = from_bcd(regs_[kYear]);
    return time;
}

uint8_t Mcp7940::peek(uint8_t reg) {
    catch_up();
    return read_register(reg % kRegisterCount);
}

void Mcp7940::poke(uint8_t reg, uint8_t value) {
    catch_up();
    write_register(reg % kRegisterCount, value);
    end_write(reg, 1);
}

bool Mcp7940::oscillator_running() {
    catch_up();
    return running_;
}

void Mcp7940::set_crystal_failed(bool failed) {
    catch_up();
    crystal_failed_ = failed;
    update_oscillator();
}

void Mcp7940::stop_oscillator() {
    catch_up();
    regs_[kSeconds] &= static_cast<uint8_t>(~kStartBit);
    update_oscillator();
    save();
}

void Mcp7940::set_external_clock(bool present) {
    catch_up();
    external_clock_ = present;
    update_oscillator();
}

void Mcp7940::save() {
    if (file_.empty()) {
        return;
    }
    catch_up();
    write_state_file(file_, std::string(std::begin(regs_), std::end(regs_)));
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The real-time clock in the simulated station: its register file and its
// scenario key.
namespace sim {
namespace {

class ClockDevice : public ModelDevice<Mcp7940> {
  public:
    using ModelDevice::ModelDevice;
    void attach(const codec::StationConfig&) override {
        host::attach_i2c_device(Mcp7940::kAddress, &model());
    }
    void vary(uint64_t seed) override { model().vary(seed); }
};

std::unique_ptr<Device> load(const std::filesystem::path& file, std::string* error) {
    auto model = std::make_unique<Mcp7940>(file.string());
    if (!model->load_error().empty()) {
        *error = model->load_error();
        return nullptr;
    }
    return std::make_unique<ClockDevice>(std::move(model));
}

// "clock_fault": "no_answer" (nothing acknowledged on the bus), "stopped"
// (the crystal does not oscillate) or "none".
bool parse_step(const std::string&, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    const std::string name = value.is_string() ? value.get<std::string>() : std::string();
    if (name != "none" && name != "no_answer" && name != "stopped") {
        *expected = "\"no_answer\", \"stopped\" or \"none\"";
        return false;
    }
    *step = [name](Device& device) {
        Mcp7940& clock = model_of<Mcp7940>(device);
        clock.set_silent(name == "no_answer");
        clock.set_crystal_failed(name == "stopped");
    };
    return true;
}

}  // namespace

DeviceType mcp7940_device_type() {
    return {"clock", "rtc_mcp7940.bin", {"clock_fault"}, &load, &parse_step};
}

}  // namespace sim
