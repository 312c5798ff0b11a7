#include "devices/weather_station.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "codec/nmea.h"
#include "devices/device.h"
#include "devices/sensor_channels.h"
#include "devices/state_file.h"
#include "ktr09_board.h"

namespace sim {
namespace {

constexpr double kInchesOfMercuryPerBar = 29.5300;
constexpr double kMetresPerSecondPerKnot = 0.514444;
constexpr size_t kLongestCommand = 82;  // an NMEA sentence with its start and checksum
constexpr unsigned kFactoryIntervalTenths = 10;

// The sentences the station can send, by the address field they go out with.
const char* const kSentenceIds[] = {"MDA", "MWV", "XDR"};

bool known_sentence(const std::string& id) {
    for (const char* known : kSentenceIds) {
        if (id == known) {
            return true;
        }
    }
    return false;
}

std::string mda_body(const WeatherStation::Reading& r) {
    char body[160];
    std::snprintf(body, sizeof body,
                  "WIMDA,%.2f,I,%.4f,B,%.1f,C,,C,%.1f,,%.1f,C,%.1f,T,%.1f,M,%.1f,N,%.1f,M",
                  r.pressure_bar * kInchesOfMercuryPerBar, r.pressure_bar, r.air_temperature_c,
                  r.humidity_percent, r.dew_point_c, r.wind_true_deg, r.wind_magnetic_deg,
                  r.wind_knots, r.wind_knots * kMetresPerSecondPerKnot);
    return body;
}

}  // namespace

WeatherStation::WeatherStation(const Wiring& wiring) : wiring_(wiring) {
    set_profile(Profile{});
}

WeatherStation::~WeatherStation() {
    host::cancel(boot_event_);
    for (auto& entry : outputs_) {
        host::cancel(entry.second.event);
    }
    if (attached_) {
        host::attach_uart_peer(wiring_.uart_port, nullptr);
    }
}

void WeatherStation::attach() {
    host::attach_uart_peer(wiring_.uart_port, this);
    attached_ = true;
    supply_.follow([this](bool supplied) {
        if (supplied && !powered_) {
            power_up();
        } else if (!supplied && powered_) {
            power_down();
        }
    });
}

// Its own generator: "WX-AIRMR" in ASCII.
constexpr uint64_t kVariationConstant = 0x57582D4149524D52ull;

void WeatherStation::vary(uint64_t seed) {
    variation_ = Variation(seed, kVariationConstant);
    output_.vary(&variation_);
}

void WeatherStation::set_profile(const Profile& profile) {
    profile_ = profile;
    const host::Micros start = host::now();
    weather_ = [profile, start](host::Micros at) {
        const uint64_t second = (at - start) / host::kSecond;
        if (profile.gust_every_s != 0 && second >= profile.gust_start_s &&
            (second - profile.gust_start_s) % profile.gust_every_s < profile.gust_length_s) {
            Reading gust = profile.steady;
            gust.wind_knots = profile.gust_knots;
            gust.wind_true_deg = profile.gust_true_deg;
            gust.wind_magnetic_deg = profile.gust_magnetic_deg;
            return gust;
        }
        return profile.steady;
    };
}

namespace {

// The profile's numbers by the names its file uses.
struct NamedValue {
    const char* name;
    double WeatherStation::Reading::*reading;
    double WeatherStation::Profile::*profile;
};

const NamedValue kNamedValues[] = {
    {"wind_knots", &WeatherStation::Reading::wind_knots, nullptr},
    {"wind_true_deg", &WeatherStation::Reading::wind_true_deg, nullptr},
    {"wind_magnetic_deg", &WeatherStation::Reading::wind_magnetic_deg, nullptr},
    {"pressure_bar", &WeatherStation::Reading::pressure_bar, nullptr},
    {"air_temperature_c", &WeatherStation::Reading::air_temperature_c, nullptr},
    {"humidity_percent", &WeatherStation::Reading::humidity_percent, nullptr},
    {"dew_point_c", &WeatherStation::Reading::dew_point_c, nullptr},
    {"gust_knots", nullptr, &WeatherStation::Profile::gust_knots},
    {"gust_true_deg", nullptr, &WeatherStation::Profile::gust_true_deg},
    {"gust_magnetic_deg", nullptr, &WeatherStation::Profile::gust_magnetic_deg},
};

}  // namespace

StateRead WeatherStation::load(const std::string& file, std::string* error) {
    std::vector<StateLine> lines;
    std::string fault;
    const StateRead read = read_state_lines(file, &lines, &fault);
    if (read != StateRead::read) {
        if (error != nullptr) {
            *error = fault;
        }
        return read;
    }
    // Whole seconds and on/off switches, by name.
    struct Count {
        const char* name;
        unsigned* value;
    };
    Profile profile;
    const Count counts[] = {{"gust_every_s", &profile.gust_every_s},
                            {"gust_start_s", &profile.gust_start_s},
                            {"gust_length_s", &profile.gust_length_s}};
    bool silent = silent_;
    bool bad_checksums = bad_checksums_;
    for (const StateLine& line : lines) {
        double value = 0.0;
        if (!state_number(file, line, &value, &fault)) {
            break;
        }
        bool known = false;
        for (const NamedValue& named : kNamedValues) {
            if (line.name == named.name) {
                (named.reading != nullptr ? profile.steady.*named.reading
                                          : profile.*named.profile) = value;
                known = true;
            }
        }
        for (const Count& count : counts) {
            if (line.name == count.name) {
                if (value < 0 || value != static_cast<unsigned>(value)) {
                    fault = state_error(file, line.number,
                                        line.name + ": expected whole seconds, got " + line.value);
                }
                *count.value = static_cast<unsigned>(value);
                known = true;
            }
        }
        if (line.name == "silent" || line.name == "bad_checksums") {
            if (value != 0 && value != 1) {
                fault = state_error(file, line.number,
                                    line.name + ": expected 0 (off) or 1 (on), got " + line.value);
            }
            (line.name == "silent" ? silent : bad_checksums) = value != 0;
            known = true;
        }
        if (!known) {
            std::string names;
            for (const NamedValue& named : kNamedValues) {
                names += std::string(named.name) + ", ";
            }
            fault = state_error(file, line.number,
                                "unknown name \"" + line.name + "\" (expected " + names +
                                    "gust_every_s, gust_start_s, gust_length_s, silent, "
                                    "bad_checksums)");
        }
        if (!fault.empty()) {
            break;
        }
    }
    if (!fault.empty()) {
        if (error != nullptr) {
            *error = fault;
        }
        return StateRead::failed;
    }
    silent_ = silent;
    bad_checksums_ = bad_checksums;
    set_profile(profile);
    return StateRead::read;
}

void WeatherStation::save(const std::string& file) const {
    std::ostringstream out;
    out << "# Weather at the station's weather station (sensor channel 1)\n";
    for (const NamedValue& named : kNamedValues) {
        out << named.name << " "
            << (named.reading != nullptr ? profile_.steady.*named.reading : profile_.*named.profile)
            << "\n";
    }
    out << "gust_every_s " << profile_.gust_every_s << "\n"
        << "gust_start_s " << profile_.gust_start_s << "\n"
        << "gust_length_s " << profile_.gust_length_s << "\n"
        << "# Faults: 1 = on\n"
        << "silent " << (silent_ ? 1 : 0) << "\n"
        << "bad_checksums " << (bad_checksums_ ? 1 : 0) << "\n";
    write_state_file(file, out.str());
}

void WeatherStation::set_weather(std::function<Reading(host::Micros)> weather) {
    weather_ = std::move(weather);
}

bool WeatherStation::configured() const {
    auto interval = [this](const char* id) {
        const auto it = outputs_.find(id);
        return it == outputs_.end() ? 0u : it->second.interval_tenths;
    };
    return powered_ && booted_ && interval("MDA") != 0 && interval("MWV") == 0 &&
           interval("XDR") == 0;
}

unsigned WeatherStation::sent(const std::string& id) const {
    const auto it = sent_.find(id);
    return it == sent_.end() ? 0 : it->second;
}

std::string WeatherStation::mda_sentence(const Reading& reading) {
    return codec::build_sentence('$', mda_body(reading));
}

// The supply follows the relay output.
void WeatherStation::power_up() {
    powered_ = true;
    booted_ = false;
    boot_event_ = host::schedule_in(kBootTime, [this] {
        booted_ = true;
        // Out of the box: the factory sentences, no $WIMDA.
        enable("MWV", kFactoryIntervalTenths);
        enable("XDR", kFactoryIntervalTenths);
    });
}

void WeatherStation::power_down() {
    powered_ = false;
    booted_ = false;
    host::cancel(boot_event_);
    for (auto& entry : outputs_) {
        host::cancel(entry.second.event);
        entry.second.interval_tenths = 0;
        ++entry.second.generation;
    }
    line_.clear();
    output_.drop_pending();
}

void WeatherStation::enable(const std::string& id, unsigned interval_tenths) {
    Output& output = outputs_[id];
    host::cancel(output.event);
    ++output.generation;
    output.interval_tenths = interval_tenths;
    output.late = 0;
    const host::Micros interval = interval_tenths * 100 * host::kMillisecond;
    if (interval_tenths != 0) {
        schedule_output(id, variation_.on() ? variation_.micros_between(kFirstSentenceLow, interval)
                                            : interval);
    }
}

void WeatherStation::schedule_output(const std::string& id, host::Micros delay) {
    Output& output = outputs_[id];
    const uint64_t generation = output.generation;
    output.event = host::schedule_in(delay, [this, id, generation] {
        Output& now = outputs_[id];
        if (now.generation != generation || now.interval_tenths == 0) {
            return;
        }
        send_output(id);
        // The next slot on the grid, and how late this sentence leaves it.
        const host::Micros late = variation_.micros_between(0, kLongestLateness);
        const host::Micros next = now.interval_tenths * 100 * host::kMillisecond - now.late + late;
        now.late = late;
        schedule_output(id, next);
    });
}

WeatherStation::Reading WeatherStation::reading_now() const {
    return weather_ ? weather_(host::now()) : Reading{};
}

void WeatherStation::send_output(const std::string& id) {
    const Reading r = reading_now();
    char body[160];
    if (id == "MDA") {
        last_reading_ = r;
        send("WIMDA", mda_body(r));
    } else if (id == "MWV") {
        std::snprintf(body, sizeof body, "WIMWV,%.1f,T,%.1f,N,A", r.wind_true_deg, r.wind_knots);
        send("WIMWV", body);
    } else if (id == "XDR") {
        std::snprintf(body, sizeof body, "YXXDR,C,%.1f,C,AIRTEMP,P,%.4f,B,BARO,H,%.1f,P,RH",
                      r.air_temperature_c, r.pressure_bar, r.humidity_percent);
        send("YXXDR", body);
    }
}

void WeatherStation::send(const std::string& id, std::string body) {
    if (silent_) {
        return;
    }
    uint8_t checksum = codec::nmea_checksum(body);
    if (bad_checksums_) {
        checksum ^= 0x5A;
    }
    output_.send(codec::build_sentence_with_checksum('$', body, checksum));
    ++sent_[id];
}

void WeatherStation::on_byte_from_station(uint8_t byte) {
    if (!powered_ || !booted_) {
        return;
    }
    if (byte == '$') {
        line_ = "$";
        return;
    }
    if (byte == '\r' || byte == '\n') {
        if (line_.size() > 1) {
            const std::string line = std::move(line_);
            line_.clear();
            const std::optional<codec::Sentence> sentence = codec::parse_sentence(line);
            if (sentence) {
                take_command(sentence->body);
            }
        }
        line_.clear();
        return;
    }
    if (!line_.empty() && line_.size() < kLongestCommand) {
        line_ += static_cast<char>(byte);
    }
}

void WeatherStation::take_command(const std::string& body) {
    commands_.push_back(body);
    const std::vector<std::string> fields = codec::split_fields(body);
    if (fields.size() < 4 || fields[0] != "PAMTC" || fields[1] != "EN") {
        return;
    }
    const bool on = fields[3] == "1";
    unsigned interval = kFactoryIntervalTenths;
    if (fields.size() > 4 && !fields[4].empty()) {
        interval = static_cast<unsigned>(std::strtoul(fields[4].c_str(), nullptr, 10));
    }
    if (fields[2] == "ALL") {
        for (const char* id : kSentenceIds) {
            enable(id, on ? kFactoryIntervalTenths : 0);
        }
    } else if (known_sentence(fields[2])) {
        enable(fields[2], on ? interval : 0);
    }
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The weather station in the simulated station: on sensor channel 1
// (Serial3, RS232 at 4800 baud as the standard configuration has it),
// powered through the relay of output 1 (pin 33, normally open: active cuts
// the supply); its weather file and the scenario keys that change it.
namespace sim {
namespace {

class WeatherDevice : public ModelDevice<WeatherStation> {
  public:
    WeatherDevice(std::unique_ptr<WeatherStation> model, std::string file, bool fresh)
        : ModelDevice(std::move(model)), file_(std::move(file)), fresh_(fresh) {}
    std::string write_new_state() override {
        if (fresh_) {
            model().save(file_);
        }
        return {};
    }
    // A base station or TIDELINK device cabled to sensor channel 1 takes its
    // place there (sensor_channels.h).
    void attach(const codec::StationConfig& config) override {
        const uint8_t type = config.configuracion_sensor[0].csensor;
        if (type != kBaseStationType && type != kTidelinkType) {
            model().attach();
        }
    }
    void vary(uint64_t seed) override { model().vary(seed); }

  private:
    std::string file_;
    bool fresh_;
};

std::unique_ptr<Device> load(const std::filesystem::path& file, std::string* error) {
    auto model =
        std::make_unique<WeatherStation>(WeatherStation::Wiring{3, 4800, board::kOutputs[0], 1});
    const StateRead read = model->load(file.string(), error);
    if (read == StateRead::failed) {
        return nullptr;
    }
    return std::make_unique<WeatherDevice>(std::move(model), file.string(),
                                           read == StateRead::missing);
}

// The reading fields a "weather" step may change.
struct ReadingField {
    const char* name;
    double WeatherStation::Reading::*field;
};
constexpr ReadingField kReadingFields[] = {
    {"wind_knots", &WeatherStation::Reading::wind_knots},
    {"wind_true_deg", &WeatherStation::Reading::wind_true_deg},
    {"wind_magnetic_deg", &WeatherStation::Reading::wind_magnetic_deg},
    {"pressure_bar", &WeatherStation::Reading::pressure_bar},
    {"air_temperature_c", &WeatherStation::Reading::air_temperature_c},
    {"humidity_percent", &WeatherStation::Reading::humidity_percent},
    {"dew_point_c", &WeatherStation::Reading::dew_point_c},
};

// "weather": {field: value, ...} measured from then on, the other fields
// unchanged; "weather_silent" and "weather_bad_checksums": true or false;
// "weather_baud": the rate it is set to.
bool parse_step(const std::string& key, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    if (key == "weather_baud") {
        uint32_t baud = 0;
        if (!step_baud(value, &baud, expected)) {
            return false;
        }
        *step = [baud](Device& device) { model_of<WeatherStation>(device).set_baud(baud); };
        return true;
    }
    if (key == "weather_silent" || key == "weather_bad_checksums") {
        bool on = false;
        if (!step_bool(value, &on, expected)) {
            return false;
        }
        const bool silent = key == "weather_silent";
        *step = [on, silent](Device& device) {
            WeatherStation& weather = model_of<WeatherStation>(device);
            silent ? weather.set_silent(on) : weather.set_bad_checksums(on);
        };
        return true;
    }
    std::string names;
    for (const ReadingField& field : kReadingFields) {
        names += names.empty() ? field.name : std::string(", ") + field.name;
    }
    if (!value.is_object() || value.empty()) {
        *expected = "an object of reading fields (" + names + ")";
        return false;
    }
    std::vector<std::pair<double WeatherStation::Reading::*, double>> changes;
    for (const auto& [name, number] : value.items()) {
        const ReadingField* found = nullptr;
        for (const ReadingField& field : kReadingFields) {
            found = name == field.name ? &field : found;
        }
        if (found == nullptr) {
            *expected = "reading fields (" + names + "); unknown field \"" + name + "\"";
            return false;
        }
        if (!number.is_number()) {
            *expected = "a number for \"" + name + "\"";
            return false;
        }
        changes.emplace_back(found->field, number.get<double>());
    }
    *step = [changes](Device& device) {
        WeatherStation& weather = model_of<WeatherStation>(device);
        WeatherStation::Profile profile = weather.profile();
        for (const auto& [field, number] : changes) {
            profile.steady.*field = number;
        }
        weather.set_profile(profile);
    };
    return true;
}

}  // namespace

DeviceType weather_station_device_type() {
    return {"weather_station",
            "weather_station.txt",
            {"weather", "weather_silent", "weather_bad_checksums", "weather_baud"},
            &load,
            &parse_step};
}

}  // namespace sim
