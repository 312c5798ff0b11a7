#include "options.h"

#include <cstdio>
#include <limits>
#include <utility>

namespace sim {
namespace {

struct Unit {
    const char* name;
    uint64_t micros;
    int rank;  // position in the written order h, m, s, ms
};

constexpr Unit kUnits[] = {
    {"h", 3600ull * 1000 * 1000, 0},
    {"m", 60ull * 1000 * 1000, 1},
    {"s", 1000ull * 1000, 2},
    {"ms", 1000ull, 3},
};

bool fail(std::string* error, std::string message) {
    if (error != nullptr) {
        *error = std::move(message);
    }
    return false;
}

}  // namespace

std::optional<uint64_t> parse_duration(std::string_view text, std::string* error) {
    const std::string quoted = "duration \"" + std::string(text) + "\": ";
    if (text.empty()) {
        fail(error, "duration is empty (use e.g. 10m, 24h, 90s, 500ms, 1h30m)");
        return std::nullopt;
    }
    // Zero needs no unit: nothing to measure.
    if (text.find_first_not_of('0') == std::string_view::npos) {
        return 0;
    }
    uint64_t total = 0;
    int last_rank = -1;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] < '0' || text[pos] > '9') {
            fail(error, quoted + "expected a number at \"" + std::string(text.substr(pos)) + "\"");
            return std::nullopt;
        }
        uint64_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
            if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
                fail(error, quoted + "number too large");
                return std::nullopt;
            }
            value = value * 10 + digit;
            ++pos;
        }
        // A decimal fraction ("1.5h"): its digits over a power of ten.
        uint64_t fraction = 0;
        uint64_t scale = 1;
        if (pos < text.size() && text[pos] == '.') {
            ++pos;
            const size_t first = pos;
            while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                if (scale >= 1000000) {
                    fail(error, quoted + "more than six decimals");
                    return std::nullopt;
                }
                fraction = fraction * 10 + static_cast<uint64_t>(text[pos] - '0');
                scale *= 10;
                ++pos;
            }
            if (pos == first) {
                fail(error, quoted + "expected a digit after the decimal point");
                return std::nullopt;
            }
        }
        // The unit is the whole run of letters, so "10min" is refused rather
        // than read as 10 minutes followed by garbage.
        const size_t unit_start = pos;
        while (pos < text.size() &&
               ((text[pos] >= 'a' && text[pos] <= 'z') || (text[pos] >= 'A' && text[pos] <= 'Z'))) {
            ++pos;
        }
        const std::string_view name = text.substr(unit_start, pos - unit_start);
        const Unit* unit = nullptr;
        for (const Unit& candidate : kUnits) {
            if (name == candidate.name) {
                unit = &candidate;
            }
        }
        if (unit == nullptr) {
            if (unit_start == text.size()) {
                fail(error,
                     quoted + "missing unit after " + std::to_string(value) + " (h, m, s or ms)");
            } else {
                const std::string shown =
                    name.empty() ? std::string(text.substr(unit_start)) : std::string(name);
                fail(error, quoted + "unknown unit \"" + shown + "\" (h, m, s or ms)");
            }
            return std::nullopt;
        }
        if (unit->rank <= last_rank) {
            fail(error, quoted + "units must come once each, in the order h, m, s, ms");
            return std::nullopt;
        }
        last_rank = unit->rank;
        if (value > std::numeric_limits<uint64_t>::max() / unit->micros ||
            total > std::numeric_limits<uint64_t>::max() - value * unit->micros) {
            fail(error, quoted + "too long");
            return std::nullopt;
        }
        total += value * unit->micros;
        // Six decimals keep the product within 64 bits (3.6e9 * 1e6).
        const uint64_t part = unit->micros * fraction;
        if (part % scale != 0) {
            fail(error, quoted + "finer than a microsecond");
            return std::nullopt;
        }
        const uint64_t extra = part / scale;
        if (total > std::numeric_limits<uint64_t>::max() - extra) {
            fail(error, quoted + "too long");
            return std::nullopt;
        }
        total += extra;
    }
    return total;
}

ModePinLevels mode_pin_levels(int mode) {
    switch (mode) {
        case 1:
            return {0, 1};
        case 2:
            return {0, 0};
        default:
            return {1, 1};
    }
}

uint64_t station_seed(uint64_t link_seed, unsigned index) {
    // The golden ratio's step: each station's models then mix it further.
    return link_seed + index * 0x9E3779B97F4A7C15ull;
}

std::string seed_text_error(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return "seed \"" + text + "\": expected a whole number 0.." +
               std::to_string(std::numeric_limits<uint64_t>::max());
    }
    return {};
}

std::string format_seconds(uint64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu s",
                  static_cast<unsigned long long>(micros / 1000000),
                  static_cast<unsigned long long>(micros % 1000000 / 1000));
    return text;
}

std::string closing_line(uint64_t simulated_micros, double wall_seconds,
                         const std::string& state_dir) {
    char ratio[32];
    // A run too short to time, or of no simulated time, has no meaningful ratio.
    if (wall_seconds >= 0.001 && simulated_micros > 0) {
        std::snprintf(ratio, sizeof ratio, "%.0fx",
                      static_cast<double>(simulated_micros) / 1e6 / wall_seconds);
    } else {
        std::snprintf(ratio, sizeof ratio, "-");
    }
    char text[128];
    std::snprintf(text, sizeof text, "[sim] %s simulated in %.2f s of wall time (%s); ",
                  format_seconds(simulated_micros).c_str(), wall_seconds, ratio);
    return text + ("state directory " + state_dir);
}

}  // namespace sim
