#include "UnixTime.h"

#include "declaraciones.h"

uint8_t convert_bcd_decimal(uint8_t cdata) {
    return static_cast<uint8_t>((cdata >> 4) * 10 + (cdata & 0x0F));
}

uint8_t convert_decimal_bcd(uint8_t cdata) {
    return static_cast<uint8_t>(((cdata / 10) % 16) * 16 + cdata % 10);
}

uint16_t calculo_dias(uint8_t cano, uint8_t cmes, uint8_t cdia) {
    uint16_t idias = 0;
    if (cano != 0) {
        idias = static_cast<uint16_t>((cano - 1) * 365 + (cano - 1) / 4 + 1);
    }
    const unsigned char* pmeses = (cano % 4 == 0) ? m_meses_bisiesto : m_meses;
    // A month above 12 counts the whole year: the tables have twelve entries.
    for (uint8_t cm = 1; cm < cmes && cm <= 12; ++cm) {
        idias = static_cast<uint16_t>(idias + pmeses[cm - 1]);
    }
    return static_cast<uint16_t>(idias + cdia);
}

uint8_t calculo_dia_semana(uint8_t cano, uint8_t cmes, uint8_t cdia) {
    // Day count 0 mod 7 falls on a Saturday.
    const uint8_t cresto = static_cast<uint8_t>(calculo_dias(cano, cmes, cdia) % 7);
    return static_cast<uint8_t>(cresto < 2 ? cresto + 6 : cresto - 1);
}

uint32_t creacion_variable_fecha(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t chora,
                                 uint8_t cminutos) {
    return cmes * 100000000u + cdia * 1000000u + cano * 10000u + chora * 100u + cminutos;
}

uint32_t conversion_fecha_a_unix() {
    // Days before each month from January, February counted as 28: the leap
    // day enters through the year, which runs from March.
    const int32_t idias_antes_mes[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int32_t m = (ktr09.cmes_utc > 2) ? 1 : 0;
    const int32_t y = ktr09.cano_utc + 30 + m;
    int32_t cmes = ktr09.cmes_utc;
    if (cmes < 1) {
        cmes = 1;
    } else if (cmes > 12) {
        cmes = 12;
    }
    const int32_t ldias = (ktr09.cdia_utc - 1) + idias_antes_mes[cmes - 1] + (y + 1) / 4 -
                          (y + 69) / 100 + (y + 369) / 400 + (y - m) * 365;
    // The seconds pass 2^31 in 2038: the product wraps in 32 bits as on the
    // chip, where the result is read unsigned.
    const uint32_t lsegundos =
        ((static_cast<uint32_t>(ldias) * 24u + ktr09.chora_utc) * 60u + ktr09.cminuto_utc) * 60u +
        ktr09.csegundo_utc;
    return lsegundos;
}

void conversion_unix_a_fecha(uint32_t lsegundos) {
    constexpr uint32_t LSEGUNDOS_2000 = 946684800u;
    if (lsegundos < LSEGUNDOS_2000) {
        return;
    }
    lsegundos -= LSEGUNDOS_2000;
    ktr09.csegundo_utc = static_cast<uint8_t>(lsegundos % 60);
    ktr09.cminuto_utc = static_cast<uint8_t>(lsegundos / 60 % 60);
    ktr09.chora_utc = static_cast<uint8_t>(lsegundos / 3600 % 24);
    uint32_t ldias = lsegundos / 86400;
    uint8_t cano = 0;
    while (ldias >= (cano % 4 == 0 ? 366u : 365u)) {
        ldias -= cano % 4 == 0 ? 366u : 365u;
        ++cano;
    }
    const unsigned char* pmeses = (cano % 4 == 0) ? m_meses_bisiesto : m_meses;
    uint8_t cmes = 1;
    while (ldias >= pmeses[cmes - 1]) {
        ldias -= pmeses[cmes - 1];
        ++cmes;
    }
    ktr09.cano_utc = cano;
    ktr09.cmes_utc = cmes;
    ktr09.cdia_utc = static_cast<uint8_t>(ldias + 1);
    ktr09.cdia_semana = calculo_dia_semana(cano, cmes, ktr09.cdia_utc);
}

uint8_t verificacion_limites_fecha(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t cdia_semana,
                                   uint8_t chora, uint8_t cminuto, uint8_t csegundo) {
    if (cano < 20 || cano > 99) {
        return 1;
    }
    if (cmes < 1 || cmes > 12) {
        return 1;
    }
    const unsigned char* pmeses = (cano % 4 == 0) ? m_meses_bisiesto : m_meses;
    // Day 0 is no date: the clock and GPS never give it, so it means a bad read.
    if (cdia < 1 || cdia > pmeses[cmes - 1]) {
        return 1;
    }
    if (cdia_semana < 1 || cdia_semana > 7) {
        return 1;
    }
    if (chora > 23) {
        return 1;
    }
    if (cminuto > 59) {
        return 1;
    }
    return (csegundo > 59) ? 1 : 0;
}
