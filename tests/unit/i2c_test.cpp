// The EEPROM store against the 24xx64 model: page-aligned writes, the write
// cycle, reads in any length, the image encodings and the start-up decoding
// of blocks 1 and 2; and the little-endian helpers the decoding uses.
#include <Wire.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "codec/config_image.h"
#include "devices/eeprom_24xx64.h"
#include "i2c.h"
#include "procesado.h"
#include "support/firmware_fixture.h"

namespace {

using host::kMillisecond;
using sim::Eeprom24xx64;

class EepromTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(Eeprom24xx64::kAddress, &eeprom);
    }
    static std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(seed + 7 * i);
        }
        return bytes;
    }
    std::vector<uint8_t> stored(uint16_t address, size_t size) const {
        const auto& memory = eeprom.contents();
        return std::vector<uint8_t>(memory.begin() + address, memory.begin() + address + size);
    }
    Eeprom24xx64 eeprom;
};

struct Piece {
    uint16_t address;
    size_t bytes;
};

struct SplitCase {
    const char* name;
    uint16_t address;
    uint8_t count;
    std::vector<Piece> pieces;
};

void check_split(Eeprom24xx64& eeprom, const SplitCase& c, const std::vector<uint8_t>& data) {
    eeprom.clear_writes();
    writeEEPROM(DIRECCION_EEPROM, c.address, data.data(), c.count);
    const auto& writes = eeprom.writes();
    ASSERT_EQ(c.pieces.size(), writes.size()) << c.name;
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(c.pieces[i].address, writes[i].address) << c.name << " piece " << i;
        EXPECT_EQ(c.pieces[i].bytes, writes[i].bytes) << c.name << " piece " << i;
    }
    const auto& memory = eeprom.contents();
    EXPECT_EQ(data, std::vector<uint8_t>(memory.begin() + c.address,
                                         memory.begin() + c.address + c.count))
        << c.name;
}

TEST_F(EepromTest, WriteIsSplitAtPageBoundaries) {
    const SplitCase cases[] = {
        {"40 bytes at 20", 20, 40, {{20, 12}, {32, 28}}},
        {"fits before the boundary", 40, 10, {{40, 10}}},
        {"one byte each side", 31, 2, {{31, 1}, {32, 1}}},
        {"ends on the boundary", 60, 4, {{60, 4}}},
        {"last page of the part", 8180, 12, {{8180, 12}}},
    };
    for (const SplitCase& c : cases) {
        check_split(eeprom, c, pattern(c.count, static_cast<uint8_t>(c.address)));
    }
}

TEST_F(EepromTest, FullPagesGoInOneTransactionEach) {
    const SplitCase cases[] = {
        {"one aligned page", 64, 32, {{64, 32}}},
        {"100 bytes at 5", 5, 100, {{5, 27}, {32, 32}, {64, 32}, {96, 9}}},
        {"128-byte block from the PC link", 128, 128, {{128, 32}, {160, 32}, {192, 32}, {224, 32}}},
    };
    for (const SplitCase& c : cases) {
        check_split(eeprom, c, pattern(c.count, static_cast<uint8_t>(c.address)));
    }
}

TEST_F(EepromTest, FullPagesReachThePartWhateverTheBusBuffer) {
    const SplitCase cases[] = {
        {"one aligned page", 64, 32, {}},
        {"128-byte block from the PC link", 128, 128, {}},
        {"255 bytes at 1", 1, 255, {}},
    };
    for (const SplitCase& c : cases) {
        const std::vector<uint8_t> data = pattern(c.count, static_cast<uint8_t>(c.address + 1));
        eeprom.clear_writes();
        writeEEPROM(DIRECCION_EEPROM, c.address, data.data(), c.count);
        EXPECT_EQ(data, stored(c.address, c.count)) << c.name;
        for (const Eeprom24xx64::Write& write : eeprom.writes()) {
            EXPECT_EQ(write.address / 32, (write.address + write.bytes - 1) / 32)
                << c.name << ": a transaction stays inside its page";
        }
    }
}

TEST_F(EepromTest, EachPieceWaitsForTheWriteCycle) {
    const std::vector<uint8_t> data = pattern(40, 3);
    const host::Micros start = host::now();
    writeEEPROM(DIRECCION_EEPROM, 20, data.data(), 40);
    const auto& writes = eeprom.writes();
    ASSERT_EQ(2u, writes.size());
    // A 13 ms countdown of the tick: its first millisecond may be cut short.
    EXPECT_GE(writes[1].at - writes[0].at, 12 * kMillisecond);
    EXPECT_GE(host::now() - writes[1].at, 12 * kMillisecond);
    EXPECT_LT(host::now() - start, 2 * 15 * kMillisecond);
}

TEST_F(EepromTest, VariableIsWrittenMostSignificantByteFirst) {
    struct Case {
        uint32_t value;
        uint8_t count;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {0x11223344, 4, {0x11, 0x22, 0x33, 0x44}},
        {0x11223344, 3, {0x22, 0x33, 0x44}},
        {0xABCD, 2, {0xAB, 0xCD}},
        {0x1FF, 1, {0xFF}},
    };
    for (const Case& c : cases) {
        eeprom.clear_writes();
        writeEEPROM_variable(DIRECCION_EEPROM, 0x100, c.value, c.count);
        EXPECT_EQ(1u, eeprom.writes().size());
        EXPECT_EQ(c.bytes, stored(0x100, c.count)) << std::hex << c.value;
        EXPECT_EQ(c.value & (c.count == 4 ? 0xFFFFFFFFu : (1u << (8 * c.count)) - 1),
                  readEEPROM_variable(DIRECCION_EEPROM, 0x100, c.count));
    }
}

TEST_F(EepromTest, VariableAcrossAPageEndWrapsInsideThePage) {
    writeEEPROM_variable(DIRECCION_EEPROM, 30, 0x11223344, 4);
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22}), stored(30, 2));
    EXPECT_EQ((std::vector<uint8_t>{0x33, 0x44}), stored(0, 2));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF}), stored(32, 2));
}

TEST_F(EepromTest, ReadsOfAnyLengthReturnTheStoredBytes) {
    std::vector<uint8_t> image = pattern(codec::kConfigImageSize, 11);
    eeprom.load(image);
    struct Case {
        uint16_t address;
        uint16_t count;
    };
    for (const Case& c : {Case{0, 112}, Case{112, 78}, Case{7, 1}, Case{8000, 150}}) {
        std::vector<uint8_t> read(c.count, 0);
        readEEPROM(DIRECCION_EEPROM, c.address, read.data(), c.count);
        EXPECT_EQ(
            std::vector<uint8_t>(image.begin() + c.address, image.begin() + c.address + c.count),
            read)
            << c.count << " bytes at " << c.address;
    }
    // Sequential reading runs on from the last byte to the first.
    uint8_t wrap[4] = {};
    readEEPROM(DIRECCION_EEPROM, 8190, wrap, 4);
    EXPECT_EQ((std::vector<uint8_t>{image[8190], image[8191], image[0], image[1]}),
              std::vector<uint8_t>(wrap, wrap + 4));
}

TEST_F(EepromTest, ReadWaitsUntilTheWriteCycleEnds) {
    eeprom.load(pattern(codec::kConfigImageSize, 5));
    // A write made straight on the bus, without the station's wait.
    Wire.beginTransmission(Eeprom24xx64::kAddress);
    Wire.write(0);
    Wire.write(40);
    Wire.write(0x5A);
    ASSERT_EQ(0, Wire.endTransmission());
    ASSERT_TRUE(eeprom.in_write_cycle());
    const host::Micros written = host::now();
    EXPECT_EQ(0x5Au, readEEPROM_variable(DIRECCION_EEPROM, 40, 1));
    EXPECT_GE(host::now() - written, Eeprom24xx64::kWriteCycle);
}

// ---- Decoding -----------------------------------------------------------------

class DecodingTest : public EepromTest {
  protected:
    // An image of zeros in blocks 1 and 2 with the given bytes put in.
    void load(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& bytes) {
        std::vector<uint8_t> image(codec::kConfigImageSize, 0);
        for (const auto& [address, values] : bytes) {
            std::copy(values.begin(), values.end(), image.begin() + address);
        }
        eeprom.load(image);
    }
};

TEST_F(DecodingTest, ShipRectangleIsSignAndMagnitudeLowByteFirst) {
    load({{9, {0x05, 0x00, 0x00, 0x80}},
          {13, {0x05, 0x00, 0x00, 0x00}},
          {17, {0xFF, 0xFF, 0xFF, 0xFF}},
          {21, {0x00, 0x00, 0x00, 0x80}}});
    cargar_estructuras_configuracion();
    EXPECT_EQ(-5, configuracion_ais.llatitud_shipras[0]);
    EXPECT_EQ(5, configuracion_ais.llongitud_shipras[0]);
    EXPECT_EQ(-2147483647, configuracion_ais.llatitud_shipras[1]);
    EXPECT_EQ(0, configuracion_ais.llongitud_shipras[1]) << "negative zero";
}

TEST_F(DecodingTest, BlockTwoEncodings) {
    struct Case {
        const char* name;
        uint16_t address;
        std::vector<uint8_t> bytes;
        const float* field;
        float expected;
    };
    const stconfiguracion_ktr09& k = configuracion_ktr09;
    const Case cases[] = {
        {"u24 LE factor A of input 1", 148, {0x10, 0x27, 0x00}, &k.ffactor_A[0], 100.0f},
        {"u24 LE uses the third byte", 159, {0x01, 0x00, 0x01}, &k.ffactor_A[1], 655.37f},
        {"s32 SM negative factor B", 162, {0xD2, 0x04, 0x00, 0x80}, &k.ffactor_B[1], -12.34f},
        {"s32 SM positive factor B", 151, {0x39, 0x30, 0x00, 0x00}, &k.ffactor_B[0], 123.45f},
        {"u16 BE low battery", 166, {0x04, 0x7E}, &k.ftension_alarma_bateria_baja, 11.5f},
        {"u16 BE battery release", 168, {0x04, 0xB0}, &k.ftension_alarma_bateria_off, 12.0f},
        {"u16 BE alarm on, input 2", 155, {0x00, 0x32}, &k.fumbral_alarma_on[1], 0.5f},
        {"u16 BE alarm off, input 1", 146, {0xFF, 0xFF}, &k.fumbral_alarma_off[0], 655.35f},
    };
    for (const Case& c : cases) {
        load({{c.address, c.bytes}});
        cargar_estructuras_configuracion();
        EXPECT_FLOAT_EQ(c.expected, *c.field) << c.name;
    }
}

TEST_F(DecodingTest, OutputsInputsAndName) {
    const char name[20] = {'F', 'A', 'R', 'O', ' ', 'N', 'O', 'R', 'T', 'E',
                           '1', '2', '3', '4', '5', '6', '7', '8', '9', 'Z'};
    load({{113 + 3 * 2, {0x01, 0x2C}},
          {112 + 3 * 3, {1}},
          {124 + 5 * 1, {2, 1, 0x00, 0x0F, 9}},
          {170, std::vector<uint8_t>(name, name + 20)}});
    std::memset(configuracion_ktr09.cnombre, '#', sizeof configuracion_ktr09.cnombre);
    cargar_estructuras_configuracion();
    EXPECT_EQ(300, configuracion_ktr09.itemporizacion_salida_digital[2]);
    EXPECT_EQ(1, configuracion_ktr09.cestado_en_reposo_salida_digital[3]);
    EXPECT_EQ(2, configuracion_ktr09.cfuncionalidad_entradas_externas[1]);
    EXPECT_EQ(1, configuracion_ktr09.cestado_en_reposo_entrada_externa[1]);
    EXPECT_EQ(15, configuracion_ktr09.itemporizacion_entrada_externa[1]);
    EXPECT_EQ(9, configuracion_ktr09.ctemporizador_minutos[1]);
    EXPECT_EQ(0, std::memcmp(name, configuracion_ktr09.cnombre, 20)) << "all 20 bytes, as is";
}

TEST_F(DecodingTest, ChannelWithoutDeviceKeepsItsSettings) {
    load({{0, {3, 0}}, {88, {1, 2, 3, 4, 10, 1, 15}}, {100, {2, 4, 1, 9, 5, 1, 30}}});
    stconfiguracion_sensor& second = configuracion_sensor[1];
    second.ctipo_comunicacion = 4;
    second.cbaudios_comunicacion = 6;
    second.csample_interval = 20;
    cargar_estructuras_configuracion();
    const stconfiguracion_sensor& first = configuracion_sensor[0];
    EXPECT_EQ(3, first.csensor);
    EXPECT_EQ(1, first.ctipo_comunicacion);
    EXPECT_EQ(2, first.cbaudios_comunicacion);
    EXPECT_EQ(3, first.csalida_reset);
    EXPECT_EQ(4, first.cseg_delay_inicial);
    EXPECT_EQ(10, first.csample_interval);
    EXPECT_EQ(1, first.cdireccionamiento_viento);
    EXPECT_EQ(15, first.ctimeout_datos_validos);
    EXPECT_EQ(0, second.csensor);
    EXPECT_EQ(4, second.ctipo_comunicacion);
    EXPECT_EQ(6, second.cbaudios_comunicacion);
    EXPECT_EQ(20, second.csample_interval);
    EXPECT_EQ(0, second.ctimeout_datos_validos) << "zero since power-up";
}

TEST_F(DecodingTest, BlockOneIsReadWholeBeforeBlockTwo) {
    load({});
    eeprom.clear_reads();
    cargar_estructuras_configuracion();
    // 112 bytes from address 0 in one transfer, then 78 from 112.
    ASSERT_EQ(2u, eeprom.reads().size());
    EXPECT_EQ(0u, eeprom.reads()[0].address);
    EXPECT_EQ(112u, static_cast<unsigned>(eeprom.reads()[0].bytes));
    EXPECT_EQ(112u, eeprom.reads()[1].address);
    EXPECT_EQ(78u, static_cast<unsigned>(eeprom.reads()[1].bytes));
}

TEST_F(DecodingTest, StandardImageLoadsAsItsConfiguration) {
    const codec::StationConfig config = codec::default_station_config();
    eeprom.load(codec::encode_image(config));
    cargar_estructuras_configuracion();
    EXPECT_EQ(config.configuracion_sensor[0].csensor, configuracion_sensor[0].csensor);
    EXPECT_EQ(config.configuracion_sensor[0].csample_interval,
              configuracion_sensor[0].csample_interval);
    EXPECT_EQ(config.configuracion_ais.cbaudios, configuracion_ais.cbaudios);
    EXPECT_EQ(config.configuracion_ais.llongitud_shipras[0],
              configuracion_ais.llongitud_shipras[0]);
    EXPECT_FLOAT_EQ(config.configuracion_ktr09.ftension_alarma_bateria_baja / 100.0f,
                    configuracion_ktr09.ftension_alarma_bateria_baja);
    // The name field has no terminator of its own: all 20 bytes are compared.
    EXPECT_EQ(0, memcmp(config.configuracion_ktr09.cnombre.data(), configuracion_ktr09.cnombre,
                        sizeof configuracion_ktr09.cnombre));
}

// ---- Little-endian helpers ------------------------------------------------------

TEST(PcLinkHelpersTest, FourByteValues) {
    struct Case {
        std::array<uint8_t, 4> bytes;
        uint32_t unsigned_value;
        int32_t sign_magnitude;
    };
    const Case cases[] = {
        {{0x05, 0x00, 0x00, 0x80}, 0x80000005u, -5},
        {{0x05, 0x00, 0x00, 0x00}, 5u, 5},
        {{0x78, 0x56, 0x34, 0x12}, 0x12345678u, 0x12345678},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu, -0x7FFFFFFF},
        {{0x00, 0x00, 0x00, 0x80}, 0x80000000u, 0},
    };
    for (const Case& c : cases) {
        // The value sits at offset 3 behind bytes that must not be read.
        uint8_t buffer[7] = {0xEE, 0xEE, 0xEE};
        std::copy(c.bytes.begin(), c.bytes.end(), buffer + 3);
        EXPECT_EQ(c.unsigned_value, Extraer_Uint32(buffer, 3));
        EXPECT_EQ(c.sign_magnitude, BytesToSignedInt32(buffer, 3));
    }
}

TEST(PcLinkHelpersTest, TextCopyAddsNoTerminatorAndStaysWithinByteIndexes) {
    std::vector<uint8_t> source(300);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i);
    }
    unsigned char copy[32];
    std::memset(copy, 0xAA, sizeof copy);
    Extraer_Cadena(source.data(), 10, 5, copy);
    EXPECT_EQ((std::vector<uint8_t>{10, 11, 12, 13, 14, 0xAA}),
              std::vector<uint8_t>(copy, copy + 6));
    std::memset(copy, 0xAA, sizeof copy);
    Extraer_Cadena(source.data(), 250, 20, copy);
    EXPECT_EQ((std::vector<uint8_t>{250, 251, 252, 253, 254, 0xAA}),
              std::vector<uint8_t>(copy, copy + 6))
        << "the copy ends before index 255";
}

}  // namespace
