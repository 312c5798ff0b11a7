// Programming errors in the use of the modelled board stop the simulator at
// once, loudly: carrying on would give a run that means nothing.
#include <cstdio>
#include <cstdlib>

#include "host/machine.h"

namespace host {

void fatal(const std::string& message) {
    std::fprintf(stderr, "ktr09: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace host
