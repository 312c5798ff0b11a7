// The monitors' World for the station ktr09-sim attached (station.h).
#pragma once

#include <string>
#include <vector>

#include "monitors/monitor.h"

namespace sim::monitors {

// Reads the attached devices (after attach_default_devices); the keys are
// those of the scenario's steps, for the peers it makes misbehave.
World station_world(const std::string& state_dir, const std::vector<std::string>& scenario_keys);

}  // namespace sim::monitors
