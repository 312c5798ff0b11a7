// On the chip the station records are ordinary .data/.bss objects: the reset
// handler's start-up copy gives them their power-up values.
#pragma once

#define STATION_STATE
