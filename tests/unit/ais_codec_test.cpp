// AIS six-bit payload codec: packing, armouring, bit extraction and the
// two's-complement narrowing of signed fields.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ais.h"
#include "support/firmware_fixture.h"

namespace {

// The armouring alphabet of ITU-R M.1371, symbol 0 first.
const std::string kArmour = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW`abcdefghijklmnopqrstuvw";

class AisCodecTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        std::memset(symbols, 0, sizeof symbols);
        (void)usb();
    }

    // Packs the fields from a fresh cursor; returns the free positions left.
    uint8_t pack(const std::vector<std::pair<uint32_t, uint8_t>>& fields) {
        index = 0;
        uint8_t free_bits = 6;
        for (const auto& field : fields) {
            free_bits = cpartimos_y_codificamos_en_6bits(field.first, field.second, free_bits,
                                                         &index, symbols);
        }
        return free_bits;
    }

    // Armoured text of a packed payload, closed as the encoders close it.
    std::string close(uint8_t free_bits) const {
        const unsigned count = index + (free_bits != 6 ? 1 : 0);
        std::string text;
        for (unsigned i = 0; i < count; ++i) {
            text += static_cast<char>(codificacion_caracteres_ascii_seis_bits(symbols[i]));
        }
        return text;
    }

    uint8_t symbols[CSIMBOLOS_PAYLOAD_AIS];
    uint8_t index = 0;
};

uint32_t low_bits(uint32_t value, unsigned width) {
    return width >= 32 ? value : value & ((1u << width) - 1);
}

// ---- cpartimos_y_codificamos_en_6bits ----------------------------------------

TEST_F(AisCodecTest, PackingTwoFieldsAcrossSymbols) {
    const uint8_t free_bits = pack({{1, 10}, {31, 6}});
    EXPECT_EQ(0, symbols[0]);
    EXPECT_EQ(5, symbols[1]);
    EXPECT_EQ(60, symbols[2]);
    EXPECT_EQ(2, index);
    EXPECT_EQ(2, free_bits);
    EXPECT_EQ("05t", close(free_bits));
}

TEST_F(AisCodecTest, PackingCursorMovesBySymbols) {
    const struct {
        const char* name;
        std::vector<std::pair<uint32_t, uint8_t>> fields;
        uint8_t expected_index;
        uint8_t expected_free;
        size_t expected_characters;
    } cases[] = {
        {"six bits fill one symbol", {{0x2A, 6}}, 1, 6, 1},
        {"one bit", {{1, 1}}, 0, 5, 1},
        {"whole symbols get no extra one", {{0xFFF, 12}}, 2, 6, 2},
        {"one more bit adds a symbol", {{0xFFF, 12}, {1, 1}}, 2, 5, 3},
        {"32 bits", {{0xFFFFFFFF, 32}}, 5, 4, 6},
        {"message 8 length",
         {{0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 32}, {0, 22}},
         51,
         2,
         52},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(symbols, 0, sizeof symbols);
        const uint8_t free_bits = pack(c.fields);
        EXPECT_EQ(c.expected_index, index);
        EXPECT_EQ(c.expected_free, free_bits);
        EXPECT_EQ(c.expected_characters, close(free_bits).size());
    }
}

TEST_F(AisCodecTest, PackingKeepsOnlyTheLowBitsAndAddsIntoSymbols) {
    // 0x7F in 6 bits is 0x3F; the next field then starts a fresh symbol.
    uint8_t free_bits = pack({{0x7F, 6}, {0x2, 2}});
    EXPECT_EQ(63, symbols[0]);
    EXPECT_EQ(2 << 4, symbols[1]);
    EXPECT_EQ(4, free_bits);

    // Bits are added: packing over a symbol that is not clear carries.
    std::memset(symbols, 0, sizeof symbols);
    symbols[0] = 1;
    index = 0;
    free_bits = cpartimos_y_codificamos_en_6bits(1, 1, 1, &index, symbols);
    EXPECT_EQ(2, symbols[0]);
    EXPECT_EQ(1, index);
    EXPECT_EQ(6, free_bits);
}

TEST_F(AisCodecTest, PackedFieldsReadBackWithTheExtractor) {
    std::mt19937 rng(21);
    for (int round = 0; round < 300; ++round) {
        std::memset(symbols, 0, sizeof symbols);
        std::vector<std::pair<uint32_t, uint8_t>> fields;
        unsigned total = 0;
        while (true) {
            const uint8_t width = static_cast<uint8_t>(1 + rng() % 32);
            if (total + width > 6 * CCARACTERES_PAYLOAD_AIS) {
                break;
            }
            fields.push_back({static_cast<uint32_t>(rng()), width});
            total += width;
        }
        const uint8_t free_bits = pack(fields);
        ASSERT_EQ(total, index * 6u + (6u - free_bits));
        unsigned offset = 0;
        for (const auto& field : fields) {
            ASSERT_EQ(low_bits(field.first, field.second),
                      extraemos_bits_decodificados(symbols, 0, field.second,
                                                   static_cast<uint16_t>(offset)))
                << "field at bit " << offset << " of width " << int(field.second);
            offset += field.second;
        }
        // Every symbol stays six bits wide.
        for (uint8_t s : symbols) {
            ASSERT_LT(s, 64);
        }
    }
}

TEST_F(AisCodecTest, PackingTracesBitsAtLevelTwoOnly) {
    stais.cextraigo = 2;
    pack({{1, 10}, {31, 6}});
    EXPECT_EQ("0000000001 011111 ", usb());
    stais.cextraigo = 1;
    std::memset(symbols, 0, sizeof symbols);
    pack({{1, 10}});
    EXPECT_EQ("", usb());
}

// ---- armouring -----------------------------------------------------------------

TEST_F(AisCodecTest, ArmouringFollowsTheAlphabet) {
    const struct {
        uint8_t value;
        char character;
    } cases[] = {{0, '0'}, {39, 'W'}, {40, '`'}, {63, 'w'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.value));
        EXPECT_EQ(c.character, codificacion_caracteres_ascii_seis_bits(c.value));
        EXPECT_EQ(c.value, decodificacion_mensaje_vdo(static_cast<uint8_t>(c.character)));
    }
    for (uint8_t v = 0; v < 64; ++v) {
        SCOPED_TRACE(int(v));
        const uint8_t armoured = codificacion_caracteres_ascii_seis_bits(v);
        EXPECT_EQ(kArmour[v], armoured);
        EXPECT_EQ(v, decodificacion_mensaje_vdo(armoured));
    }
}

TEST_F(AisCodecTest, DearmouringBelowZeroTakesTheUpperBranch) {
    // The difference is taken in 8 bits, so characters below '0' wrap round
    // and are taken as if from the upper range.
    const struct {
        char character;
        uint8_t expected;
    } cases[] = {{' ', static_cast<uint8_t>(' ' - 56)},
                 {'/', static_cast<uint8_t>('/' - 56)},
                 {'X', static_cast<uint8_t>('X' - 56)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.character);
        EXPECT_EQ(c.expected, decodificacion_mensaje_vdo(static_cast<uint8_t>(c.character)));
    }
}

TEST_F(AisCodecTest, ArmouredPayloadDecodesToTheSameBits) {
    std::mt19937 rng(4);
    for (int round = 0; round < 100; ++round) {
        std::memset(symbols, 0, sizeof symbols);
        const uint32_t a = rng();
        const uint32_t b = rng();
        const uint8_t free_bits = pack({{a, 32}, {b, 19}});
        const std::string text = close(free_bits);
        std::vector<uint8_t> decoded;
        for (char c : text) {
            decoded.push_back(decodificacion_mensaje_vdo(static_cast<uint8_t>(c)));
        }
        ASSERT_EQ(a, extraemos_bits_decodificados(decoded.data(), 0, 32, 0));
        ASSERT_EQ(low_bits(b, 19), extraemos_bits_decodificados(decoded.data(), 0, 19, 32));
    }
}

// ---- extraemos_bits_decodificados --------------------------------------------

TEST_F(AisCodecTest, ExtractionFromAnOffsetSymbol) {
    // A payload copied after a 7-symbol prefix reads the same from there.
    std::vector<uint8_t> message(40, 0x3F);
    const uint8_t payload[] = {1, 2, 3, 4, 5, 6};  // bits 000001 000010 000011 ...
    std::memcpy(message.data() + 7, payload, sizeof payload);
    const struct {
        uint8_t bits;
        uint16_t offset;
    } cases[] = {
        {6, 0}, {6, 6}, {12, 0}, {3, 9}, {4, 10}, {1, 5}, {32, 4}, {0, 3}, {7, 29},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.bits) << " at " << c.offset);
        uint32_t expected = 0;
        for (unsigned k = 0; k < c.bits; ++k) {
            const unsigned bit = c.offset + k;
            expected = (expected << 1) | ((payload[bit / 6] >> (5 - bit % 6)) & 1);
        }
        EXPECT_EQ(expected, extraemos_bits_decodificados(message.data(), 7, c.bits, c.offset));
        EXPECT_EQ(expected, extraemos_bits_decodificados(message.data() + 7, 0, c.bits, c.offset));
    }
}

TEST_F(AisCodecTest, ExtractionSymbolIndexIsHeldIn8Bits) {
    std::vector<uint8_t> buffer(300, 0);
    buffer[4] = 0x3F;
    // Symbol 250 + 60 / 6 = 260 wraps to 4.
    EXPECT_EQ(0x3Fu, extraemos_bits_decodificados(buffer.data(), 250, 6, 60));
}

// ---- two's complement ----------------------------------------------------------

int32_t sign_extend(uint32_t value, unsigned width) {
    const uint32_t sign = 1u << (width - 1);
    return static_cast<int32_t>((value ^ sign) - sign);
}

TEST_F(AisCodecTest, ConverterComplement2NarrowsTo16Bits) {
    EXPECT_EQ(0xFFFF, converter_complement_2(-1));
    EXPECT_EQ(0x7FF, converter_complement_2(-1) & 0x7FF);
    EXPECT_EQ(600, converter_complement_2(600));
    EXPECT_EQ(0x8000, converter_complement_2(INT16_MIN));
    EXPECT_EQ(0x7FFF, converter_complement_2(INT16_MAX));
}

TEST_F(AisCodecTest, ConverterComplement2PacksEveryElevenBitValue) {
    for (int v = -1024; v <= 1023; ++v) {
        std::memset(symbols, 0, sizeof symbols);
        pack({{converter_complement_2(static_cast<int16_t>(v)), 11}});
        ASSERT_EQ(v, sign_extend(extraemos_bits_decodificados(symbols, 0, 11, 0), 11));
    }
}

TEST_F(AisCodecTest, LconverterComplement2NarrowsTo28Bits) {
    EXPECT_EQ(0x0FFFFFFFu, lconverter_complement_2(-1));
    EXPECT_EQ(5460000u, lconverter_complement_2(5460000));
    EXPECT_EQ(0x07FFFFFFu, lconverter_complement_2(0x0FFFFFFF)) << "low 27 bits only";
    // Longitudes in 1/10000 minute, 181 degrees meaning not available.
    const int32_t limit = 181 * 600000;
    std::mt19937 rng(9);
    for (int round = 0; round < 5000; ++round) {
        const int32_t v = static_cast<int32_t>(rng() % (2 * limit + 1)) - limit;
        std::memset(symbols, 0, sizeof symbols);
        pack({{lconverter_complement_2(v), 28}});
        ASSERT_EQ(v, sign_extend(extraemos_bits_decodificados(symbols, 0, 28, 0), 28)) << v;
    }
}

}  // namespace
