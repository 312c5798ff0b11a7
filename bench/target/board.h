// The harness's own board services (board.cpp).
#pragma once

#include <stdint.h>

// Starts TIMER0 counting from 0 at 16 MHz.
void timer_start();
// TIMER0's count now.
uint32_t timer_now();
// Text on QEMU's standard output (semihosting).
void host_print(const char* text);
// Ends the QEMU run.
[[noreturn]] void host_exit();
