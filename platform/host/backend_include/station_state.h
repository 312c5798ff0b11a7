// On the host the station records are gathered in one linker section, so the
// platform can put every one of them back to its power-up value when the
// modelled station restarts (watchdog expiry or power cycle).
#pragma once

#define STATION_STATE __attribute__((section("station_state")))
