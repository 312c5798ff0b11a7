// The simulated station's wiring: which device models sit on its buses and
// lines when ktr09-sim runs it.
#pragma once

#include "options.h"

namespace sim {

// Attaches the devices of a standard station to the machine (after
// host::reset_machine, before host::power_on). Persistent devices keep their
// files in options.state_dir, which must exist.
void attach_default_devices(const Options& options);

}  // namespace sim
