#include "analogicas.h"

#include <Arduino.h>
#include <string.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "i2c.h"

namespace {

constexpr const uint8_t (&kPinAnalogica)[2] = board::kAnalogInputs;
constexpr uint8_t kLecturasMedia = 100;
constexpr float kSaltoBruscoBateria = 0.5f;  // volts
constexpr uint8_t kCambiosBruscosAceptados = 4;
constexpr uint8_t kConfirmacionesAlarma = 1;
constexpr uint8_t kAnchoLineaEstrellas = 79;
// Uncalibrated factors: 3.3 V over 4096 counts, through the battery's
// 100k/8.2k divider for the battery (the console's ideal 0.0106).
constexpr float FCONVERSOR_BATERIA_IDEAL = 0.0106f;
constexpr float FCONVERSOR_ANALOGICA_IDEAL = 3.3f / 4096.0f;
constexpr float FFACTOR_MAXIMO = 3.4e38f;
constexpr uint16_t ICUENTA_MAXIMA = 4095;

uint16_t media_lecturas(uint8_t cpin) {
    uint32_t lsuma = 0;
    for (uint8_t i = 0; i < kLecturasMedia; ++i) {
        lsuma += static_cast<uint32_t>(analogRead(cpin));
    }
    return static_cast<uint16_t>(lsuma / kLecturasMedia);
}

// A jump of more than 0.5 V from the held value is believed only when it
// persists for five readings.
float filtro_cambios_bruscos_bateria(float fvalor) {
    if (ktr09.ctest == 1 || ktr09.fbateria == 0.0f) {
        ktr09.ccambios_bruscos_bateria = 0;
        return fvalor;
    }
    const float fdiferencia = ktr09.fbateria - fvalor;
    const float fsalto = fdiferencia < 0.0f ? -fdiferencia : fdiferencia;
    if (!(fsalto > kSaltoBruscoBateria)) {
        ktr09.ccambios_bruscos_bateria = 0;
        ktr09.fbateria = fvalor;
        return fvalor;
    }
    if (++ktr09.ccambios_bruscos_bateria > kCambiosBruscosAceptados) {
        ktr09.ccambios_bruscos_bateria = 0;
        ktr09.fbateria = fvalor;
        return fvalor;
    }
    return ktr09.fbateria;
}

// Low-level alarm: two evaluations at or below fon raise it, two at or above
// foff clear it; anything else resets the confirmations.
void histeresis_alarma(float fvalor, float fon, float foff, unsigned char& calarma,
                       uint8_t& cseguridad_low, uint8_t& cseguridad_high) {
    if (fvalor <= fon) {
        cseguridad_high = 0;
        if (calarma == 0) {
            if (++cseguridad_low > kConfirmacionesAlarma) {
                calarma = 1;
                cseguridad_low = 0;
            }
        } else {
            cseguridad_low = 0;
        }
        return;
    }
    cseguridad_low = 0;
    if (calarma == 1 && fvalor >= foff) {
        if (++cseguridad_high > kConfirmacionesAlarma) {
            calarma = 0;
            cseguridad_high = 0;
        }
    } else {
        cseguridad_high = 0;
    }
}

float f32_le_eeprom(uint16_t idireccion) {
    uint8_t cbytes[4];
    readEEPROM(DIRECCION_EEPROM, idireccion, cbytes, sizeof(cbytes));
    const uint32_t lpalabra =
        static_cast<uint32_t>(cbytes[0]) | (static_cast<uint32_t>(cbytes[1]) << 8) |
        (static_cast<uint32_t>(cbytes[2]) << 16) | (static_cast<uint32_t>(cbytes[3]) << 24);
    float fvalor;
    memcpy(&fvalor, &lpalabra, sizeof(fvalor));
    return fvalor;
}

// A battery factor that is not a finite positive number (a blank EEPROM
// reads as NaN) is no calibration: the board's ideal factor stands in for it
// until one is stored, so readings and alarms keep working.
float factor_calibrado(float ffactor, float fideal) {
    return ffactor > 0.0f && ffactor <= FFACTOR_MAXIMO ? ffactor : fideal;
}

// An analog input's factor may be negative (a sensor whose reading falls as
// its voltage rises); only a factor that cannot scale anything (NaN,
// infinite or zero) is no calibration.
float factor_analogico_calibrado(float ffactor, float fideal) {
    uint32_t lbits = 0;
    memcpy(&lbits, &ffactor, sizeof(lbits));
    constexpr uint32_t LEXPONENTE = 0x7F800000;  // all ones: infinite or NaN
    const bool bfinito = (lbits & LEXPONENTE) != LEXPONENTE;
    return bfinito && ffactor != 0.0f ? ffactor : fideal;
}

// Likewise a zero count beyond the converter's range.
uint16_t cero_calibrado(uint16_t icero) {
    return icero <= ICUENTA_MAXIMA ? icero : 0;
}

// The alarm text takes the place of the line break.
void fin_linea_alarma(unsigned char calarma, const char* pctexto) {
    if (calarma == 1) {
        SerialUSB.print('\t');
        SerialUSB.print(pctexto);
    } else {
        linea();
    }
}

// Label, raw count, separator, the value with two decimals and " v".
void linea_medida(const char* pcetiqueta, uint16_t ivalor_ad, const char* pcseparador,
                  float fvalor) {
    SerialUSB.print(pcetiqueta);
    SerialUSB.print(static_cast<unsigned int>(ivalor_ad));
    SerialUSB.print(pcseparador);
    SerialUSB.print(fvalor, 2);
    SerialUSB.print(" v");
}

// Analog input k (0 or 1): measured, printed and checked against its
// thresholds with its own confirmation counters.
float estado_analogica(uint8_t k) {
    const stconfiguracion_ktr09& config = configuracion_ktr09;
    uint16_t ivalor_ad = 0;
    const float fvalor =
        extraigo_valor_analogico(k == 0 ? ANALOGICA_1 : ANALOGICA_2, &ivalor_ad, 0);
    linea_medida(k == 0 ? "\tAnalog 1 (" : "\tAnalog 2 (", ivalor_ad, "):", fvalor);
    uint8_t& cseguridad_low =
        k == 0 ? ktr09.cseguridad_alarma_analogica1_low : ktr09.cseguridad_alarma_analogica2_low;
    uint8_t& cseguridad_high =
        k == 0 ? ktr09.cseguridad_alarma_analogica1_high : ktr09.cseguridad_alarma_analogica2_high;
    histeresis_alarma(fvalor, config.fumbral_alarma_on[k], config.fumbral_alarma_off[k],
                      ktr09.cestados_entradas_analogicas[k], cseguridad_low, cseguridad_high);
    fin_linea_alarma(ktr09.cestados_entradas_analogicas[k], "Alarm");
    return fvalor;
}

}  // namespace

void configuracion_adc() {
    analogReadResolution(12);
}

float extraigo_valor_analogico(uint8_t clectura, uint16_t* pivalor_ad, uint8_t cdato_necesario) {
    if (clectura > ANALOGICA_BATERIA) {
        *pivalor_ad = 0;
        return 0.0f;
    }
    const uint16_t ivalor =
        media_lecturas(clectura == ANALOGICA_BATERIA ? board::kBattery : kPinAnalogica[clectura]);
    *pivalor_ad = ivalor;
    if (cdato_necesario == 1) {
        return 0.0f;
    }
    const stconfiguracion_ktr09& config = configuracion_ktr09;
    if (clectura == ANALOGICA_BATERIA) {
        return filtro_cambios_bruscos_bateria(static_cast<float>(ivalor) *
                                              config.fconversor_bateria);
    }
    const uint16_t icero = config.ivalor_0_analogica[clectura];
    // At or below the zero count the input reads 0, never a negative value.
    const uint16_t ineto = ivalor > icero ? static_cast<uint16_t>(ivalor - icero) : 0;
    const float fescalado = static_cast<float>(ineto) * config.fconversor_analogica[clectura];
    if (cdato_necesario == 2) {
        return fescalado;
    }
    return fescalado * config.ffactor_A[clectura] + config.ffactor_B[clectura];
}

void lectura_variables_analogicas_ktr09(uint8_t ctipo) {
    stconfiguracion_ktr09& config = configuracion_ktr09;
    if (ctipo == ANALOGICA_BATERIA || ctipo == CALIBRACION_TODAS) {
        config.fconversor_bateria =
            factor_calibrado(f32_le_eeprom(EEPROM_CONVERSOR_BATERIA), FCONVERSOR_BATERIA_IDEAL);
    }
    if (ctipo == ANALOGICA_1 || ctipo == CALIBRACION_TODAS) {
        config.ivalor_0_analogica[0] = cero_calibrado(static_cast<uint16_t>(
            readEEPROM_variable(DIRECCION_EEPROM, EEPROM_VALOR_0_ANALOGICA_1, 2)));
        config.fconversor_analogica[0] = factor_analogico_calibrado(
            f32_le_eeprom(EEPROM_CONVERSOR_ANALOGICA_1), FCONVERSOR_ANALOGICA_IDEAL);
    }
    if (ctipo == ANALOGICA_2 || ctipo == CALIBRACION_TODAS) {
        config.ivalor_0_analogica[1] = cero_calibrado(static_cast<uint16_t>(
            readEEPROM_variable(DIRECCION_EEPROM, EEPROM_VALOR_0_ANALOGICA_2, 2)));
        config.fconversor_analogica[1] = factor_analogico_calibrado(
            f32_le_eeprom(EEPROM_CONVERSOR_ANALOGICA_2), FCONVERSOR_ANALOGICA_IDEAL);
    }
}

void estado() {
    if (ktr09.cminuto_utc == 0) {
        stais.cnueva_sincronizacion_horaria = 3;
    }
    const stconfiguracion_ktr09& config = configuracion_ktr09;

    linea();
    linea_asteriscos(kAnchoLineaEstrellas);
    SerialUSB.print("\t\t");
    transmito_variable(ktr09.cdia_utc, 2, '/');
    transmito_variable(ktr09.cmes_utc, 2, '/');
    transmito_variable(ktr09.cano_utc, 2, ' ');
    transmito_variable(ktr09.chora_utc, 2, ':');
    transmito_variable(ktr09.cminuto_utc, 2, '\t');
    SerialUSB.print("FW: ");
    SerialUSB.print("3");
    SerialUSB.print("-");
    SerialUSB.print("0");
    linea();
    linea_asteriscos(kAnchoLineaEstrellas);

    uint16_t ivalor_ad = 0;
    ktr09.fbateria = extraigo_valor_analogico(ANALOGICA_BATERIA, &ivalor_ad, 0);
    linea_medida("\tBatery (", ivalor_ad, "): ", ktr09.fbateria);
    histeresis_alarma(ktr09.fbateria, config.ftension_alarma_bateria_baja,
                      config.ftension_alarma_bateria_off, ktr09.calarma_low_battery,
                      ktr09.cseguridad_bateria_baja_low, ktr09.cseguridad_bateria_baja_high);
    fin_linea_alarma(ktr09.calarma_low_battery, "Alarm low battery");

    ktr09.fanalogica1 = estado_analogica(0);
    ktr09.fanalogica2 = estado_analogica(1);
}
