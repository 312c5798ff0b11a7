// Station core: the 1 ms tick and its timed actions, start-up and the main
// loop, and the serial channels with their line drivers.
#pragma once

#include <Arduino.h>
#include <stdint.h>

// ---- Tick (main_tick.cpp) ----------------------------------------------------

// Programs TC0 for a compare-match interrupt every (ccVal + 1) counts of the
// 48 MHz clock divided by the prescaler code (1, 2, 4, 8, 16, 64, 256, 1024;
// other codes divide by 1). Does not start the timer.
void setup_timerTC0(uint32_t prescaler, uint32_t ccVal);
void start_timerTC0();
void stop_timerTC0();
// The 1 ms timed actions: countdowns, dividers, LED, inputs and outputs.
void interrupcion_timer_cada_miliseg();
// Blocking delays on the tick's countdowns (0 counts as 1), feeding the watchdog.
void retardo_tiempo(uint8_t ctiempo);        // 100 ms units
void retardo_milisegundos(uint8_t ctiempo);  // 1 ms units

// ---- Serial channels (main_canales.cpp) ------------------------------------

constexpr uint8_t CANAL_SENSOR_1 = 0;
constexpr uint8_t CANAL_SENSOR_2 = 1;
constexpr uint8_t CANAL_AIS = 2;
constexpr uint8_t CANAL_TODOS = 255;

// Line-driver pins of channel 0, 1 or 2 for a line type; never touches the UART.
void configuracion_canal(uint8_t ccanal, uint8_t ctipo, uint8_t cprimera_vez);
// Opens channel 0, 1, 2 or all (255) with its configured line type and speed.
void inicializacion_canales(uint8_t ccanal);
// Switches the line driver off and closes the UART of channel 0, 1, 2 or all.
void disable_canal(uint8_t ccanal);
// The UART of channel 0, 1 or 2 (Serial3, Serial1, Serial0).
Uart& uart_canal(uint8_t ccanal);
// Baud rate of a baud-rate code (7 and above: 38400).
uint32_t velocidad_canal(uint8_t cbaudios);
// Gathers one burst on sensor channel 0 or 1 and hands it to its owner.
void procesamos_canal(uint8_t ccanal);
// A PC program has announced itself on the AIS link.
void deteccion_conexion_pc();

// ---- Start-up and loop (main.cpp) ------------------------------------------

// Pin modes of the pin map.
void configuracion_pines();
// Operating mode from pins 20 and 24 (0 normal, 1 and 2 diagnostics).
uint8_t lectura_modo_funcionamiento();
// Moves the transponder command sequence on when its reply has not come.
void timeout_comando_ais();
// Serves the USB port: PC frames from "@", console lines otherwise.
void atencion_usb();
// One typed console byte: echoed, and stored in or removed from the line;
// 1 when a carriage return ends the line.
uint8_t byte_linea_consola(uint8_t cdato);
// 1 when the typed line begins with the keyword.
uint8_t linea_empieza_por(const char* pcclave);
// Drops every byte waiting on the USB port.
void descarto_entrada_usb();
