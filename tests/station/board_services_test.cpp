// The standard simulated station's board services: the configuration loaded
// from the EEPROM model, the clock model started, set and read, the status
// block every minute with the voltages a scenario sets, the low-level
// alarms, and a restart that finds its configuration again.
#include <gtest/gtest.h>

#include "support/state_dir.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "declaraciones.h"
#include "devices/ais_transponder.h"
#include "devices/analog_inputs.h"
#include "codec/config_image.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "host/machine.h"
#include "station.h"

namespace {

// The station name as loaded: up to 20 bytes, with no terminator of its own.
std::string station_name() {
    const char* name = configuracion_ktr09.cnombre;
    return std::string(name, strnlen(name, sizeof configuracion_ktr09.cnombre));
}

using host::kMillisecond;
using host::kSecond;
constexpr host::Micros kMinute = 60 * kSecond;

// One status block as printed.
struct Status {
    std::string date;  // "dd/mm/yy hh:mm"
    double battery;
    double analog1;
    double analog2;
    bool low_battery;
    bool alarm1;
    bool alarm2;
};

std::vector<Status> status_blocks(const std::string& output) {
    static const std::regex kBlock(
        "\\*{79}\r\n\t\t([0-9/ :]{14})\tFW: 3-0\r\n\\*{79}\r\n"
        "\tBatery \\([0-9]+\\): ([0-9.]+) v(\tAlarm low battery|\r\n)"
        "\tAnalog 1 \\([0-9]+\\):([0-9.]+) v(\tAlarm|\r\n)"
        "\tAnalog 2 \\([0-9]+\\):([0-9.]+) v(\tAlarm|\r\n)");
    std::vector<Status> blocks;
    for (std::sregex_iterator it(output.begin(), output.end(), kBlock), end; it != end; ++it) {
        const std::smatch& m = *it;
        blocks.push_back({m[1], std::stod(m[2]), std::stod(m[4]), std::stod(m[6]), m[3] != "\r\n",
                          m[5] != "\r\n", m[7] != "\r\n"});
    }
    return blocks;
}

class BoardServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state = scratch.path();
        options.state_dir = state.string();
        host::reset_machine();
        sim::attach_default_devices(options);
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }
    static sim::StationDevices devices() { return sim::station_devices(); }
    // Runs for `duration`, returning what the station printed.
    static std::string run(host::Micros duration) {
        host::run_for(duration);
        return host::usb_take_output();
    }
    TemporaryStateDir scratch;
    std::filesystem::path state;
    sim::Options options;
};

TEST_F(BoardServicesTest, NewStateDirectoryGetsTheStandardConfiguration) {
    host::power_on();
    const std::string output = run(5 * kSecond);
    EXPECT_NE(std::string::npos, output.find("Configuracion RTC:\r\n")) << output;
    EXPECT_TRUE(std::filesystem::exists(state / "eeprom_24xx64.bin"));
    const codec::StationConfig standard = codec::default_station_config();
    EXPECT_EQ(codec::encode_image(standard), devices().eeprom->contents());
    EXPECT_EQ(3, configuracion_sensor[0].csensor);
    EXPECT_EQ(10, configuracion_sensor[0].csample_interval);
    EXPECT_EQ(4, configuracion_ais.cbaudios);
    EXPECT_EQ(standard.configuracion_ais.llatitud_shipras[1],
              configuracion_ais.llatitud_shipras[1]);
    EXPECT_FLOAT_EQ(11.5f, configuracion_ktr09.ftension_alarma_bateria_baja);
    EXPECT_FLOAT_EQ(standard.configuracion_ktr09.fconversor_bateria,
                    configuracion_ktr09.fconversor_bateria);
    EXPECT_EQ("KTR09 SIMULADA", station_name());
}

TEST_F(BoardServicesTest, NewBoardClockIsStartedAndSetToTheFallbackDate) {
    ASSERT_FALSE(devices().clock->oscillator_running());
    host::power_on();
    const std::string output = run(6 * kSecond);
    EXPECT_NE(std::string::npos,
              output.find("Configuracion RTC:\r\n\tOscilador enable\r\n\tReloj en 24 horas\r\n"
                          "RTC configurado OK\r\n"))
        << output;
    EXPECT_TRUE(devices().clock->oscillator_running());
    const sim::Mcp7940::Time time = devices().clock->time();
    EXPECT_EQ(23, time.year);
    EXPECT_EQ(1, time.month);
    EXPECT_EQ(1, time.day);
    EXPECT_EQ(7, time.weekday);
    EXPECT_EQ(0, time.hour);
    EXPECT_EQ(1, time.minute);
    EXPECT_EQ(0, ktr09.csincronizada) << "not set from GPS time";
    EXPECT_EQ(0, rtc.calarma);
}

TEST_F(BoardServicesTest, DateBeforeTwentyTwentyThreeIsResetAtStartUp) {
    struct Case {
        const char* name;
        sim::Mcp7940::Time clock;
        bool reset;
    };
    const Case cases[] = {
        {"last day of 2022", {22, 12, 31, 6, 23, 50, 0}, true},
        {"first day of 2023", {23, 1, 1, 7, 0, 0, 30}, false},
        {"2024", {24, 3, 5, 2, 14, 7, 30}, false},
    };
    for (const Case& c : cases) {
        host::power_off();
        host::reset_machine();
        sim::attach_default_devices(options);
        devices().clock->set_time(c.clock);
        host::power_on();
        run(5 * kSecond);
        const sim::Mcp7940::Time time = devices().clock->time();
        if (c.reset) {
            EXPECT_EQ(23, time.year) << c.name;
            EXPECT_EQ(1, time.month) << c.name;
            EXPECT_EQ(1, time.day) << c.name;
            EXPECT_EQ(0, time.hour) << c.name;
            EXPECT_EQ(1, time.minute) << c.name;
        } else {
            EXPECT_EQ(c.clock.year, time.year) << c.name;
            EXPECT_EQ(c.clock.day, time.day) << c.name;
            EXPECT_EQ(c.clock.hour, time.hour) << c.name;
            EXPECT_EQ(c.clock.minute, time.minute) << c.name;
        }
        EXPECT_EQ(time.day, ktr09.cdia_utc) << c.name;
    }
}

TEST_F(BoardServicesTest, StatusEveryMinuteFromTheClockJustAfterItsMinuteChanges) {
    devices().clock->set_time({24, 3, 5, 2, 14, 7, 30});
    devices().transponder->settings().gps_fix = false;  // no GPS time to set the clock
    host::power_on();
    std::string output = run(5 * kSecond);
    EXPECT_EQ(5, ktr09.cdia_utc) << "read at start-up";
    EXPECT_EQ(7, ktr09.cminuto_utc);
    std::vector<std::string> dates;
    std::vector<int> seconds_when_printed;
    for (int second = 0; second < 4 * 60; ++second) {
        const std::vector<Status> blocks = status_blocks(run(kSecond));
        for (const Status& block : blocks) {
            dates.push_back(block.date);
            seconds_when_printed.push_back(devices().clock->time().second);
        }
    }
    ASSERT_GE(dates.size(), 4u);
    EXPECT_EQ("05/03/24 14:08", dates[0]);
    EXPECT_EQ("05/03/24 14:09", dates[1]);
    EXPECT_EQ("05/03/24 14:10", dates[2]);
    EXPECT_EQ("05/03/24 14:11", dates[3]);
    // After the first re-read the tick's minute follows the clock's.
    for (size_t i = 1; i < seconds_when_printed.size(); ++i) {
        EXPECT_LE(seconds_when_printed[i], 4) << "block " << i;
    }
}

TEST_F(BoardServicesTest, StatusShowsTheVoltagesAndRaisesAndClearsTheAlarms) {
    devices().clock->set_time({24, 6, 1, 6, 10, 0, 3});
    host::power_on();
    run(5 * kSecond);
    // A console line shows the status at once.
    host::usb_send("\r");
    std::vector<Status> blocks = status_blocks(run(200 * kMillisecond));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_NEAR(12.6, blocks[0].battery, 0.02);
    EXPECT_NEAR(2.0, blocks[0].analog1, 0.01);
    EXPECT_NEAR(1.5, blocks[0].analog2, 0.01);
    EXPECT_FALSE(blocks[0].low_battery || blocks[0].alarm1 || blocks[0].alarm2);

    // The battery runs down in steps small enough to pass the change filter.
    sim::AnalogInputs& analog = *devices().analog;
    for (double volts : {12.2, 11.8, 11.4}) {
        analog.set_battery_volts(volts);
        blocks = status_blocks(run(kMinute));
        ASSERT_EQ(1u, blocks.size());
        EXPECT_NEAR(volts, blocks[0].battery, 0.02);
        EXPECT_FALSE(blocks[0].low_battery) << volts;
    }
    blocks = status_blocks(run(kMinute));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_TRUE(blocks[0].low_battery) << "second reading at or below 11.5 V";
    EXPECT_EQ(1, ktr09.calarma_low_battery);

    // Input 1 falls to its threshold while input 2 stays up.
    analog.set_input_volts(1, 0.3);
    run(kMinute);
    blocks = status_blocks(run(kMinute));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_TRUE(blocks[0].alarm1);
    EXPECT_FALSE(blocks[0].alarm2);

    // Charging and the input's recovery clear both after two readings at or
    // above their release levels.
    analog.set_battery_volts(11.8);
    analog.set_input_volts(1, 1.5);
    blocks = status_blocks(run(kMinute));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_TRUE(blocks[0].low_battery) << "11.8 V is between the thresholds";
    EXPECT_TRUE(blocks[0].alarm1) << "first reading at or above the release level";
    analog.set_battery_volts(12.2);
    blocks = status_blocks(run(kMinute));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_TRUE(blocks[0].low_battery) << "first reading at or above 12.0 V";
    EXPECT_FALSE(blocks[0].alarm1);
    blocks = status_blocks(run(kMinute));
    ASSERT_EQ(1u, blocks.size());
    EXPECT_FALSE(blocks[0].low_battery);
    EXPECT_EQ(0u, host::restart_count());
}

TEST_F(BoardServicesTest, RestartFindsTheConfigurationInTheImage) {
    // The configuration program wrote another station into the part.
    codec::StationConfig changed = codec::default_station_config();
    changed.configuracion_sensor[1].csensor = 1;
    changed.configuracion_sensor[1].cbaudios_comunicacion = 2;
    const char name[] = "FARO SUR";
    changed.configuracion_ktr09.cnombre = {};
    std::copy(name, name + sizeof name - 1, changed.configuracion_ktr09.cnombre.begin());
    devices().eeprom->load(codec::encode_image(changed));
    devices().clock->set_time({24, 6, 1, 6, 10, 0, 0});

    // A new simulator run on the same state directory.
    host::reset_machine();
    sim::attach_default_devices(options);
    host::power_on();
    run(5 * kSecond);
    EXPECT_EQ("FARO SUR", station_name());
    EXPECT_EQ(1, configuracion_sensor[1].csensor);
    EXPECT_EQ(2, configuracion_sensor[1].cbaudios_comunicacion);
    EXPECT_EQ(24, ktr09.cano_utc) << "the clock kept its time across runs";

    // A power cycle: the records start from zero and are loaded again.
    host::power_cycle();
    run(5 * kSecond);
    EXPECT_EQ(1u, host::restart_count());
    EXPECT_EQ("FARO SUR", station_name());
    EXPECT_EQ(1, configuracion_sensor[1].csensor);
}

TEST_F(BoardServicesTest, SilentEepromHoldsTheStationInStartUpWithoutRestarts) {
    devices().eeprom->set_silent(true);
    host::power_on();
    const std::string output = run(20 * kSecond);
    EXPECT_NE(std::string::npos, output.find("KTR09")) << "the banner comes first";
    EXPECT_EQ(std::string::npos, output.find("Configuracion RTC:"));
    EXPECT_EQ(0u, host::restart_count());
    devices().eeprom->set_silent(false);
    EXPECT_NE(std::string::npos, run(2 * kSecond).find("Configuracion RTC:"))
        << "start-up goes on once the part answers";
    EXPECT_EQ(3, configuracion_sensor[0].csensor);
}

TEST_F(BoardServicesTest, SilentClockIsReportedAndTheStationRuns) {
    devices().clock->set_silent(true);
    host::power_on();
    const std::string output = run(10 * kSecond);
    EXPECT_NE(std::string::npos, output.find("Configuracion RTC:\r\nERROR en RTC\r\n")) << output;
    EXPECT_EQ(1, rtc.calarma);
    EXPECT_EQ(0u, host::restart_count()) << "every attempt fed the watchdog";
    EXPECT_TRUE(status_blocks(run(kMinute)).empty()) << "no clock read, no status";
}

}  // namespace
