#include "mcp7940.h"

#include <Arduino.h>
#include <Wire.h>
#include <sodaq_wdt.h>

#include "UnixTime.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "gestion_sd.h"
#include "main.h"

namespace {

// Registers of the clock.
constexpr uint8_t kRegSegundos = 0;
constexpr uint8_t kRegHoras = 2;
constexpr uint8_t kRegDiaSemana = 3;
constexpr uint8_t kRegControl = 7;

constexpr uint8_t kBitArranqueOscilador = 0x80;  // seconds register: ST
constexpr uint8_t kBitModo12Horas = 0x40;        // hours register
constexpr uint8_t kBitOsciladorEnMarcha = 0x20;  // weekday register: OSCRUN
constexpr uint8_t kBitOsciladorExterno = 0x08;   // control register: EXTOSC

constexpr uint8_t kIntentosConfiguracion = 20;
constexpr uint8_t kIntentosEscritura = 5;
constexpr uint8_t kTimeoutLecturaMs = 20;
constexpr uint8_t kLecturasParadoAlarma = 9;

struct Fecha {
    uint8_t cdia, cmes, cano, cdia_semana, chora, cminuto, csegundo;
};

void imprimo_fecha_hora(const Fecha& fecha) {
    transmito_variable(fecha.cdia, 2, '/');
    transmito_variable(fecha.cmes, 2, '/');
    transmito_variable(fecha.cano, 2, ' ');
    transmito_variable(fecha.chora, 2, ':');
    transmito_variable(fecha.cminuto, 2, ':');
    transmito_variable(fecha.csegundo, 2, 0);
}

// The oscillator found stopped: start it again (seconds kept) on the crystal.
void arranco_oscilador(uint8_t csegundos) {
    writeclock(DIRECCION_RTC, kRegSegundos, csegundos | kBitArranqueOscilador);
    uint8_t ccontrol = 0;
    if (readclock(DIRECCION_RTC, kRegControl, &ccontrol, 1) == 1) {
        writeclock(DIRECCION_RTC, kRegControl, ccontrol & ~kBitOsciladorExterno);
    }
}

uint8_t dias_del_mes(uint8_t cano, uint8_t cmes) {
    if (cmes < 1 || cmes > 12) {
        return 31;
    }
    return (cano % 4 == 0) ? m_meses_bisiesto[cmes - 1] : m_meses[cmes - 1];
}

// The date and time one minute later, carried through hour, day, weekday,
// month and year.
Fecha minuto_siguiente(Fecha fecha) {
    if (++fecha.cminuto < 60) {
        return fecha;
    }
    fecha.cminuto = 0;
    if (++fecha.chora < 24) {
        return fecha;
    }
    fecha.chora = 0;
    fecha.cdia_semana = fecha.cdia_semana >= 7 ? 1 : fecha.cdia_semana + 1;
    if (++fecha.cdia <= dias_del_mes(fecha.cano, fecha.cmes)) {
        return fecha;
    }
    fecha.cdia = 1;
    if (++fecha.cmes <= 12) {
        return fecha;
    }
    fecha.cmes = 1;
    fecha.cano = fecha.cano >= 99 ? 0 : fecha.cano + 1;
    return fecha;
}

// Seconds are not compared: the clock may have ticked since the write.
bool misma_fecha_hasta_minuto(const Fecha& fecha) {
    return ktr09.cano_utc == fecha.cano && ktr09.cmes_utc == fecha.cmes &&
           ktr09.cdia_utc == fecha.cdia && ktr09.cdia_semana == fecha.cdia_semana &&
           ktr09.chora_utc == fecha.chora && ktr09.cminuto_utc == fecha.cminuto;
}

}  // namespace

void writeclock(uint8_t cid, uint8_t caddress, uint8_t cdato) {
    writeclock_sequencial(cid, caddress, &cdato, 1);
}

void writeclock_sequencial(uint8_t cid, uint8_t caddress, const uint8_t* pcdatos,
                           uint8_t ccantidad_bytes) {
    Wire.beginTransmission(static_cast<uint8_t>(cid >> 1));
    Wire.write(caddress);
    for (uint8_t i = 0; i < ccantidad_bytes; ++i) {
        Wire.write(pcdatos[i]);
    }
    Wire.endTransmission();
}

uint8_t readclock(uint8_t cid, uint8_t caddress, uint8_t* pcdatos, uint8_t ccantidad_bytes) {
    const uint8_t cdispositivo = static_cast<uint8_t>(cid >> 1);
    Wire.beginTransmission(cdispositivo);
    Wire.write(caddress);
    Wire.endTransmission();
    Wire.requestFrom(cdispositivo, ccantidad_bytes);
    rtc.ctimeout = kTimeoutLecturaMs;
    while (Wire.available() < ccantidad_bytes && rtc.ctimeout != 0) {
    }
    const bool bcompleta = Wire.available() >= ccantidad_bytes;
    rtc.ctimeout = 0;
    if (!bcompleta) {
        return 0;
    }
    for (uint8_t i = 0; i < ccantidad_bytes; ++i) {
        pcdatos[i] = static_cast<uint8_t>(Wire.read());
    }
    return 1;
}

void config_clock() {
    rtc.cextraigo = 0;
    escribo_mensaje(1, "Configuracion RTC:");
    rtc.calarma = 0;
    rtc.cposible_error = 0;
    for (uint8_t cintento = 0; cintento < kIntentosConfiguracion; ++cintento) {
        sodaq_wdt_reset();
        retardo_milisegundos(100);
        uint8_t cregistros[8];
        if (readclock(DIRECCION_RTC, kRegSegundos, cregistros, sizeof(cregistros)) == 0) {
            continue;
        }
        if ((cregistros[kRegDiaSemana] & kBitOsciladorEnMarcha) == 0) {
            writeclock(DIRECCION_RTC, kRegSegundos,
                       cregistros[kRegSegundos] | kBitArranqueOscilador);
            writeclock(DIRECCION_RTC, kRegControl, cregistros[kRegControl] & ~kBitOsciladorExterno);
            continue;
        }
        escribo_mensaje(1, "\tOscilador enable");
        if ((cregistros[kRegHoras] & kBitModo12Horas) != 0) {
            // Only the mode bit goes: the hour digits stay as they are.
            writeclock(DIRECCION_RTC, kRegHoras, cregistros[kRegHoras] & ~kBitModo12Horas);
            continue;
        }
        escribo_mensaje(1, "\tReloj en 24 horas");
        escribo_mensaje(1, "RTC configurado OK");
        return;
    }
    escribo_mensaje(1, "ERROR en RTC");
    rtc.calarma = 1;
}

namespace {

// The system time is right as it stands: the base to count on from.
void marco_hora_sistema() {
    rtc.lunix_base = conversion_fecha_a_unix();
    rtc.lmillis_base = millis();
}

}  // namespace

uint8_t lectura_fecha() {
    const bool bimprimir = rtc.cextraigo != 0 || ktr09.ctest == 1;
    uint8_t r[7];
    if (readclock(DIRECCION_RTC, kRegSegundos, r, sizeof(r)) == 0) {
        if (bimprimir) {
            escribo_mensaje(1, "lectura fecha erronea");
        }
        return 0;
    }
    if ((r[kRegDiaSemana] & kBitOsciladorEnMarcha) == 0) {
        arranco_oscilador(r[kRegSegundos]);
        if (rtc.cextraigo != 0) {
            escribo_mensaje(1, "Possible error RTC");
        }
        if (rtc.calarma == 0 && ++rtc.cposible_error > kLecturasParadoAlarma) {
            rtc.cposible_error = 0;
            rtc.calarma = 1;
        }
        // A stopped crystal holds its time still: the records would all
        // carry it. Counted on from the last good time instead, once there
        // is one.
        if (rtc.lunix_base != 0) {
            conversion_unix_a_fecha(rtc.lunix_base + (millis() - rtc.lmillis_base) / 1000u);
            return 1;
        }
    } else {
        rtc.cposible_error = 0;
        rtc.calarma = 0;
    }
    Fecha leida;
    leida.csegundo = convert_bcd_decimal(r[0] & 0x7F);
    leida.cminuto = convert_bcd_decimal(r[1] & 0x7F);
    leida.chora = convert_bcd_decimal(r[2] & 0x3F);
    leida.cdia_semana = r[3] & 0x07;
    leida.cdia = convert_bcd_decimal(r[4] & 0x3F);
    leida.cmes = convert_bcd_decimal(r[5] & 0x1F);
    leida.cano = convert_bcd_decimal(r[6]);
    const bool bvalida =
        verificacion_limites_fecha(leida.cano, leida.cmes, leida.cdia, leida.cdia_semana,
                                   leida.chora, leida.cminuto, leida.csegundo) == 0;
    if (bimprimir) {
        SerialUSB.print("Fecha rx: ");
        transmito_variable(leida.cdia, 2, '/');
        transmito_variable(leida.cmes, 2, '/');
        transmito_variable(leida.cano, 2, ' ');
        transmito_variable(leida.cdia_semana, 1, ' ');
        transmito_variable(leida.chora, 2, ':');
        transmito_variable(leida.cminuto, 2, ':');
        transmito_variable(leida.csegundo, 2, 1);
    }
    if (!bvalida) {
        if (bimprimir) {
            escribo_mensaje(1, "fecha erronea");
        }
        return 0;
    }
    ktr09.cdia_utc = leida.cdia;
    ktr09.cmes_utc = leida.cmes;
    ktr09.cano_utc = leida.cano;
    ktr09.chora_utc = leida.chora;
    ktr09.cminuto_utc = leida.cminuto;
    ktr09.csegundo_utc = leida.csegundo;
    ktr09.cdia_semana = leida.cdia_semana;
    if ((r[kRegDiaSemana] & kBitOsciladorEnMarcha) != 0) {
        marco_hora_sistema();
    }
    return 1;
}

// A retry writes the requested date and time again: the one-minute allowance
// applies to each read-back, so a retry never moves the clock ahead of what
// was asked.
uint8_t escritura_fecha(uint8_t cdia, uint8_t cmes, uint8_t cano, uint8_t cdia_semana,
                        uint8_t chora, uint8_t cminuto, uint8_t csegundo) {
    if (cdia_semana == 0) {
        cdia_semana = calculo_dia_semana(cano, cmes, cdia);
    }
    const Fecha escrita = {cdia, cmes, cano, cdia_semana, chora, cminuto, csegundo};
    const uint8_t cregistros[7] = {
        static_cast<uint8_t>(convert_decimal_bcd(csegundo) | kBitArranqueOscilador),
        convert_decimal_bcd(cminuto),
        convert_decimal_bcd(chora),
        cdia_semana,
        convert_decimal_bcd(cdia),
        convert_decimal_bcd(cmes),
        convert_decimal_bcd(cano),
    };
    for (uint8_t cintento = 0; cintento < kIntentosEscritura; ++cintento) {
        writeclock_sequencial(DIRECCION_RTC, kRegSegundos, cregistros, sizeof(cregistros));
        const bool bverificada =
            lectura_fecha() == 1 && (misma_fecha_hasta_minuto(escrita) ||
                                     misma_fecha_hasta_minuto(minuto_siguiente(escrita)));
        if (bverificada) {
            if (rtc.cextraigo != 0) {
                SerialUSB.print("Fecha write: ");
                transmito_variable(cdia_semana, 1, ' ');
                imprimo_fecha_hora(escrita);
                SerialUSB.print('\t');
                constexpr uint8_t kRegistros = sizeof(cregistros);
                for (uint8_t i = 0; i < kRegistros; ++i) {
                    transmito_variable(cregistros[i], 3, i + 1 < kRegistros ? ' ' : 1);
                }
            }
            ktr09.csincronizada = 1;
            return 1;
        }
        if (rtc.cextraigo != 0) {
            escribo_mensaje(1, "Error escritura fecha");
        }
    }
    return 0;
}

void nueva_hora_sistema() {
    ktr09.cdia_utc = stais.cdia_utc;
    ktr09.cmes_utc = stais.cmes_utc;
    ktr09.cano_utc = stais.cano_utc;
    ktr09.chora_utc = stais.chora_utc;
    ktr09.cminuto_utc = stais.cminuto_utc;
    ktr09.csegundo_utc = stais.csegundo_utc;
    ktr09.cdia_semana = calculo_dia_semana(ktr09.cano_utc, ktr09.cmes_utc, ktr09.cdia_utc);
    marco_hora_sistema();
    const uint8_t csincronizada_antes = ktr09.csincronizada;
    escritura_fecha(ktr09.cdia_utc, ktr09.cmes_utc, ktr09.cano_utc, ktr09.cdia_semana,
                    ktr09.chora_utc, ktr09.cminuto_utc, ktr09.csegundo_utc);
    if (csincronizada_antes == 0) {
        // The first GPS time since start-up opens the log directory of the
        // real date.
        comprobacion_hora_registro();
    }
    ktr09.csincronizada = 1;

    linea();
    escribo_mensaje(1, "********       Nueva hora sistema       ********");
    SerialUSB.print("\tFecha: ");
    const Fecha sistema = {ktr09.cdia_utc,  ktr09.cmes_utc,    ktr09.cano_utc,    ktr09.cdia_semana,
                           ktr09.chora_utc, ktr09.cminuto_utc, ktr09.csegundo_utc};
    imprimo_fecha_hora(sistema);
    linea();
    SerialUSB.print("\tSatelites: ");
    transmito_variable(stais.csatelites, 2, '\t');
    SerialUSB.print("Calidad: ");
    SerialUSB.print(stais.cqgps / 10.0, 1);
    linea();
    SerialUSB.print("\tLatitud GPS: ");
    transmito_variable(stais.cgrados_latitud, 2, ' ');
    transmito_variable(stais.cminutos_latitud, 2, '.');
    transmito_variable(stais.idiez_milesimas_minutos_latitud, 4, stais.cnorte_sur);
    linea();
    SerialUSB.print("\tLongitud GPS: ");
    transmito_variable(stais.cgrados_longitud, 3, ' ');
    transmito_variable(stais.cminutos_longitud, 2, '.');
    transmito_variable(stais.idiez_milesimas_minutos_longitud, 4, stais.ceste_oeste);
    linea();
    linea();
}
