// The SD card on SPI: start-up, registers, raw blocks, erase and multi-block
// writes, each charged the time its bytes take at the SPI clock begin chose.
#include <SdFat.h>

#include <algorithm>

#include "machine_internal.h"
#include "sdfat_internal.h"

namespace host {
namespace internal {
namespace sd {
namespace {

// Start-up at 400 kHz: reset, interface condition and the wait for the card
// to leave its idle state; without a card the reset command goes unanswered
// after a few tries.
constexpr Micros kStartTime = 30 * kMillisecond;
constexpr Micros kNoCardTime = 2 * kMillisecond;
// Command, response and busy wait around a transfer.
constexpr uint32_t kCommandBytes = 16;
constexpr Micros kProgramTime = 500;  // a block written, card busy
constexpr Micros kEraseTime = 5 * kMillisecond;
constexpr uint32_t kMinSck = 400000;
constexpr uint32_t kMaxSck = 25000000;

Micros transfer_time(uint32_t bytes) {
    const uint32_t sck = driver().card.sck == 0 ? kMinSck : driver().card.sck;
    return (static_cast<Micros>(bytes + kCommandBytes) * 8 * kSecond + sck - 1) / sck;
}

void owe(Micros time) {
    driver().card.owed += time;
}

// A field of a 128-bit register sent most significant byte first.
uint32_t field(const uint8_t reg[16], unsigned high, unsigned low) {
    uint32_t value = 0;
    for (unsigned bit = high + 1; bit-- > low;) {
        value = (value << 1) | ((reg[15 - bit / 8] >> (bit % 8)) & 1U);
    }
    return value;
}

}  // namespace

Driver& driver() {
    static Driver d;
    return d;
}

void set_error(uint8_t code, uint32_t data) {
    driver().card.error = code;
    driver().card.error_data = data;
}

bool card_ready() {
    Card& card = driver().card;
    return card.started && card.slot != nullptr && card.slot->present();
}

bool read_block(uint32_t block, uint8_t* data) {
    Card& card = driver().card;
    if (!card.started || card.slot == nullptr) {
        set_error(kErrorNotStarted, block);
        return false;
    }
    owe(transfer_time(kBlock + 2));
    if (!card.slot->present() || !card.slot->read_block(block, data)) {
        set_error(kErrorRead, block);
        return false;
    }
    return true;
}

bool write_block(uint32_t block, const uint8_t* data) {
    Card& card = driver().card;
    if (!card.started || card.slot == nullptr) {
        set_error(kErrorNotStarted, block);
        return false;
    }
    owe(transfer_time(kBlock + 2) + kProgramTime);
    if (!card.slot->present() || !card.slot->write_block(block, data)) {
        set_error(kErrorWrite, block);
        return false;
    }
    return true;
}

void settle() {
    const Micros owed = driver().card.owed + kCallCost;
    driver().card.owed = 0;
    check_thread();
    ++g_calls;
    advance_to(g_now + owed);
}

uint32_t csd_blocks(const uint8_t csd[16]) {
    switch (field(csd, 127, 126)) {
        case 0: {
            const uint32_t c_size = field(csd, 73, 62);
            const uint32_t mult = field(csd, 49, 47);
            const uint32_t read_bl_len = field(csd, 83, 80);
            const uint32_t shift = mult + 2 + read_bl_len;
            if (shift < 9 || shift > 9 + 22) {
                return 0;
            }
            return (c_size + 1) << (shift - 9);
        }
        case 1:
            return (field(csd, 69, 48) + 1) * 1024;
        default:
            return 0;
    }
}

uint32_t card_blocks() {
    Card& card = driver().card;
    uint8_t csd[16];
    if (!card_ready()) {
        return 0;
    }
    owe(transfer_time(18));
    return card.slot->read_csd(csd) ? csd_blocks(csd) : 0;
}

void sd_power_up() {
    Driver& d = driver();
    SdCard* slot = d.card.slot;
    const uint8_t epoch = d.card.epoch == 255 ? 1 : d.card.epoch + 1;
    uint8_t generations[kMaxFiles];
    for (unsigned i = 0; i < kMaxFiles; ++i) {
        generations[i] = d.files[i].generation;
    }
    d = Driver{};
    d.card.slot = slot;
    d.card.epoch = epoch;
    for (unsigned i = 0; i < kMaxFiles; ++i) {
        d.files[i].generation = generations[i];
    }
}

void sd_machine_reset() {
    driver().card.slot = nullptr;
    sd_power_up();
}

}  // namespace sd

void sd_power_up() {
    sd::sd_power_up();
}

void sd_machine_reset() {
    sd::sd_machine_reset();
}

}  // namespace internal

void attach_sd_card(SdCard* card) {
    internal::sd::driver().card.slot = card;
}

}  // namespace host

using namespace host::internal::sd;
using host::internal::sd::driver;

namespace {

// The card of a started SdSpiCard; fails (with its error) otherwise.
bool started(uint8_t state) {
    Card& card = driver().card;
    if (state != card.epoch || !card.started || card.slot == nullptr) {
        set_error(kErrorNotStarted, 0);
        return false;
    }
    return true;
}

template <typename T>
T done(T result) {
    settle();
    return result;
}

}  // namespace

bool SdSpiCard::begin(uint8_t csPin, uint32_t maxSck) {
    (void)csPin;  // one slot on the board
    Card& card = driver().card;
    card.started = false;
    card.multi_write = false;
    state_ = 0;
    if (card.slot == nullptr || !card.slot->present() || !card.slot->start()) {
        card.owed += kNoCardTime;
        set_error(kErrorNoCard, 0);
        return done(false);
    }
    card.owed += kStartTime;
    card.sck = std::clamp<uint32_t>(maxSck, kMinSck, kMaxSck);
    card.type = card.slot->high_capacity() ? SD_CARD_TYPE_SDHC
                : card.slot->version_2()   ? SD_CARD_TYPE_SD2
                                           : SD_CARD_TYPE_SD1;
    card.started = true;
    state_ = card.epoch;
    set_error(kErrorNone, 0);
    return done(true);
}

uint32_t SdSpiCard::cardSize() {
    csd_t csd;
    if (!readCSD(&csd)) {
        return 0;
    }
    const uint32_t blocks = csd_blocks(csd.raw);
    if (blocks == 0) {
        set_error(kErrorCsd, csd.raw[0]);
    }
    return blocks;
}

uint8_t SdSpiCard::type() const {
    const Card& card = driver().card;
    return state_ == card.epoch && card.started ? card.type : 0;
}

bool SdSpiCard::readOCR(uint32_t* ocr) {
    if (!started(state_)) {
        return done(false);
    }
    driver().card.owed += transfer_time(5);
    if (!driver().card.slot->present() || !driver().card.slot->read_ocr(ocr)) {
        set_error(kErrorRegister, 58);
        return done(false);
    }
    return done(true);
}

bool SdSpiCard::readCID(cid_t* cid) {
    if (!started(state_)) {
        return done(false);
    }
    uint8_t raw[16];
    driver().card.owed += transfer_time(18);
    if (!driver().card.slot->present() || !driver().card.slot->read_cid(raw)) {
        set_error(kErrorRegister, 10);
        return done(false);
    }
    cid->mid = raw[0];
    cid->oid[0] = static_cast<char>(raw[1]);
    cid->oid[1] = static_cast<char>(raw[2]);
    for (int i = 0; i < 5; ++i) {
        cid->pnm[i] = static_cast<char>(raw[3 + i]);
    }
    cid->prv = raw[8];
    for (int i = 0; i < 4; ++i) {
        cid->psn[i] = raw[9 + i];
    }
    cid->mdt[0] = raw[13];
    cid->mdt[1] = raw[14];
    cid->crc = raw[15];
    return done(true);
}

bool SdSpiCard::readCSD(csd_t* csd) {
    if (!started(state_)) {
        return done(false);
    }
    driver().card.owed += transfer_time(18);
    if (!driver().card.slot->present() || !driver().card.slot->read_csd(csd->raw)) {
        set_error(kErrorRegister, 9);
        return done(false);
    }
    return done(true);
}

bool SdSpiCard::erase(uint32_t firstBlock, uint32_t lastBlock) {
    if (!started(state_)) {
        return done(false);
    }
    Card& card = driver().card;
    uint8_t csd[16];
    card.owed += transfer_time(18);
    if (!card.slot->present() || !card.slot->read_csd(csd)) {
        set_error(kErrorErase, firstBlock);
        return done(false);
    }
    // Without single-block erase only whole erase sectors can go.
    if (field(csd, 46, 46) == 0) {
        const uint32_t sector = field(csd, 45, 39) + 1;
        if (firstBlock % sector != 0 || (lastBlock + 1) % sector != 0) {
            set_error(kErrorErase, firstBlock);
            return done(false);
        }
    }
    if (lastBlock < firstBlock || lastBlock >= csd_blocks(csd)) {
        set_error(kErrorErase, firstBlock);
        return done(false);
    }
    card.owed += kEraseTime + (lastBlock - firstBlock) / 128;
    if (!card.slot->erase(firstBlock, lastBlock)) {
        set_error(kErrorErase, firstBlock);
        return done(false);
    }
    return done(true);
}

bool SdSpiCard::readBlock(uint32_t block, uint8_t* dst) {
    if (!started(state_)) {
        return done(false);
    }
    return done(read_block(block, dst));
}

bool SdSpiCard::writeBlock(uint32_t block, const uint8_t* src) {
    if (!started(state_)) {
        return done(false);
    }
    return done(write_block(block, src));
}

bool SdSpiCard::writeStart(uint32_t block, uint32_t eraseCount) {
    (void)eraseCount;  // a hint for the card's own erase; the blocks get written anyway
    if (!started(state_)) {
        return done(false);
    }
    Card& card = driver().card;
    card.owed += transfer_time(0);
    if (!card.slot->present()) {
        set_error(kErrorWrite, block);
        return done(false);
    }
    card.multi_write = true;
    card.multi_next = block;
    return done(true);
}

bool SdSpiCard::writeData(const uint8_t* src) {
    if (!started(state_)) {
        return done(false);
    }
    Card& card = driver().card;
    if (!card.multi_write) {
        set_error(kErrorMultiWrite, 0);
        return done(false);
    }
    if (!write_block(card.multi_next, src)) {
        card.multi_write = false;
        return done(false);
    }
    ++card.multi_next;
    return done(true);
}

bool SdSpiCard::writeStop() {
    if (!started(state_)) {
        return done(false);
    }
    Card& card = driver().card;
    if (!card.multi_write) {
        set_error(kErrorMultiWrite, 0);
        return done(false);
    }
    card.multi_write = false;
    card.owed += transfer_time(2) + kProgramTime;
    if (!card.slot->present()) {
        set_error(kErrorWrite, card.multi_next);
        return done(false);
    }
    return done(true);
}

uint8_t SdSpiCard::errorCode() const {
    return driver().card.error;
}

uint32_t SdSpiCard::errorData() const {
    return driver().card.error_data;
}
