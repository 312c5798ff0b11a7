// libFuzzer target over the simulator's scenario files: JSON with comments,
// the run's settings, the station configuration and the timed steps with the
// station's own stimulus keys and every device model's. A scenario is only
// read, never applied. Reading must never crash or throw; a file refused
// names what is wrong, and a file taken holds what a run can schedule: every
// step has its key and its action, a device step names its device, and no
// step comes after the end of the run.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "scenario.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<sim::Scenario> scenario = sim::parse_scenario(text, &error);
    if (!scenario) {
        check(!error.empty());
        return 0;
    }
    for (const sim::ScenarioStep& step : scenario->steps) {
        check(!step.key.empty());
        check(static_cast<bool>(step.act));
        check(!scenario->duration || step.at <= *scenario->duration);
    }
    return 0;
}
