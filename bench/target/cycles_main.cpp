// The cycle image: the measurements, then how deep the stack went during
// them (painted at reset; no interrupt runs).
#include "stack.h"

void run_measurements();

void run_harness() {
    run_measurements();
    stack_print("path", "cycle measurements (no interrupt)", stack_high_water(), 0);
}
