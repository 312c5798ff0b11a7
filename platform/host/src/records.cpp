// The power-up image of the firmware records: every STATION_STATE object
// sits in one linker section, copied once at program start (before any test
// or firmware code writes it) and copied back at every power-up.
#include <cstdint>
#include <cstdlib>

#include "machine_internal.h"

// Weak: the section, and so these symbols, exist only when records are linked.
extern "C" {
extern char __start_station_state[] __attribute__((weak));
extern char __stop_station_state[] __attribute__((weak));
}

namespace host {
namespace internal {
namespace {

unsigned char* g_image = nullptr;

size_t section_size() {
    if (__start_station_state == nullptr || __stop_station_state == nullptr) {
        return 0;
    }
    return static_cast<size_t>(__stop_station_state - __start_station_state);
}

// Byte by byte and uninstrumented: the sanitizer keeps red zones between the
// globals of the section, which a copy of the whole section crosses.
__attribute__((no_sanitize_address)) void copy_bytes(volatile unsigned char* to,
                                                     const volatile unsigned char* from,
                                                     size_t size) {
    for (size_t i = 0; i < size; ++i) {
        to[i] = from[i];
    }
}

__attribute__((constructor(101))) void take_power_up_image() {
    const size_t size = section_size();
    if (size == 0) {
        return;
    }
    g_image = static_cast<unsigned char*>(std::malloc(size));
    if (g_image != nullptr) {
        copy_bytes(g_image, reinterpret_cast<unsigned char*>(__start_station_state), size);
    }
}

}  // namespace

void restore_station_records() {
    if (g_image != nullptr) {
        copy_bytes(reinterpret_cast<unsigned char*>(__start_station_state), g_image,
                   section_size());
    }
}

}  // namespace internal
}  // namespace host
