// The modelled KTR09 board on the host: one virtual clock in microseconds,
// an event list, the firmware running on its own thread that only moves while
// the host lets it, and the wires (pins, UARTs, USB, I2C) that device models
// and tests use. Only the simulator and tests drive it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace host {

using Micros = uint64_t;

constexpr Micros kMillisecond = 1000;
constexpr Micros kSecond = 1000 * kMillisecond;

// A programming error in the use of the board (a platform call from the
// wrong thread, an I2C address above 127, an unknown UART port): prints
// "ktr09: <message>" on stderr and aborts.
[[noreturn]] void fatal(const std::string& message);

// ---- Virtual clock and events ------------------------------------------

// Current virtual time. Never goes backwards.
Micros now();

using EventId = uint64_t;
// Runs `action` when the clock reaches `when` (at once if `when` has passed),
// between firmware platform calls. Events at the same time run in the order
// they were scheduled.
EventId schedule_at(Micros when, std::function<void()> action);
// schedule_at(now() + delay, action).
EventId schedule_in(Micros delay, std::function<void()> action);
// Drops a scheduled event that has not run yet; unknown ids are ignored.
void cancel(EventId id);

// Cost in virtual time of one platform call made by the firmware.
constexpr Micros kCallCost = 1;

// ---- Machine lifecycle ---------------------------------------------------

// Threads: while the firmware thread exists (power_on to power_off), the
// firmware's platform calls come only from it, and reset_machine and
// run_until never do (events may switch the power). Anything else is fatal.

// Powers the station off, detaches every device, empties the event list,
// sets the clock back to 0 and every firmware record to its power-up value.
// Tests call it first.
void reset_machine();

// Starts the firmware (setup, then loop for ever) on its thread. It only
// runs inside run_for/run_until.
void power_on();
// Stops the firmware wherever it is, unwinding its stack from the platform
// call it is in (its destructors run; their platform calls take time but
// run nothing). The records return to their power-up values at the next
// power_on. Devices keep their state. A watchdog restart stops it the same way.
void power_off();
// power_off then power_on; counted as a restart. Called from an event
// during a run, it restarts the firmware at the event's time.
void power_cycle();
// True between power_on and power_off.
bool powered();

// Lets the firmware run until the clock reaches `until` (or for `duration`).
// Without power the clock just advances, running due events.
void run_until(Micros until);
void run_for(Micros duration);

// Paces the clock to the wall clock from now on (interactive use).
void set_realtime(bool on);

// Restarts so far (watchdog expiries and power cycles), and the time of the
// last one. The callback, if set, hears of each restart with its reason
// ("watchdog" or "power cycle").
unsigned restart_count();
Micros last_restart_time();
void on_restart(std::function<void(const char* reason)> callback);

// Entry points run instead of the linked firmware's from the next power_on
// (and the next TC0 interrupt); a null field keeps the firmware's own.
// reset_machine goes back to the firmware's.
struct FirmwareEntryPoints {
    void (*setup)() = nullptr;
    void (*loop)() = nullptr;
    void (*tc0_handler)() = nullptr;
};
void set_firmware_entry_points(const FirmwareEntryPoints& entries);

// ---- Pins ----------------------------------------------------------------

constexpr uint32_t kPinCount = 64;

// Level an outside circuit drives on an input pin: 0, 1, or -1 for nothing
// (then the pin reads its pull: high with pull-up, low otherwise).
void set_input_level(uint32_t pin, int level);
// Level the station drives on an output pin, or -1 if the pin is not an output.
int output_level(uint32_t pin);
// Mode last set with pinMode (INPUT after power-up).
uint32_t pin_mode(uint32_t pin);
// Adds a listener of every change of an output level (device power through
// an output); it stays until removed or until reset_machine.
using ListenerId = uint64_t;
ListenerId on_output_change(std::function<void(uint32_t pin, int level)> callback);
void remove_output_listener(ListenerId id);

// Voltage on an analog pin (0 .. 3.3 V against the reference).
void set_analog_voltage(uint32_t pin, double volts);
// Ripple on an analog pin: each conversion adds the next of these volts to the
// pin's voltage, going round the list (empty: a steady voltage).
void set_analog_ripple(uint32_t pin, std::vector<double> volts);

// ---- UARTs ---------------------------------------------------------------

// UART port numbers as in the firmware: Serial0 = 0, Serial1 = 1, Serial3 = 3;
// any other port given to these functions is fatal. A peer is the device on
// the other end of the line driver.
class UartPeer {
  public:
    virtual ~UartPeer() = default;
    // A byte the station sent, at the moment its stop bit ends.
    virtual void on_byte_from_station(uint8_t byte) = 0;
    // The rate its receiver listens at; 0 for whatever the station sends at.
    // At another rate than the station's it hears what it samples.
    virtual uint32_t baud() const { return 0; }
};

struct UartStatus {
    bool open;                // begin() called and not end()ed
    uint32_t baud;            // rate the port was opened with
    bool driver_enabled;      // its line-driver disable pin is low
    uint32_t lost;            // received bytes lost to a full buffer or a closed port
    uint32_t framing_errors;  // received bytes dropped for a stop bit read low
};

// The line-driver disable pin of each port (1 = off).
uint32_t uart_disable_pin(uint8_t port);

// Connects the device on a port's line (nullptr disconnects).
void attach_uart_peer(uint8_t port, UartPeer* peer);
// Sends bytes from the peer at `baud`, one after the other at the bit time
// (10 bits a byte), starting when the line is free. Bytes arrive only while
// the port is open with its driver enabled; at another baud rate the
// station's receiver reads what it samples of them.
void uart_peer_send(uint8_t port, const uint8_t* data, size_t size, uint32_t baud);
void uart_peer_send(uint8_t port, const std::string& text, uint32_t baud);
// The port as the station has set it up.
UartStatus uart_status(uint8_t port);
// Noise on a port's line, both ways: each data and stop bit of a byte flips
// with this chance (0: a clean line), drawn from `seed`. A flipped stop bit
// is a framing error: the receiver drops the byte. Until reset_machine.
void set_uart_noise(uint8_t port, double bit_error_rate, uint64_t seed);
double uart_noise(uint8_t port);
// Puts something else on a port's line in place of its device model (a
// terminal, a serial device): `peer` hears what the station sends, and only
// uart_line_send reaches the station; the model's attach_uart_peer and
// uart_peer_send on that port do nothing, as if it were unplugged. Until
// reset_machine.
void take_uart_line(uint8_t port, UartPeer* peer);
// uart_peer_send for whatever took the line (also works on a line not taken).
void uart_line_send(uint8_t port, const uint8_t* data, size_t size, uint32_t baud);

// ---- USB CDC port -------------------------------------------------------

// Bytes a terminal sends to the station; they become readable at once (in
// 64-byte packets) while the port is open.
void usb_send(const std::string& text);
// Everything the station has written to the USB port since the last take.
std::string usb_take_output();
// Receives every byte the station writes to the USB port, as it is written.
void on_usb_output(std::function<void(const uint8_t* data, size_t size)> callback);

// ---- Listeners -------------------------------------------------------------

// Hears what the station exchanges with the world, each at the virtual time
// it happens: for transcripts, and for device models or tests that watch a
// wire. Calls come one at a time, on whichever thread runs the machine.
class MachineListener {
  public:
    virtual ~MachineListener() = default;
    // Bytes the station wrote to the USB port.
    virtual void usb_from_station(const uint8_t* /*data*/, size_t /*size*/) {}
    // Bytes a terminal sent to the USB port; not `accepted` when the port was
    // closed and dropped them.
    virtual void usb_to_station(const uint8_t* /*data*/, size_t /*size*/, bool /*accepted*/) {}
    // A byte the station sent on a UART, as its stop bit ends on the line
    // (with the line driver enabled; whether or not a peer is attached).
    virtual void uart_from_station(uint8_t /*port*/, uint8_t /*byte*/) {}
    // A byte a peer sent, as its stop bit ends: `accepted` when the station's
    // receiver took it, not when it was lost (port closed, another baud rate,
    // line driver disabled, buffer full).
    virtual void uart_to_station(uint8_t /*port*/, uint8_t /*byte*/, bool /*accepted*/) {}
    // The level the station drives on a pin changed (-1: no longer driven).
    virtual void output_changed(uint32_t /*pin*/, int /*level*/) {}
    // The level an outside circuit drives on a pin changed (-1: nothing).
    virtual void input_changed(uint32_t /*pin*/, int /*level*/) {}
    // The station is about to restart ("watchdog" or "power cycle").
    virtual void restarting(const char* /*reason*/) {}
};
// Adds a listener; it stays until removed or until reset_machine.
void add_listener(MachineListener* listener);
void remove_listener(MachineListener* listener);

// ---- Watchdog --------------------------------------------------------------

// True between sodaq_wdt_enable and sodaq_wdt_disable (or a restart).
bool watchdog_enabled();
// True once the watchdog expired while firmware code was called straight
// from a test (no firmware thread to restart); cleared by reset_machine.
bool watchdog_expired_outside_run();

// ---- Timer -------------------------------------------------------------------

// TC0 interrupts run (compare matches delivered to the handler) since
// reset_machine.
uint64_t tc0_interrupt_count();

}  // namespace host

namespace host {

// ---- I2C -------------------------------------------------------------------

// A device on the I2C bus. The bus calls it only while it is attached and
// present; an absent device (or an address with none) is not acknowledged.
class I2cDevice {
  public:
    virtual ~I2cDevice() = default;
    // False while the device is switched off or busy: its address is not
    // acknowledged.
    virtual bool acknowledges() { return true; }
    // A complete write transaction (address acknowledged): the bytes written.
    // Returns false to not acknowledge the data.
    virtual bool on_write(const uint8_t* data, size_t size) = 0;
    // A read transaction: fills up to `size` bytes and returns how many.
    virtual size_t on_read(uint8_t* data, size_t size) = 0;
};

// Attaches a device at a 7-bit address (replacing any there); nullptr
// detaches. An address above 127 is fatal, here and in the firmware's calls.
void attach_i2c_device(uint8_t address, I2cDevice* device);

}  // namespace host

namespace host {

// ---- SD card slot ----------------------------------------------------------

// The card in the SD slot, as the SPI driver sees it: its registers and its
// 512-byte blocks. A card that is not present (absent or pulled out) fails
// every operation. The driver charges the time of each transfer.
class SdCard {
  public:
    static constexpr size_t kBlockSize = 512;
    virtual ~SdCard() = default;
    // In the slot and answering.
    virtual bool present() = 0;
    // The start-up sequence at begin: the card leaves its idle state. A card
    // put back in the slot answers nothing else until started again.
    virtual bool start() = 0;
    // Physical layer version 2.00 or later (answers CMD8).
    virtual bool version_2() = 0;
    // Block addressed (the OCR's CCS bit), SDHC/SDXC.
    virtual bool high_capacity() = 0;
    // Capacity in blocks, as its CSD gives it.
    virtual uint32_t block_count() = 0;
    // The 16-byte CID and CSD registers, most significant byte first, and
    // the OCR. False when the card does not answer.
    virtual bool read_cid(uint8_t cid[16]) = 0;
    virtual bool read_csd(uint8_t csd[16]) = 0;
    virtual bool read_ocr(uint32_t* ocr) = 0;
    // One block; false when the card does not answer or the block is past
    // its end.
    virtual bool read_block(uint32_t block, uint8_t data[kBlockSize]) = 0;
    virtual bool write_block(uint32_t block, const uint8_t data[kBlockSize]) = 0;
    // Blocks first..last (inclusive) back to the erased state.
    virtual bool erase(uint32_t first, uint32_t last) = 0;
};

// Puts a card in the slot (nullptr: the slot is empty). The card keeps its
// blocks across restarts; the driver's state (started card, mounted volume,
// open files) goes at every power-up.
void attach_sd_card(SdCard* card);

}  // namespace host
