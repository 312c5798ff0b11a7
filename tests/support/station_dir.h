// The standard station's devices attached from a state directory, as
// ktr09-sim attaches them (after host::reset_machine): the error, empty
// when they attached.
#pragma once

#include <filesystem>
#include <string>

#include "station.h"

inline std::string attach_station(const std::filesystem::path& dir,
                                  const std::string& configuration = "") {
    sim::Options options;
    options.state_dir = dir.string();
    options.configuration = configuration;
    return sim::attach_default_devices(options);
}
