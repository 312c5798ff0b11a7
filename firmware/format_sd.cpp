// The card formatter: the whole card erased, then one partition laid out on
// the card's erase boundaries as the SD Association's layout rules have it:
// FAT16 for a standard-capacity card, FAT32 for a high-capacity one.
#include <Arduino.h>
#include <SdFat.h>
#include <sodaq_wdt.h>
#include <string.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "gestion_sd.h"

namespace {

constexpr uint32_t LBLOQUES_BORRADO = 262144;    // blocks erased at a time
constexpr uint32_t LALINEACION_FAT16 = 128;      // blocks: 64 KiB
constexpr uint32_t LALINEACION_FAT32 = 8192;     // blocks: 4 MiB
constexpr uint32_t LBLOQUES_RAIZ_FAT16 = 32;     // 512 entries
constexpr uint32_t LVOLUMEN_SERIE = 0x4B543039;  // "KT09"

void texto(const char* pctexto) {
    SerialUSB.print(pctexto);
}

// Stops for good: the watchdog, not fed any more, restarts the station.
[[noreturn]] void sdErrorHalt() {
    if (card.errorCode() != 0) {
        texto("SD error: ");
        SerialUSB.print(static_cast<unsigned int>(card.errorCode()), HEX);
        texto(",");
        SerialUSB.print(static_cast<uint32_t>(card.errorData()), HEX);
        linea();
    }
    while (true) {
        __WFI();
    }
}

[[noreturn]] void error(const char* pcmensaje) {
    texto("error: ");
    texto(pcmensaje);
    linea();
    sdErrorHalt();
}

void clearCache() {
    memset(cache, 0, sizeof(cache));
}

bool writeCache(uint32_t lbn) {
    return card.writeBlock(lbn, cache);
}

void le16(uint16_t at, uint32_t lvalor) {
    cache[at] = static_cast<uint8_t>(lvalor);
    cache[at + 1] = static_cast<uint8_t>(lvalor >> 8);
}

void le32(uint16_t at, uint32_t lvalor) {
    le16(at, lvalor & 0xFFFF);
    le16(static_cast<uint16_t>(at + 2), lvalor >> 16);
}

void firma() {
    cache[510] = 0x55;
    cache[511] = 0xAA;
}

uint32_t lbnToCylinder(uint32_t lbn) {
    return lbn / (static_cast<uint32_t>(numberOfHeads) * sectorsPerTrack);
}

uint8_t lbnToHead(uint32_t lbn) {
    return static_cast<uint8_t>((lbn % (static_cast<uint32_t>(numberOfHeads) * sectorsPerTrack)) /
                                sectorsPerTrack);
}

uint8_t lbnToSector(uint32_t lbn) {
    return static_cast<uint8_t>(lbn % sectorsPerTrack + 1);
}

// Head, sector with the cylinder's top bits, cylinder's low byte.
void chs(uint16_t at, uint32_t ccilindro, uint8_t ccabeza, uint8_t csector) {
    cache[at] = ccabeza;
    cache[at + 1] = static_cast<uint8_t>(((ccilindro >> 2) & 0xC0) | (csector & 0x3F));
    cache[at + 2] = static_cast<uint8_t>(ccilindro);
}

void writeMbr() {
    clearCache();
    constexpr uint16_t kEntrada = 0x1BE;
    const uint32_t linicio = relSector;
    if (lbnToCylinder(linicio) > 1023) {
        error("MBR CHS");
    }
    chs(kEntrada + 1, lbnToCylinder(linicio), lbnToHead(linicio), lbnToSector(linicio));
    cache[kEntrada + 4] = partType;
    const uint32_t lfin = relSector + partSize - 1;
    if (lbnToCylinder(lfin) <= 1023) {
        chs(kEntrada + 5, lbnToCylinder(lfin), lbnToHead(lfin), lbnToSector(lfin));
    } else {
        chs(kEntrada + 5, 1023, 254, 63);
    }
    le32(kEntrada + 8, relSector);
    le32(kEntrada + 12, partSize);
    firma();
    if (!writeCache(0)) {
        error("write MBR");
    }
}

// The boot-sector fields both file systems share.
void bootComun() {
    clearCache();
    cache[0] = 0xEB;
    cache[1] = 0x00;
    cache[2] = 0x90;
    memcpy(&cache[3], "KTR09SD ", 8);
    le16(11, 512);
    cache[13] = sectorsPerCluster;
    le16(14, reservedSectors);
    cache[16] = 2;  // FATs
    cache[21] = 0xF8;
    le16(24, sectorsPerTrack);
    le16(26, numberOfHeads);
    le32(28, relSector);
    firma();
}

// The extended boot fields, at `at` (36 for FAT16, 64 for FAT32).
void bootExtendido(uint16_t at, const char* pctipo) {
    cache[at] = 0x80;  // drive number
    cache[at + 2] = 0x29;
    le32(static_cast<uint16_t>(at + 3), LVOLUMEN_SERIE);
    memcpy(&cache[at + 7], noName, 11);
    memcpy(&cache[at + 18], pctipo, 8);
}

void clearFatDir(uint32_t bgn, uint32_t count) {
    clearCache();
    if (!card.writeStart(bgn, count)) {
        error("Clear FAT/DIR writeStart failed");
    }
    for (uint32_t i = 0; i < count; ++i) {
        if ((i & 0xFF) == 0) {
            texto(".");
        }
        sodaq_wdt_reset();
        if (!card.writeData(cache)) {
            error("Clear FAT/DIR writeData failed");
        }
    }
    if (!card.writeStop()) {
        error("Clear FAT/DIR writeStop failed");
    }
    linea();
}

// The first FAT entries (media and end-of-chain marks) in both FATs.
void reservaFat(const uint8_t* pcentradas, uint8_t cbytes, const char* pcerror) {
    clearCache();
    memcpy(cache, pcentradas, cbytes);
    if (!writeCache(fatStart) || !writeCache(fatStart + fatSize)) {
        error(pcerror);
    }
}

void makeFat16() {
    uint32_t nc = 0;
    for (dataStart = 2 * LALINEACION_FAT16;; dataStart += LALINEACION_FAT16) {
        nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
        fatSize = (nc + 2 + 255) / 256;
        const uint32_t r = LALINEACION_FAT16 + 1 + 2 * fatSize + LBLOQUES_RAIZ_FAT16;
        if (dataStart >= r) {
            relSector = dataStart - r + LALINEACION_FAT16;
            break;
        }
    }
    if (nc < 4085 || nc >= 65525) {
        error("Bad cluster count");
    }
    reservedSectors = 1;
    fatStart = relSector + reservedSectors;
    partSize = nc * sectorsPerCluster + 2 * fatSize + reservedSectors + LBLOQUES_RAIZ_FAT16;
    partType = partSize < 32680 ? 0x01 : partSize < 65536 ? 0x04 : 0x06;
    writeMbr();
    bootComun();
    le16(17, 512);  // root entries
    if (partSize < 65536) {
        le16(19, partSize);
    } else {
        le32(32, partSize);
    }
    le16(22, fatSize);
    bootExtendido(36, fat16str);
    if (!writeCache(relSector)) {
        error("FAT16 write PBS failed");
    }
    clearFatDir(fatStart, 2 * fatSize + LBLOQUES_RAIZ_FAT16);
    const uint8_t centradas[4] = {0xF8, 0xFF, 0xFF, 0xFF};
    reservaFat(centradas, sizeof(centradas), "FAT16 reserve failed");
}

void makeFat32() {
    uint32_t nc = 0;
    relSector = LALINEACION_FAT32;
    for (dataStart = 2 * LALINEACION_FAT32;; dataStart += LALINEACION_FAT32) {
        nc = (cardSizeBlocks - dataStart) / sectorsPerCluster;
        fatSize = (nc + 2 + 127) / 128;
        if (relSector + 9 + 2 * fatSize <= dataStart) {
            break;
        }
    }
    if (nc < 65525) {
        error("Bad cluster count");
    }
    reservedSectors = static_cast<uint16_t>(dataStart - relSector - 2 * fatSize);
    fatStart = relSector + reservedSectors;
    partSize = nc * sectorsPerCluster + dataStart - relSector;
    partType = relSector + partSize <= 16450560 ? 0x0B : 0x0C;
    writeMbr();
    bootComun();
    le32(32, partSize);
    le32(36, fatSize);
    le32(44, 2);  // root directory cluster
    le16(48, 1);  // FSINFO sector
    le16(50, 6);  // backup boot sector
    bootExtendido(64, fat32str);
    if (!writeCache(relSector) || !writeCache(relSector + 6)) {
        error("FAT32 write PBS failed");
    }
    clearCache();
    firma();
    if (!writeCache(relSector + 2) || !writeCache(relSector + 8)) {
        error("FAT32 PBS ext failed");
    }
    clearCache();
    le32(0, 0x41615252);
    le32(484, 0x61417272);
    le32(488, nc - 1);  // free clusters: all but the root directory's
    le32(492, 3);       // where to look for a free one
    le32(508, 0xAA550000);
    if (!writeCache(relSector + 1) || !writeCache(relSector + 7)) {
        error("FAT32 FSINFO failed");
    }
    clearFatDir(fatStart, 2 * fatSize + sectorsPerCluster);
    const uint8_t centradas[12] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                                   0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    reservaFat(centradas, sizeof(centradas), "FAT32 reserve failed");
}

void initSizes() {
    const uint32_t c = cardCapacityMB;
    if (c < 7) {
        error("Card is too small.");
    }
    sectorsPerCluster = c <= 16      ? 2
                        : c <= 32    ? 4
                        : c <= 64    ? 8
                        : c <= 128   ? 16
                        : c <= 1024  ? 32
                        : c <= 32768 ? 64
                                     : 128;
    texto("Blocks/Cluster: ");
    SerialUSB.print(static_cast<unsigned int>(sectorsPerCluster));
    sectorsPerTrack = c <= 256 ? 32 : 63;
    numberOfHeads = c <= 16     ? 2
                    : c <= 32   ? 4
                    : c <= 128  ? 8
                    : c <= 504  ? 16
                    : c <= 1008 ? 32
                    : c <= 2016 ? 64
                    : c <= 4032 ? 128
                                : 255;
}

void eraseCard() {
    linea();
    texto("Erasing\n");
    uint32_t lprimero = 0;
    uint32_t nrangos = 0;
    do {
        uint32_t lultimo = lprimero + LBLOQUES_BORRADO - 1;
        if (lultimo >= cardSizeBlocks) {
            lultimo = cardSizeBlocks - 1;
        }
        if (!card.erase(lprimero, lultimo)) {
            error("erase failed");
        }
        texto(".");
        if (++nrangos % 32 == 0) {
            linea();
        }
        sodaq_wdt_reset();
        lprimero += LBLOQUES_BORRADO;
    } while (lprimero < cardSizeBlocks);
    if (!card.readBlock(0, cache)) {
        error("readBlock");
    }
    texto("All data set to ");
    SerialUSB.print(static_cast<unsigned int>(cache[0]), HEX);
    texto("Erase done\n");
}

void formatCard() {
    linea();
    texto("Formatting\n");
    initSizes();
    if (card.type() == SD_CARD_TYPE_SDHC) {
        texto("FAT32\n");
        makeFat32();
    } else {
        texto("FAT16\n");
        makeFat16();
    }
    texto("Format done\n");
}

}  // namespace

void formateo_sd() {
    if (!card.begin(board::kSdChipSelect, SD_SCK_MHZ(2))) {
        texto(
            "\nSD initialization failure!\nIs the SD card inserted correctly?\n"
            "Is chip select correct at the top of this program?\n");
        error("card.begin failed");
    }
    cardSizeBlocks = card.cardSize();
    if (cardSizeBlocks == 0) {
        error("cardSize");
    }
    cardCapacityMB = (cardSizeBlocks + 2047) / 2048;
    texto("Card Size: ");
    SerialUSB.print(static_cast<double>(cardCapacityMB) * 1.048576, 0);
    texto(" MB, (MB = 1,000,000 bytes)");
    linea();
    eraseCard();
    formatCard();
}
