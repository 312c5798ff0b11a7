// The AtoN transponder in the simulated station: on the AIS channel
// (Serial0, RS232 at 38400 baud), powered through the relay of output 2
// (pin 32), so that the station's link restart power-cycles it; its settings
// file and the scenario keys of its faults.
#include <string>

#include "devices/ais_transponder.h"
#include "devices/device.h"
#include "devices/state_file.h"
#include "ktr09_board.h"

namespace sim {

// What its GPS sees and what it hears (ais_transponder_steps.cpp).
const std::vector<const char*>& transponder_air_keys();
bool parse_transponder_air_step(const std::string& key, const nlohmann::json& value,
                                DeviceStep* step, std::string* expected);

namespace {

class TransponderDevice : public ModelDevice<AisTransponder> {
  public:
    TransponderDevice(std::unique_ptr<AisTransponder> model, std::string file, bool fresh)
        : ModelDevice(std::move(model)), file_(std::move(file)), fresh_(fresh) {}
    std::string write_new_state() override {
        std::string error;
        if (fresh_ && !model().save(file_, &error)) {
            return error;
        }
        return {};
    }
    void attach(const codec::StationConfig&) override { model().attach(); }
    void vary(uint64_t seed) override { model().vary(seed); }

  private:
    std::string file_;
    bool fresh_;
};

std::unique_ptr<Device> load(const std::filesystem::path& file, std::string* error) {
    const bool fresh = !std::filesystem::exists(file);
    auto model =
        std::make_unique<AisTransponder>(AisTransponder::Wiring{0, 38400, board::kOutputs[1], 1});
    if (*error = check_state_file(file.string()); !error->empty()) {
        return nullptr;
    }
    if (!model->load(file.string(), error)) {
        return nullptr;
    }
    return std::make_unique<TransponderDevice>(std::move(model), file.string(), fresh);
}

// The faults, each true or false: "transponder_silent",
// "transponder_bad_checksums", "transponder_nak_all",
// "transponder_late_replies", "transponder_pc_attached", "transponder_babbling".
// "transponder_baud": the rate it is set to; "transponder_reboot": true.
// "transponder_report_delay_ms": a number, or [min, max] for a spread.
bool parse_report_delay_step(const nlohmann::json& value, DeviceStep* step, std::string* expected) {
    *expected = "a delay in ms (1.." + std::to_string(AisTransponder::kMaxReportDelayMs) +
                "), or [min, max]";
    const bool pair = value.is_array() && value.size() == 2;
    const nlohmann::json& low = pair ? value[0] : value;
    const nlohmann::json& high = pair ? value[1] : value;
    if (!low.is_number_unsigned() || !high.is_number_unsigned()) {
        return false;
    }
    AisTransponder::Settings check;
    const unsigned low_ms = low.get<unsigned>();
    const unsigned high_ms = high.get<unsigned>();
    if (!set_report_delay(low_ms, high_ms, &check)) {
        return false;
    }
    *step = [low_ms, high_ms](Device& device) {
        set_report_delay(low_ms, high_ms, &model_of<AisTransponder>(device).settings());
    };
    return true;
}

bool parse_step(const std::string& key, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    if (key == "transponder_report_delay_ms") {
        return parse_report_delay_step(value, step, expected);
    }
    if (key.rfind("transponder_", 0) != 0) {
        return parse_transponder_air_step(key, value, step, expected);
    }
    if (key == "transponder_baud") {
        uint32_t baud = 0;
        if (!step_baud(value, &baud, expected)) {
            return false;
        }
        *step = [baud](Device& device) { model_of<AisTransponder>(device).set_baud(baud); };
        return true;
    }
    if (key == "transponder_reboot") {
        *expected = "true (it reboots then)";
        if (!value.is_boolean() || !value.get<bool>()) {
            return false;
        }
        *step = [](Device& device) { model_of<AisTransponder>(device).reboot(); };
        return true;
    }
    bool on = false;
    if (!step_bool(value, &on, expected)) {
        return false;
    }
    *step = [key, on](Device& device) {
        AisTransponder::Faults& faults = model_of<AisTransponder>(device).faults();
        bool AisTransponder::Faults::*const flag =
            key == "transponder_silent"          ? &AisTransponder::Faults::silent
            : key == "transponder_bad_checksums" ? &AisTransponder::Faults::bad_checksums
            : key == "transponder_nak_all"       ? &AisTransponder::Faults::nak_all
            : key == "transponder_late_replies"  ? &AisTransponder::Faults::late_replies
            : key == "transponder_babbling"      ? &AisTransponder::Faults::babbling
                                                 : &AisTransponder::Faults::pc_attached;
        faults.*flag = on;
    };
    return true;
}

}  // namespace

DeviceType ais_transponder_device_type() {
    std::vector<const char*> keys = {
        "transponder_silent",       "transponder_bad_checksums", "transponder_nak_all",
        "transponder_late_replies", "transponder_pc_attached",   "transponder_report_delay_ms",
        "transponder_babbling",     "transponder_baud",          "transponder_reboot"};
    keys.insert(keys.end(), transponder_air_keys().begin(), transponder_air_keys().end());
    return {"ais_transponder", "ais_transponder.txt", keys, &load, &parse_step};
}

}  // namespace sim
