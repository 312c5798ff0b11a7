// libFuzzer target over the NMEA parsing functions and the six-bit payload
// reader: arbitrary bytes as the receive buffer, with bounds, field numbers and
// counts drawn from the input but always inside the buffer, as the receive
// handlers guarantee. The buffer is an exact-size heap copy, so AddressSanitizer
// catches any read past it. Results are checked against the contracts too.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <Arduino.h>

#include "ais.h"
#include "declaraciones.h"
#include "host/machine.h"
#include "nmea.h"

namespace {

// Input layout: a fixed header of parameters, then the buffer.
struct Parameters {
    uint16_t first;
    uint16_t end;
    uint8_t field;
    uint8_t count;
    uint8_t byte;
    uint8_t times;
    uint8_t origin;
    uint8_t pattern_length;
    uint16_t bit_offset;
    uint8_t bits;
    uint8_t symbol;
};
constexpr size_t kHeader = 14;
constexpr size_t kMaxBuffer = 4096;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

Parameters read_parameters(const uint8_t* d) {
    Parameters p{};
    p.first = static_cast<uint16_t>(d[0] | d[1] << 8);
    p.end = static_cast<uint16_t>(d[2] | d[3] << 8);
    p.field = d[4];
    p.count = d[5];
    p.byte = d[6];
    p.times = d[7];
    p.origin = d[8];
    p.pattern_length = d[9];
    p.bit_offset = static_cast<uint16_t>(d[10] | d[11] << 8);
    p.bits = d[12];
    p.symbol = d[13];
    return p;
}

void fuzz_searches(const std::vector<uint8_t>& buffer, const Parameters& p, uint16_t first,
                   uint16_t end) {
    const uint8_t* b = buffer.data();
    const uint16_t size = static_cast<uint16_t>(buffer.size());

    // A pattern taken from the buffer itself, and the station's own ones.
    std::string pattern(reinterpret_cast<const char*>(b),
                        std::min<size_t>(buffer.size(), 1 + p.pattern_length % 8));
    pattern = pattern.c_str();
    const char* const patterns[] = {pattern.c_str(), "$GPRMC", "!AIVDM", "T$1", "$PSMT,"};
    for (const char* pat : patterns) {
        const uint16_t found = busqueda_trama(b, pat, end, first);
        check(found == 0xFFFF || (found > first && found <= end));
        const size_t length = std::strlen(pat);
        if (found != 0xFFFF) {
            check(comparacion(b, pat, static_cast<uint8_t>(length),
                              static_cast<uint16_t>(found - length)) == 1);
        }
        if (length <= 255 && first + length <= size) {
            check(comparacion(b, pat, static_cast<uint8_t>(length), first) <= 1);
        }
    }

    const uint16_t nth = ibusqueda_dato_en_buffer_rx(b, p.byte, p.times, first, end);
    check(nth == end || nth == first || (nth > first && nth < end));
    check(nth == end || b[nth] == p.byte);

    const uint16_t field = busqueda_campo(p.field, b, first, end);
    check(field >= first && (field <= end || field == first));

    uint16_t field_first = 0;
    uint16_t field_end = 0;
    extraccion_posiciones_campo_nmea(p.field, b, first, end, &field_first, &field_end);
    check(field_end <= end);
    check(field_first == 0 || field_first >= first);

    check(identificacion_comando_frame(b, first, end) <= 1);
}

void fuzz_checksums(const std::vector<uint8_t>& buffer, const Parameters& p, uint16_t first,
                    uint16_t end) {
    const uint8_t* b = buffer.data();
    uint8_t checksum = 0xA5;
    const uint8_t good = comprobacion_checksum_nmea(b, first, end, &checksum, p.origin % 4);
    check(good <= 1);
    check(!good || checksum == 0);
    check(comprobacion_checksum_nmea_sin_cabecera(b, first, end) <= 1);
}

void fuzz_numbers(const std::vector<uint8_t>& buffer, const Parameters& p, uint16_t first,
                  uint16_t end) {
    const uint8_t* b = buffer.data();
    const size_t size = buffer.size();

    // Direct conversions over a range inside the buffer.
    const uint8_t count8 = static_cast<uint8_t>(std::min<size_t>(p.count, size));
    const uint8_t start8 = static_cast<uint8_t>(std::min<size_t>(first, size - count8) & 0xFF);
    if (start8 + count8 <= size) {
        (void)conversion_ascii_decimal(start8, count8, b);
    }
    const uint16_t start16 = static_cast<uint16_t>(std::min<size_t>(first, size - count8));
    check(!std::isnan(conversion_ascii_float(start16, count8, b)));

    uint32_t value = 0x12345678;
    if (!extraccion_dato_nmea(p.field, b, first, end, &value)) {
        check(value == 0x12345678);
    }
    int32_t signed_value = 0x12345678;
    if (!extraccion_dato_con_signo_nmea(p.field, b, first, end, &signed_value)) {
        check(signed_value == 0);
    }
    float float_value = 1.5f;
    if (extraccion_dato_nmea_float(p.field, b, first, end, &float_value)) {
        check(!std::isnan(float_value));
    } else {
        check(float_value == 1.5f);
    }
}

void fuzz_payload(const std::vector<uint8_t>& buffer, const Parameters& p) {
    // Six-bit values of the armoured bytes, in a 256-symbol array: the reader
    // holds its symbol index in 8 bits, so any offset stays inside.
    uint8_t symbols[256] = {};
    for (size_t i = 0; i < buffer.size() && i < sizeof symbols; ++i) {
        symbols[i] = static_cast<uint8_t>(decodificacion_mensaje_vdo(buffer[i]) & 0x3F);
    }
    const uint8_t bits = static_cast<uint8_t>(1 + p.bits % 32);
    const uint32_t value = extraemos_bits_decodificados(symbols, p.symbol, bits, p.bit_offset);
    check(bits == 32 || value < (1u << bits));
    const uint8_t armoured = codificacion_caracteres_ascii_seis_bits(p.symbol & 0x3F);
    check(decodificacion_mensaje_vdo(armoured) == (p.symbol & 0x3F));
}

// Fields of any width packed from a fresh cursor read back as their low bits,
// and the packer never writes past the 90-symbol message array.
void fuzz_packing(const std::vector<uint8_t>& buffer) {
    memset(stais.cmsg, 0, sizeof stais.cmsg);
    uint8_t csimbolo = 0;
    uint8_t cresto = 6;
    uint16_t ibit = 0;
    struct Packed {
        uint16_t bit;
        uint8_t width;
        uint32_t value;
    };
    std::vector<Packed> packed;
    for (size_t i = 0; i + 4 < buffer.size(); i += 5) {
        const uint8_t width = static_cast<uint8_t>(1 + buffer[i] % 32);
        if (ibit + width > 90 * 6) {
            break;
        }
        uint32_t value = 0;
        memcpy(&value, &buffer[i + 1], 4);
        cresto = cpartimos_y_codificamos_en_6bits(value, width, cresto, &csimbolo, stais.cmsg);
        check(cresto >= 1 && cresto <= 6);
        packed.push_back({ibit, width, width == 32 ? value : value & ((1u << width) - 1)});
        ibit = static_cast<uint16_t>(ibit + width);
    }
    for (const Packed& field : packed) {
        check(extraemos_bits_decodificados(stais.cmsg, 0, field.width, field.bit) == field.value);
    }
}

// The transmit frame builders never write past the 512-byte frame.
void fuzz_frame_builders(const std::vector<uint8_t>& buffer) {
    stais.ibytes_mensaje_a_tx = 0;
    stais.ccalculo_checksum_nmea = 1;
    for (size_t i = 0; i + 5 < buffer.size(); i += 6) {
        uint32_t value = 0;
        memcpy(&value, &buffer[i + 2], 4);
        if (buffer[i] & 1) {
            inserto_variable_ais(value, static_cast<uint8_t>(buffer[i + 1] % 11), buffer[i] >> 1);
        } else {
            inserto_variable_hex_ais(value, static_cast<uint8_t>(buffer[i + 1] % 9),
                                     buffer[i] >> 1);
        }
        inserto_caracter_ais(buffer[i + 1]);
        check(stais.ibytes_mensaje_a_tx <= sizeof stais.cframe_tx);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    host::reset_machine();
    SerialUSB.begin(115200);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size <= kHeader || size - kHeader > kMaxBuffer) {
        return 0;
    }
    const Parameters p = read_parameters(data);
    const std::vector<uint8_t> buffer(data + kHeader, data + size);
    const uint16_t length = static_cast<uint16_t>(buffer.size());

    // The first index lies inside the buffer, the end at most at its size
    // (the order between them is left free).
    const uint16_t first = static_cast<uint16_t>(p.first % length);
    const uint16_t end = static_cast<uint16_t>(p.end % (length + 1));

    for (uint8_t c : buffer) {
        const uint8_t cls = desconversion_ascii(c);
        check(cls <= 15 || cls >= 252);
    }
    fuzz_searches(buffer, p, first, end);
    fuzz_checksums(buffer, p, first, end);
    fuzz_numbers(buffer, p, first, end);
    fuzz_payload(buffer, p);
    fuzz_packing(buffer);
    fuzz_frame_builders(buffer);
    (void)host::usb_take_output();
    return 0;
}
