// What the stack image's board services (scripted_board.cpp) let the
// harness put on the inputs the placeholders leave empty.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Bytes that arrive on the USB port once the port has been found empty
// `polls` times after the input before them was read; at most four wait.
void usb_input(const uint8_t* bytes, size_t size, uint32_t polls);
void usb_input(const char* text, uint32_t polls);
// Called when the port has been found empty `polls` times with no input
// left to arrive; `action` null: never.
void usb_when_idle(uint32_t polls, void (*action)());
// The count every analog input reads.
void analog_level(uint16_t level);
