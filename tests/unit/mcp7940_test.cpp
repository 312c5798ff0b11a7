// The clock and system time against the MCP7940 model on the bus: start-up
// configuration, the oscillator and 12-hour faults, reading and validating
// the date, writing it with its read-back, and the GPS time update.
#include <Wire.h>

#include <algorithm>
#include <string>

#include "UnixTime.h"
#include "devices/mcp7940.h"
#include "mcp7940.h"
#include "support/firmware_fixture.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using sim::Mcp7940;

class ClockTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(Mcp7940::kAddress, &clock);
    }
    void set(int year, int month, int day, int hour, int minute, int second) {
        clock.set_time(
            {year, month, day, calculo_dia_semana(year, month, day), hour, minute, second});
    }
    Mcp7940 clock;
};

TEST_F(ClockTest, TwelveHourClockSwitchedToTwentyFourHoursKeepsTheHourDigits) {
    struct Case {
        const char* name;
        uint8_t hours_register;
        uint8_t expected;
    };
    const Case cases[] = {
        {"05 AM", 0x40 | 0x05, 0x05},
        {"11 PM: the PM bit stays with the digits", 0x40 | 0x20 | 0x11, 0x31},
        {"already 24-hour", 0x17, 0x17},
    };
    for (const Case& c : cases) {
        set(24, 3, 5, 0, 10, 0);
        clock.poke(Mcp7940::kHours, c.hours_register);
        usb();
        config_clock();
        EXPECT_EQ(c.expected, clock.peek(Mcp7940::kHours)) << c.name;
        EXPECT_EQ(0, rtc.calarma) << c.name;
        const std::string twelve = c.hours_register & 0x40 ? "\tOscilador enable\r\n" : "";
        EXPECT_EQ("Configuracion RTC:\r\n" + twelve +
                      "\tOscilador enable\r\n\tReloj en 24 horas\r\nRTC configurado OK\r\n",
                  usb())
            << c.name;
    }
}

TEST_F(ClockTest, ConfigurationStartsAStoppedOscillatorOnTheCrystal) {
    struct Case {
        const char* name;
        bool external_oscillator;
    };
    for (const Case& c : {Case{"start bit clear", false}, Case{"external input selected", true}}) {
        clock.stop_oscillator();
        clock.poke(Mcp7940::kControl, c.external_oscillator ? Mcp7940::kExtOscBit : 0);
        ASSERT_FALSE(clock.oscillator_running()) << c.name;
        config_clock();
        EXPECT_TRUE(clock.oscillator_running()) << c.name;
        EXPECT_EQ(0, clock.peek(Mcp7940::kControl) & Mcp7940::kExtOscBit) << c.name;
        EXPECT_NE(std::string::npos, usb().find("RTC configurado OK")) << c.name;
        EXPECT_EQ(0, rtc.calarma) << c.name;
    }
}

TEST_F(ClockTest, ConfigurationGivesUpAfterTwentyAttempts) {
    struct Case {
        const char* name;
        bool silent;
        bool crystal_failed;
    };
    for (const Case& c : {Case{"no answer", true, false}, Case{"dead crystal", false, true}}) {
        clock.set_silent(c.silent);
        clock.set_crystal_failed(c.crystal_failed);
        usb();
        const host::Micros start = host::now();
        config_clock();
        // Twenty attempts, each after a 100 ms wait.
        EXPECT_GE(host::now() - start, 20 * 100 * kMillisecond) << c.name;
        EXPECT_LT(host::now() - start, 21 * 125 * kMillisecond) << c.name;
        EXPECT_EQ(1, rtc.calarma) << c.name;
        EXPECT_EQ("Configuracion RTC:\r\nERROR en RTC\r\n", usb()) << c.name;
    }
}

TEST_F(ClockTest, ReadingCopiesAValidDateIntoTheSystemTime) {
    set(24, 2, 29, 23, 58, 7);
    ASSERT_EQ(1, lectura_fecha());
    EXPECT_EQ(29, ktr09.cdia_utc);
    EXPECT_EQ(2, ktr09.cmes_utc);
    EXPECT_EQ(24, ktr09.cano_utc);
    EXPECT_EQ(23, ktr09.chora_utc);
    EXPECT_EQ(58, ktr09.cminuto_utc);
    EXPECT_EQ(7, ktr09.csegundo_utc);
    EXPECT_EQ(calculo_dia_semana(24, 2, 29), ktr09.cdia_semana);
    EXPECT_EQ("", usb()) << "nothing is printed in normal operation";
}

TEST_F(ClockTest, InvalidOrUnreadableDateLeavesTheSystemTimeAlone) {
    struct Case {
        const char* name;
        int year, month, day;
        bool silent;
        std::string printed;
    };
    const std::string sat = std::to_string(calculo_dia_semana(19, 6, 1));
    const std::string wed = std::to_string(calculo_dia_semana(23, 2, 29));
    const Case cases[] = {
        {"year before 2020", 19, 6, 1, false,
         "Fecha rx: 01/06/19 " + sat + " 10:00:00\r\nfecha erronea\r\n"},
        {"29 February of a common year", 23, 2, 29, false,
         "Fecha rx: 29/02/23 " + wed + " 10:00:00\r\nfecha erronea\r\n"},
        {"clock silent", 24, 6, 1, true, "lectura fecha erronea\r\n"},
    };
    for (const Case& c : cases) {
        ktr09.cdia_utc = 9;
        ktr09.chora_utc = 9;
        clock.set_silent(false);
        set(c.year, c.month, c.day, 10, 0, 0);
        clock.set_silent(c.silent);
        rtc.cextraigo = 1;
        usb();
        EXPECT_EQ(0, lectura_fecha()) << c.name;
        EXPECT_EQ(9, ktr09.cdia_utc) << c.name;
        EXPECT_EQ(9, ktr09.chora_utc) << c.name;
        EXPECT_EQ(c.printed, usb()) << c.name;
    }
}

TEST_F(ClockTest, SilentClockReadGivesUpWithinTwentyMilliseconds) {
    clock.set_silent(true);
    uint8_t registers[7] = {};
    const host::Micros start = host::now();
    EXPECT_EQ(0, readclock(DIRECCION_RTC, 0, registers, 7));
    EXPECT_GE(host::now() - start, 19 * kMillisecond);
    EXPECT_LE(host::now() - start, 22 * kMillisecond);
    EXPECT_EQ(0, rtc.ctimeout);
}

TEST_F(ClockTest, ReadPrintsItsDateOnlyWithDiagnosticsOrInTestMode) {
    struct Case {
        uint8_t cextraigo;
        uint8_t ctest;
        bool prints;
    };
    const Case cases[] = {{0, 0, false}, {1, 0, true}, {0, 1, true}, {2, 1, true}};
    const std::string line =
        "Fecha rx: 31/12/24 " + std::to_string(calculo_dia_semana(24, 12, 31)) + " 23:59:05\r\n";
    for (const Case& c : cases) {
        rtc.cextraigo = c.cextraigo;
        ktr09.ctest = c.ctest;
        set(24, 12, 31, 23, 59, 5);
        usb();
        EXPECT_EQ(1, lectura_fecha());
        EXPECT_EQ(c.prints ? line : "", usb())
            << "cextraigo " << int(c.cextraigo) << " ctest " << int(c.ctest);
    }
}

TEST_F(ClockTest, ReadingRestartsAStoppedOscillator) {
    set(24, 5, 1, 12, 0, 0);
    clock.stop_oscillator();
    clock.poke(Mcp7940::kControl, Mcp7940::kExtOscBit);
    EXPECT_EQ(1, lectura_fecha()) << "the date it holds is still valid";
    EXPECT_EQ(1, rtc.cposible_error);
    spend(50 * kMillisecond);
    EXPECT_TRUE(clock.oscillator_running());
    EXPECT_EQ(0, clock.peek(Mcp7940::kControl) & Mcp7940::kExtOscBit);
    EXPECT_EQ(1, lectura_fecha());
    EXPECT_EQ(0, rtc.cposible_error);
    EXPECT_EQ(0, rtc.calarma);
}

TEST_F(ClockTest, AlarmAfterMoreThanNineReadingsOfAStoppedOscillator) {
    set(24, 5, 1, 12, 0, 0);
    clock.set_crystal_failed(true);
    rtc.cextraigo = 1;
    for (int reading = 1; reading <= 9; ++reading) {
        usb();
        lectura_fecha();
        EXPECT_EQ(0, rtc.calarma) << "reading " << reading;
        EXPECT_EQ(reading, rtc.cposible_error);
        EXPECT_EQ(0u, usb().find("Possible error RTC\r\n")) << "reading " << reading;
    }
    lectura_fecha();
    EXPECT_EQ(1, rtc.calarma);
    EXPECT_EQ(0, rtc.cposible_error);
    lectura_fecha();
    EXPECT_EQ(0, rtc.cposible_error) << "a raised alarm stops the count";
    // The crystal recovers: the restart request takes and the next reading
    // finds the oscillator running.
    clock.set_crystal_failed(false);
    lectura_fecha();
    spend(50 * kMillisecond);
    lectura_fecha();
    EXPECT_EQ(0, rtc.calarma);
    EXPECT_EQ(0, rtc.cposible_error);
}

// A crystal that stops holds its time still; the station counts on from the
// last time it read running, across the day, the leap day and the year.
TEST_F(ClockTest, AStoppedCrystalIsCountedOnFromTheLastGoodTime) {
    const struct {
        int from[6];
        host::Micros later;
        int to[6];  // year, month, day, hour, minute, second
    } cases[] = {
        {{24, 5, 1, 12, 0, 0}, 75 * kSecond, {24, 5, 1, 12, 1, 15}},
        {{24, 2, 28, 23, 59, 50}, 20 * kSecond, {24, 2, 29, 0, 0, 10}},
        {{28, 12, 31, 23, 59, 59}, 2 * kSecond, {29, 1, 1, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        SetUp();
        clock.set_crystal_failed(false);
        set(c.from[0], c.from[1], c.from[2], c.from[3], c.from[4], c.from[5]);
        ASSERT_EQ(1, lectura_fecha());
        clock.set_crystal_failed(true);
        spend(c.later);
        ASSERT_EQ(1, lectura_fecha());
        const int now[6] = {ktr09.cano_utc,  ktr09.cmes_utc,    ktr09.cdia_utc,
                            ktr09.chora_utc, ktr09.cminuto_utc, ktr09.csegundo_utc};
        EXPECT_TRUE(std::equal(now, now + 6, c.to)) << c.to[0] << "-" << c.to[1] << "-" << c.to[2];
        EXPECT_EQ(calculo_dia_semana(c.to[0], c.to[1], c.to[2]), ktr09.cdia_semana);
        EXPECT_EQ(c.from[5], clock.time().second) << "the chip itself stands still";
    }
}

TEST_F(ClockTest, WriteIsVerifiedAcrossTheYearChange) {
    // The clock's second can end at any moment around the write: before the
    // write, between the write and its read-back, or after both.
    const host::Micros before_second_ends[] = {3000, 2000, 1500, 1200, 1000, 900,
                                               800,  600,  400,  200,  100,  50};
    bool crossed = false;
    for (host::Micros lead : before_second_ends) {
        set(24, 6, 1, 8, 0, 0);
        ktr09.csincronizada = 0;
        spend(kSecond - lead);
        ASSERT_EQ(1, escritura_fecha(31, 12, 24, 0, 23, 59, 59)) << lead << " us before the tick";
        EXPECT_EQ(1, ktr09.csincronizada);
        if (ktr09.cano_utc == 25) {
            crossed = true;
            EXPECT_EQ(1, ktr09.cmes_utc);
            EXPECT_EQ(1, ktr09.cdia_utc);
            EXPECT_EQ(0, ktr09.chora_utc);
            EXPECT_EQ(0, ktr09.cminuto_utc);
            EXPECT_EQ(calculo_dia_semana(25, 1, 1), ktr09.cdia_semana);
        } else {
            EXPECT_EQ(24, ktr09.cano_utc);
            EXPECT_EQ(59, ktr09.cminuto_utc);
            EXPECT_EQ(calculo_dia_semana(24, 12, 31), ktr09.cdia_semana);
        }
    }
    EXPECT_TRUE(crossed) << "some write must have been read back after the year changed";
}

TEST_F(ClockTest, WriteStoresBcdWithTheOscillatorStartedInTwentyFourHourMode) {
    set(24, 1, 1, 0, 0, 0);
    clock.poke(Mcp7940::kHours, 0x40 | 0x05);
    rtc.cextraigo = 1;
    usb();
    ASSERT_EQ(1, escritura_fecha(3, 4, 24, 0, 15, 7, 9));
    EXPECT_EQ(0x89, clock.peek(Mcp7940::kSeconds));
    EXPECT_EQ(0x07, clock.peek(Mcp7940::kMinutes));
    EXPECT_EQ(0x15, clock.peek(Mcp7940::kHours));
    EXPECT_EQ(calculo_dia_semana(24, 4, 3), clock.peek(Mcp7940::kWeekday) & 0x07);
    EXPECT_EQ(0x03, clock.peek(Mcp7940::kDate));
    EXPECT_EQ(0x04, clock.peek(Mcp7940::kMonth) & 0x1F);
    EXPECT_EQ(0x24, clock.peek(Mcp7940::kYear));
    const std::string weekday = std::to_string(calculo_dia_semana(24, 4, 3));
    EXPECT_EQ("Fecha rx: 03/04/24 " + weekday + " 15:07:09\r\nFecha write: " + weekday +
                  " 03/04/24 15:07:09\t137 007 021 00" + weekday + " 003 004 036\r\n",
              usb());
}

TEST_F(ClockTest, WriteFailsAfterFiveAttemptsWhenTheClockDoesNotAnswer) {
    clock.set_silent(true);
    rtc.cextraigo = 1;
    usb();
    EXPECT_EQ(0, escritura_fecha(3, 4, 24, 0, 15, 7, 9));
    EXPECT_EQ(0, ktr09.csincronizada);
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        expected += "lectura fecha erronea\r\nError escritura fecha\r\n";
    }
    EXPECT_EQ(expected, usb());
}

TEST_F(ClockTest, WriteThatReadsBackAnotherDateFailsAfterFiveAttempts) {
    // The clock keeps only the bits it has: day 45 reads back as day 5, and a
    // weekday of 9 as 1. Both are valid dates, but not the ones written.
    struct Case {
        const char* name;
        uint8_t day, weekday;
    };
    const Case cases[] = {{"day 45 read back as 5", 45, 3}, {"weekday 9 read back as 1", 3, 9}};
    for (const Case& c : cases) {
        set(24, 1, 1, 0, 0, 0);
        ktr09.csincronizada = 0;
        rtc.cextraigo = 1;
        usb();
        EXPECT_EQ(0, escritura_fecha(c.day, 4, 24, c.weekday, 15, 7, 9)) << c.name;
        EXPECT_EQ(0, ktr09.csincronizada) << c.name;
        const std::string printed = usb();
        size_t failures = 0;
        for (size_t at = printed.find("Error escritura fecha"); at != std::string::npos;
             at = printed.find("Error escritura fecha", at + 1)) {
            ++failures;
        }
        EXPECT_EQ(5u, failures) << c.name << "\n" << printed;
    }
}

TEST_F(ClockTest, GpsTimeSetsTheClockAndOpensTheDaysLogDirectoryOnce) {
    stais.cdia_utc = 3;
    stais.cmes_utc = 4;
    stais.cano_utc = 24;
    stais.chora_utc = 15;
    stais.cminuto_utc = 7;
    stais.csegundo_utc = 9;
    stais.csatelites = 8;
    stais.cqgps = 12;
    stais.cgrados_latitud = 43;
    stais.cminutos_latitud = 21;
    stais.idiez_milesimas_minutos_latitud = 1234;
    stais.cnorte_sur = 'N';
    stais.cgrados_longitud = 8;
    stais.cminutos_longitud = 23;
    stais.idiez_milesimas_minutos_longitud = 45;
    stais.ceste_oeste = 'W';
    nueva_hora_sistema();
    const Mcp7940::Time now = clock.time();
    EXPECT_EQ(24, now.year);
    EXPECT_EQ(4, now.month);
    EXPECT_EQ(3, now.day);
    EXPECT_EQ(15, now.hour);
    EXPECT_EQ(7, now.minute);
    EXPECT_EQ(1, ktr09.csincronizada);
    EXPECT_EQ(creacion_variable_fecha(24, 4, 3, 15, 0), stsd.lfecha_fichero);
    EXPECT_EQ(1, stsd.ccreacion_nuevo_directorio);
    EXPECT_EQ(
        "\r\n********       Nueva hora sistema       ********\r\n"
        "\tFecha: 03/04/24 15:07:09\r\n"
        "\tSatelites: 08\tCalidad: 1.2\r\n"
        "\tLatitud GPS: 43 21.1234N\r\n"
        "\tLongitud GPS: 008 23.0045W\r\n\r\n",
        usb());

    // Already synchronised: a new hour does not move the log directory.
    stsd.ccreacion_nuevo_directorio = 0;
    stais.chora_utc = 16;
    nueva_hora_sistema();
    EXPECT_EQ(creacion_variable_fecha(24, 4, 3, 15, 0), stsd.lfecha_fichero);
    EXPECT_EQ(0, stsd.ccreacion_nuevo_directorio);
    EXPECT_EQ(16, clock.time().hour);
}

}  // namespace

// ---- The loop's once-a-minute re-read ----------------------------------------

class ClockRereadTest : public ClockTest {
  protected:
    void SetUp() override {
        ClockTest::SetUp();
        ktr09.creintentos_lectura_fecha = 10;
    }
};

TEST_F(ClockRereadTest, FailedReadIsRepeatedOnEveryPassUntilItSucceeds) {
    set(24, 6, 1, 10, 20, 2);
    clock.set_silent(true);
    loop();
    loop();
    EXPECT_EQ(10, ktr09.creintentos_lectura_fecha);
    EXPECT_EQ(0, ktr09.crefresco);
    EXPECT_EQ(std::string::npos, usb().find("FW: 3-0")) << "no status without a reading";
    clock.set_silent(false);
    loop();
    EXPECT_EQ(0, ktr09.creintentos_lectura_fecha);
    EXPECT_EQ(0, ktr09.crefresco) << "the status ran in the same pass";
    EXPECT_NE(std::string::npos, usb().find("\t\t01/06/24 10:20\tFW: 3-0\r\n"));
    loop();
    EXPECT_EQ("", usb()) << "once per reading";
}

TEST_F(ClockRereadTest, TickMinuteFollowsTheClockSeconds) {
    struct Case {
        int second;
        uint8_t divider_before;
        uint8_t divider_after;
    };
    const Case cases[] = {{5, 40, 3}, {30, 40, 28}, {59, 0, 57}, {4, 40, 40}, {0, 17, 17}};
    for (const Case& c : cases) {
        set(24, 6, 1, 10, 20, c.second);
        ktr09.creintentos_lectura_fecha = 10;
        cacciones_un_minuto = c.divider_before;
        loop();
        EXPECT_EQ(c.divider_after, cacciones_un_minuto) << "second " << c.second;
    }
}

TEST_F(ClockRereadTest, NewHourStartsANewLogDirectory) {
    set(24, 6, 1, 10, 59, 30);
    loop();
    const uint32_t ten = creacion_variable_fecha(24, 6, 1, 10, 0);
    EXPECT_EQ(ten, stsd.lfecha_fichero);
    EXPECT_EQ(1, stsd.ccreacion_nuevo_directorio);

    // Within the hour nothing moves.
    stsd.ccreacion_nuevo_directorio = 0;
    stsd.ccreacion_nuevo_fichero[0] = 2;
    stsd.ccreacion_nuevo_fichero[1] = 1;
    spend(20 * kSecond);
    ktr09.creintentos_lectura_fecha = 10;
    loop();
    EXPECT_EQ(ten, stsd.lfecha_fichero);
    EXPECT_EQ(0, stsd.ccreacion_nuevo_directorio);
    EXPECT_EQ(2, stsd.ccreacion_nuevo_fichero[0]);

    // The clock has passed 11:00: the open file is closed, and both files
    // wait for the new hour's directory, with their attempts afresh.
    stsd.cintentos_creacion_fichero[1] = 12;
    spend(15 * kSecond);
    ktr09.creintentos_lectura_fecha = 10;
    loop();
    EXPECT_EQ(creacion_variable_fecha(24, 6, 1, 11, 0), stsd.lfecha_fichero);
    EXPECT_EQ(1, stsd.ccreacion_nuevo_directorio);
    EXPECT_EQ(0, stsd.ccreacion_nuevo_fichero[0]);
    EXPECT_EQ(0, stsd.ccreacion_nuevo_fichero[1]);
    EXPECT_EQ(0, stsd.cintentos_creacion_fichero[1]);
}
