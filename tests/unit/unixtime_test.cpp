// Calendar arithmetic: BCD, day counts, weekday, date key, seconds since
// 1970 and date validation, checked against the C library's calendar.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

#include "UnixTime.h"
#include "support/firmware_fixture.h"

namespace {

class UnixTimeTest : public FirmwareTest {};

struct Date {
    int year;  // two digits
    int month;
    int day;
};

time_t to_time(const Date& d, int hour = 0, int minute = 0, int second = 0) {
    std::tm t{};
    t.tm_year = 100 + d.year;
    t.tm_mon = d.month - 1;
    t.tm_mday = d.day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

// Calls f for every day from `first` to `last` inclusive, with the C
// library's broken-down time of it.
template <typename F>
void for_each_day(const Date& first, const Date& last, F f) {
    const time_t end = to_time(last);
    for (time_t t = to_time(first); t <= end; t += 86400) {
        std::tm tm{};
        gmtime_r(&t, &tm);
        f(Date{tm.tm_year - 100, tm.tm_mon + 1, tm.tm_mday}, tm, t);
    }
}

// ---- BCD -------------------------------------------------------------------------

TEST_F(UnixTimeTest, BcdConversionsAreInverseOverTwoDigits) {
    EXPECT_EQ(59, convert_bcd_decimal(0x59));
    EXPECT_EQ(0x59, convert_decimal_bcd(59));
    for (int v = 0; v <= 99; ++v) {
        SCOPED_TRACE(v);
        char text[4];
        std::snprintf(text, sizeof text, "%02d", v);
        const uint8_t bcd = static_cast<uint8_t>(std::strtoul(text, nullptr, 16));
        EXPECT_EQ(bcd, convert_decimal_bcd(static_cast<uint8_t>(v)));
        EXPECT_EQ(v, convert_bcd_decimal(bcd));
    }
}

// ---- calculo_dias --------------------------------------------------------------

TEST_F(UnixTimeTest, CalculoDiasKnownDates) {
    const struct {
        Date date;
        uint16_t expected;
    } cases[] = {
        {{23, 1, 1}, 8037},
        {{22, 12, 31}, 8036},
        {{1, 1, 1}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.date.year << "-" << c.date.month << "-" << c.date.day);
        EXPECT_EQ(c.expected, calculo_dias(static_cast<uint8_t>(c.date.year),
                                           static_cast<uint8_t>(c.date.month),
                                           static_cast<uint8_t>(c.date.day)));
    }
}

TEST_F(UnixTimeTest, CalculoDiasRisesByOnePerDayFrom2001) {
    int previous = -1;
    for_each_day({1, 1, 1}, {99, 12, 31}, [&](const Date& d, const std::tm&, time_t) {
        const int days = calculo_dias(static_cast<uint8_t>(d.year), static_cast<uint8_t>(d.month),
                                      static_cast<uint8_t>(d.day));
        if (previous >= 0) {
            ASSERT_EQ(previous + 1, days) << d.year << "-" << d.month << "-" << d.day;
        }
        previous = days;
    });
}

TEST_F(UnixTimeTest, CalculoDiasMonthBeyondTwelveStaysInTheTable) {
    // Month 13 runs on into the next January; later months add no more.
    EXPECT_EQ(calculo_dias(24, 1, 5), calculo_dias(23, 13, 5));
    EXPECT_EQ(calculo_dias(23, 13, 5), calculo_dias(23, 255, 5));
}

// ---- calculo_dia_semana --------------------------------------------------------

TEST_F(UnixTimeTest, CalculoDiaSemanaAgreesWithTheCLibrary) {
    // Year 00 is not continuous with 01, so the weekday holds from 2001 on.
    for_each_day({1, 1, 1}, {99, 12, 31}, [](const Date& d, const std::tm& tm, time_t) {
        const int expected = tm.tm_wday == 0 ? 7 : tm.tm_wday;  // 1 = Monday .. 7 = Sunday
        ASSERT_EQ(expected,
                  calculo_dia_semana(static_cast<uint8_t>(d.year), static_cast<uint8_t>(d.month),
                                     static_cast<uint8_t>(d.day)))
            << d.year << "-" << d.month << "-" << d.day;
    });
    EXPECT_EQ(7, calculo_dia_semana(23, 1, 1));
    EXPECT_EQ(1, calculo_dia_semana(23, 1, 2));
}

// ---- creacion_variable_fecha ----------------------------------------------------

TEST_F(UnixTimeTest, CreacionVariableFechaReadsAsMMDDYYHHmm) {
    EXPECT_EQ(403241507u, creacion_variable_fecha(24, 4, 3, 15, 7));
    std::mt19937 rng(2);
    for (int round = 0; round < 2000; ++round) {
        const unsigned year = rng() % 100, month = 1 + rng() % 12, day = 1 + rng() % 31,
                       hour = rng() % 24, minute = rng() % 60;
        char text[16];
        std::snprintf(text, sizeof text, "%02u%02u%02u%02u%02u", month, day, year, hour, minute);
        ASSERT_EQ(std::strtoul(text, nullptr, 10),
                  creacion_variable_fecha(static_cast<uint8_t>(year), static_cast<uint8_t>(month),
                                          static_cast<uint8_t>(day), static_cast<uint8_t>(hour),
                                          static_cast<uint8_t>(minute)))
            << text;
    }
    EXPECT_EQ(1231992359u, creacion_variable_fecha(99, 12, 31, 23, 59));
}

// ---- conversion_fecha_a_unix ----------------------------------------------------

TEST_F(UnixTimeTest, ConversionFechaAUnixEqualsTimegm) {
    const int times[][3] = {{0, 0, 0}, {12, 34, 56}, {23, 59, 59}, {7, 0, 1}};
    for_each_day({0, 3, 1}, {99, 12, 31}, [&](const Date& d, const std::tm&, time_t) {
        ktr09.cano_utc = static_cast<uint8_t>(d.year);
        ktr09.cmes_utc = static_cast<uint8_t>(d.month);
        ktr09.cdia_utc = static_cast<uint8_t>(d.day);
        for (const auto& hms : times) {
            ktr09.chora_utc = static_cast<uint8_t>(hms[0]);
            ktr09.cminuto_utc = static_cast<uint8_t>(hms[1]);
            ktr09.csegundo_utc = static_cast<uint8_t>(hms[2]);
            ASSERT_EQ(static_cast<uint32_t>(to_time(d, hms[0], hms[1], hms[2])),
                      conversion_fecha_a_unix())
                << d.year << "-" << d.month << "-" << d.day;
        }
    });
}

TEST_F(UnixTimeTest, ConversionFechaAUnixKnownInstants) {
    const struct {
        Date date;
        uint32_t expected;
    } cases[] = {{{23, 1, 1}, 1672531200u}, {{24, 3, 1}, 1709251200u}};
    for (const auto& c : cases) {
        ktr09.cano_utc = static_cast<uint8_t>(c.date.year);
        ktr09.cmes_utc = static_cast<uint8_t>(c.date.month);
        ktr09.cdia_utc = static_cast<uint8_t>(c.date.day);
        ktr09.chora_utc = ktr09.cminuto_utc = ktr09.csegundo_utc = 0;
        EXPECT_EQ(c.expected, conversion_fecha_a_unix());
    }
}

// ---- verificacion_limites_fecha -----------------------------------------------

TEST_F(UnixTimeTest, VerificacionLimitesFechaChecksEachField) {
    const struct {
        const char* name;
        uint8_t year, month, day, weekday, hour, minute, second;
        uint8_t expected;
    } cases[] = {
        {"valid", 24, 4, 3, 3, 15, 7, 0, 0},
        {"latest instant", 99, 12, 31, 4, 23, 59, 59, 0},
        {"earliest year", 20, 1, 1, 3, 0, 0, 0, 0},
        {"year 19", 19, 6, 1, 1, 0, 0, 0, 1},
        {"year 0", 0, 6, 1, 1, 0, 0, 0, 1},
        {"year 100", 100, 6, 1, 1, 0, 0, 0, 1},
        {"year 255", 255, 6, 1, 1, 0, 0, 0, 1},
        {"month 0", 24, 0, 1, 1, 0, 0, 0, 1},
        {"month 13", 24, 13, 1, 1, 0, 0, 0, 1},
        {"day 0 is rejected", 24, 4, 0, 1, 0, 0, 0, 1},
        {"31 April", 24, 4, 31, 1, 0, 0, 0, 1},
        {"30 April", 24, 4, 30, 1, 0, 0, 0, 0},
        {"weekday 0", 24, 4, 3, 0, 0, 0, 0, 1},
        {"weekday 8", 24, 4, 3, 8, 0, 0, 0, 1},
        {"weekday 7", 24, 4, 3, 7, 0, 0, 0, 0},
        {"hour 24", 24, 4, 3, 3, 24, 0, 0, 1},
        {"minute 60", 24, 4, 3, 3, 0, 60, 0, 1},
        {"second 60", 24, 4, 3, 3, 0, 0, 60, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, verificacion_limites_fecha(c.year, c.month, c.day, c.weekday, c.hour,
                                                         c.minute, c.second));
    }
}

TEST_F(UnixTimeTest, VerificacionLimitesFechaAcceptsExactlyTheCalendarDays) {
    // A day is valid when the C library's calendar keeps it as it is.
    for (int year = 20; year <= 99; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 0; day <= 32; ++day) {
                std::tm tm{};
                const time_t t = to_time({year, month, day});
                gmtime_r(&t, &tm);
                const bool real = day >= 1 && tm.tm_mday == day && tm.tm_mon + 1 == month;
                ASSERT_EQ(real ? 0 : 1, verificacion_limites_fecha(
                                            static_cast<uint8_t>(year), static_cast<uint8_t>(month),
                                            static_cast<uint8_t>(day), 1, 12, 0, 0))
                    << year << "-" << month << "-" << day;
            }
        }
    }
    EXPECT_EQ(0, verificacion_limites_fecha(24, 2, 29, 4, 0, 0, 0));
    EXPECT_EQ(1, verificacion_limites_fecha(23, 2, 29, 3, 0, 0, 0));
}

}  // namespace
