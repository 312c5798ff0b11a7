// The machine's listeners: taps on every wire the station uses.
#include <algorithm>
#include <vector>

#include "machine_internal.h"

namespace host {
namespace internal {

std::vector<MachineListener*>& listeners() {
    // Listeners may be removed by objects destroyed at exit, after this
    // file's statics: the list is never destroyed.
    static std::vector<MachineListener*>* const list = new std::vector<MachineListener*>;
    return *list;
}

void listeners_machine_reset() {
    listeners().clear();
}

}  // namespace internal

void add_listener(MachineListener* listener) {
    internal::listeners().push_back(listener);
}

void remove_listener(MachineListener* listener) {
    auto& list = internal::listeners();
    list.erase(std::remove(list.begin(), list.end(), listener), list.end());
}

}  // namespace host
