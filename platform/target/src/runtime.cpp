// The few C++ run-time hooks the image needs, without the library versions
// that would drag in the heap and the exception machinery.
#include <stddef.h>

// The stream classes have virtual destructors, whose deleting variants refer
// to operator delete. Nothing in the station is ever allocated, so these are
// never reached.
void operator delete(void*) noexcept {}
void operator delete(void*, size_t) noexcept {}

extern "C" {

// A call through a pure virtual function: a programming error; stop until
// the watchdog restarts the chip.
void __cxa_pure_virtual() {
    for (;;) {
    }
}

// Static objects are never destroyed on the chip, the station never ends:
// their destructors need not be registered.
int atexit(void (*)()) {
    return 0;
}

}  // extern "C"
