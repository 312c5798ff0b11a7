// The configuration image as one table: for every field of the station's
// configuration records, where it lies in the EEPROM image, how its bytes
// hold it, the values the station can use and what it means. The image's
// encoder and decoder, its JSON form and the range checks all walk this
// table, so a field is described once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/config_image.h"

namespace codec {

// How a field's bytes hold one value.
enum class ConfigEncoding : uint8_t {
    kU8,
    kU16Be,               // high byte first
    kU24Le,               // low byte first
    kS32SignMagnitudeLe,  // low byte first; bit 31 the sign, bits 0..30 the magnitude
    kF32Le,               // IEEE-754 single precision, low byte first, bit for bit
    kText,                // one character a byte, no terminator
};

// The record a field belongs to, which is also its group in the JSON form.
// A channel field is one value in each channel's record; the others may be
// arrays.
enum class ConfigRecord : uint8_t { kChannel, kAis, kBoard };

// What a value must be for the station to use it.
enum class ConfigRule : uint8_t {
    kAny,       // whatever the bytes hold
    kRange,     // low..high as stored, low raised by the floor field if any
    kPositive,  // a finite number above 0
    kNonZero,   // a finite number other than 0
};

// When the station reads a channel's field, and so when its rule applies.
enum class ConfigUse : uint8_t { kAlways, kWithDevice, kWeatherStation };

struct ConfigField {
    ConfigRecord record;
    const char* name;  // the record's field name, as in the JSON form
    // Element k (a channel, or an array index) as an integer: the value as
    // stored (hundredths where scaled), a float's bits for kF32Le.
    int64_t (*get)(const StationConfig& config, size_t k);
    void (*set)(StationConfig& config, size_t k, int64_t value);
    uint32_t address;  // of element 0
    ConfigEncoding encoding;
    uint8_t count;   // elements: 2 channels for a channel field; 1 a single value
    uint8_t stride;  // bytes from one element to the next
    bool hundredths;
    ConfigRule rule;
    int64_t low;
    int64_t high;
    const char* floor;  // a field of the record whose same element raises low, or null
    ConfigUse use;
    const char* meaning;
};

// The parts of the image the station reads, each in one transfer: block 1,
// block 2 and the calibration block.
struct ConfigBlock {
    uint32_t address;
    uint32_t size;
};
constexpr ConfigBlock kConfigBlocks[] = {{0, 112}, {112, 78}, {0x1FF0, 16}};

// Every field, grouped by record in the JSON form's order.
const std::vector<ConfigField>& config_fields();
const ConfigField* find_config_field(ConfigRecord record, const std::string& name);

const char* config_record_name(ConfigRecord record);  // "configuracion_ais", ...
uint32_t config_encoding_width(ConfigEncoding encoding);
// The values the field's bytes can hold, as stored.
void config_stored_range(ConfigEncoding encoding, int64_t* low, int64_t* high);
// The float a kF32Le field's stored bits hold, and back: bit for bit, so
// that any pattern (a NaN's payload too) comes back as it was.
float config_float(int64_t bits);
int64_t config_float_bits(float value);
// "configuracion_sensor[1].csensor", "configuracion_ktr09.ffactor_A[0]".
std::string config_field_path(const ConfigField& field, size_t k);

// One element between the image and its stored integer.
void store_config_element(const ConfigField& field, size_t k, int64_t value,
                          std::vector<uint8_t>* image);
int64_t load_config_element(const ConfigField& field, size_t k, const std::vector<uint8_t>& image);

}  // namespace codec
