// A card in the slot that passes everything to a card model, for tests that
// change what one operation does (a card pulled after so many writes, one
// that forgets what it is given).
#pragma once

#include "devices/sd_card.h"
#include "host/machine.h"

class WrappedCard : public host::SdCard {
  public:
    explicit WrappedCard(sim::SdCardModel* card) : card_(card) {}
    bool present() override { return card_->present(); }
    bool start() override { return card_->start(); }
    bool version_2() override { return card_->version_2(); }
    bool high_capacity() override { return card_->high_capacity(); }
    uint32_t block_count() override { return card_->block_count(); }
    bool read_cid(uint8_t cid[16]) override { return card_->read_cid(cid); }
    bool read_csd(uint8_t csd[16]) override { return card_->read_csd(csd); }
    bool read_ocr(uint32_t* ocr) override { return card_->read_ocr(ocr); }
    bool read_block(uint32_t block, uint8_t data[kBlockSize]) override {
        return card_->read_block(block, data);
    }
    bool write_block(uint32_t block, const uint8_t data[kBlockSize]) override {
        return card_->write_block(block, data);
    }
    bool erase(uint32_t first, uint32_t last) override { return card_->erase(first, last); }

  protected:
    sim::SdCardModel* card_;
};
