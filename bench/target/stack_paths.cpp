// The stack image: the stack's high-water mark on the firmware's busiest
// paths, with the 1 ms tick really interrupting them (TIMER1 runs the
// firmware's tick interrupt handler about every 3000 instructions). The
// stack is painted again before each path, so each figure is that path's
// own; all are called from one frame, whose depth is printed too. A separate
// image from the cycle measurements': the code it adds would move the
// strings those count through (strlen and memcpy cost by alignment), and
// their figures with them.
#include <setjmp.h>
#include <string.h>

#include "ais.h"
#include "board.h"
#include "busiest_state.h"
#include "declaraciones.h"
#include "gestion_sd.h"
#include "main.h"
#include "procesado.h"
#include "scripted_board.h"
#include "stack.h"

namespace {

// 48 counts of 16 MHz: 3000 instructions under -icount shift=0, so a
// simulated second of ticks takes 3 million.
constexpr uint32_t kTickPeriod = 48;

// The burst of the cycle measurement.
const char kBurst[] =
#include "burst.inc"
    ;
static_assert(sizeof(kBurst) - 1 == sizeof(stais.cframe_rx), "a full receive buffer");

// The cycle measurement's busiest state: every input and output in use, a
// watched rectangle over the whole sea, so that every ship is checked
// against it; and the card's next start-up attempt due. Set again before
// each path, for a PC-link write reloads the configuration.
void busy_state() {
    busiest_normal_state();
    watch_the_whole_sea();
    stsd.cdelay = 0;
}

void pending_burst() {
    memcpy(stais.cframe_rx, kBurst, sizeof stais.cframe_rx);
    stais.ibytes_rx = sizeof stais.cframe_rx;
}

// The card taken as started and the clock as set: every sentence is logged,
// and the hour's directory is due (the placeholder card gives no free space,
// so it is never made).
void card_started() {
    stsd.ctarjeta_inicializada = 1;
    ktr09.csincronizada = 1;
    stsd.ccreacion_nuevo_directorio = 1;
    stsd.cespera_creacion_directorio = 0;
}

// The tick alone: the firmware's delay of 300 ms, through three 100 ms steps
// with their inputs and outputs.
void tick_alone() {
    retardo_tiempo(3);
}

// The full burst, with no card, as the cycle measurement feeds it.
void bursts() {
    for (int n = 0; n < 8; ++n) {
        pending_burst();
        procesamos_trama_rx_ais();
        stais.ibytes_rx = 0;
    }
}

// The burst as the loop takes it from the port, with the card taken as
// started: the first sentence of each burst tries the hour's directory, down
// to the free-cluster count and its block buffer.
void bursts_logged() {
    for (int n = 0; n < 16; ++n) {
        card_started();
        pending_burst();
        procesamos_ais();
    }
    stsd.ctarjeta_inicializada = 0;
}

// A start-up attempt (the placeholder card never answers); then, with the
// card taken as started, the hour's directory and file attempts, a tag block
// and a record, which the placeholder refuses: the lost-card path.
void card() {
    creintentos_sd = 0;
    inicializacion_sd();
    card_started();
    fichero_registro_listo(CFICHERO_VDM, true);
    stsd.ccreacion_nuevo_directorio = 0;
    stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 1;
    stsd.cespera_creacion_fichero[CFICHERO_TIDELINK] = 0;
    paso_creacion_registro(CFICHERO_TIDELINK);
    creacion_timestamp(1);
    stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 2;
    inserto_timestamp_fichero(CFICHERO_VDM);
    stsd.ccreacion_nuevo_fichero[CFICHERO_VDM] = 2;
    inserto_registro_fichero(CFICHERO_VDM, reinterpret_cast<const uint8_t*>(kBurst), 80);
    stsd.ctarjeta_inicializada = 0;
}

// A PC-link request: "@JWK", length, command, sub-command, three address
// bytes, count, data, CRC-16 high byte first.
struct PcFrame {
    uint8_t bytes[64];
    uint8_t size;
};

PcFrame pc_frame(uint8_t command, uint8_t sub, uint16_t address, uint8_t count,
                 uint8_t data_bytes) {
    PcFrame frame{{'@', 'J', 'W', 'K'}, static_cast<uint8_t>(13 + data_bytes)};
    const uint8_t fields[] = {frame.size,
                              command,
                              sub,
                              0,
                              static_cast<uint8_t>(address >> 8),
                              static_cast<uint8_t>(address),
                              count};
    memcpy(frame.bytes + 4, fields, sizeof fields);
    for (uint8_t i = 0; i < data_bytes; ++i) {
        frame.bytes[11 + i] = static_cast<uint8_t>(0x30 + i);
    }
    const uint16_t crc = calculo_crc16(frame.bytes, frame.size - 2);
    frame.bytes[frame.size - 2] = static_cast<uint8_t>(crc >> 8);
    frame.bytes[frame.size - 1] = static_cast<uint8_t>(crc);
    return frame;
}

// The request in the USB port, served as the loop serves it.
void pc_request(const PcFrame& frame) {
    usb_input(frame.bytes, frame.size, 0);
    atencion_usb();
}

// A read of 64 EEPROM bytes (the reply and the configuration printed), a
// write of 16 with the configuration reloaded, and an acknowledge.
void pc_link() {
    pc_request(pc_frame(0, 0, 0x0000, 64, 0));
    pc_request(pc_frame(1, 1, 0x0100, 16, 16));
    pc_request(pc_frame(2, 0, 0x0000, 0, 0));
}

// The service console keeps the station until a restart: the harness leaves
// it from the USB port's poll once the command has run and the console
// waits for a key.
jmp_buf g_console_exit;

void leave_console() {
    longjmp(g_console_exit, 1);
}

// A mode typed in (SETTINGS or TEST), then a command, with the analog inputs
// at `level`.
void console_command(const char* mode, const char* command, uint16_t level) {
    analog_level(level);
    usb_input(mode, 0);
    usb_input(command, 50);
    usb_when_idle(2000, leave_console);
    if (setjmp(g_console_exit) == 0) {
        atencion_usb();
    }
    usb_when_idle(0, nullptr);
    analog_level(0);
    ktr09.ctest = 0;
    ktr09.cbytes_rx = 0;
}

// The battery's factor, an input's zero and an input's factor; then the card
// report, which starts the card and counts its free clusters.
void console() {
    console_command("SETTINGS\r", "BREAL 12.60\r", 1200);
    console_command("SETTINGS\r", "ANALOG1REAL 0\r", 400);
    console_command("SETTINGS\r", "ANALOG1REAL 4.5\r", 2400);
    // Only the TEST mode keeps a report on the screen.
    console_command("TEST\r", "INFO SD\r", 0);
}

// Passes of the station's loop with the card taken as started and a full
// burst waiting every 25 passes.
void loop_passes() {
    for (int n = 0; n < 100; ++n) {
        if (n % 25 == 0) {
            card_started();
            pending_burst();
        }
        loop();
    }
    stsd.ctarjeta_inicializada = 0;
}

struct Path {
    const char* name;
    void (*run)();
};

const Path kPaths[] = {
    {"tick alone: a 300 ms delay", tick_alone},
    {"burst of 2048 B x8", bursts},
    {"burst x16 from the port, card started", bursts_logged},
    {"card: start-up, directory, file, record", card},
    {"PC link: read, write, acknowledge", pc_link},
    {"console: calibrations, card report", console},
    {"loop x100, a burst every 25", loop_passes},
};

}  // namespace

void run_harness() {
    tick_interrupts_start(kTickPeriod);
    uint32_t worst = 0;
    for (const Path& path : kPaths) {
        busy_state();
        stack_paint();
        const uint32_t interrupts = tick_interrupts();
        path.run();
        const uint32_t used = stack_high_water();
        worst = used > worst ? used : worst;
        stack_print("path", path.name, used, tick_interrupts() - interrupts);
    }
    tick_interrupts_stop();
    stack_print("base", nullptr, stack_in_use(), 0);
    stack_print("high-water", nullptr, worst, stack_reservation());
    stack_print("interrupts", nullptr, tick_interrupts(), kTickPeriod);
}
