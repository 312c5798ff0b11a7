// The SD card and its FAT volume, in the SdFat library's spelling: a card on
// SPI with its registers and raw blocks, the FAT16/FAT32 volume on it, files
// by path, and the library object that ties them together. These objects sit
// in the station's records, so they hold only small handles; the card and
// volume state lives in the platform's storage driver.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---- Open flags (combined with |) -------------------------------------------
constexpr uint8_t O_READ = 0x01;
constexpr uint8_t O_RDONLY = O_READ;
constexpr uint8_t O_WRITE = 0x02;
constexpr uint8_t O_WRONLY = O_WRITE;
constexpr uint8_t O_RDWR = O_READ | O_WRITE;
constexpr uint8_t O_APPEND = 0x04;  // every write goes to the end of the file
constexpr uint8_t O_CREAT = 0x10;   // create the file when it is missing
constexpr uint8_t O_EXCL = 0x20;    // with O_CREAT: fail when it exists
constexpr uint8_t O_TRUNC = 0x40;   // empty an existing file

// ---- Card types --------------------------------------------------------------
constexpr uint8_t SD_CARD_TYPE_SD1 = 1;   // standard capacity, version 1
constexpr uint8_t SD_CARD_TYPE_SD2 = 2;   // standard capacity, version 2
constexpr uint8_t SD_CARD_TYPE_SDHC = 3;  // high (or extended) capacity: block addressed

// SPI clock limit for begin, in Hz.
#define SD_SCK_MHZ(maxMhz) (1000000UL * (maxMhz))

// Card identification register as the card sends it, most significant byte
// first, as an SD card sends its CID.
struct cid_t {
    uint8_t mid;     // manufacturer ID
    char oid[2];     // OEM / application ID
    char pnm[5];     // product name
    uint8_t prv;     // product revision n.m: n in the high nibble, m in the low
    uint8_t psn[4];  // product serial number, most significant byte first
    uint8_t mdt[2];  // 4 reserved bits, year - 2000 (8 bits), month (4 bits)
    uint8_t crc;     // CRC7 in the high 7 bits, then a 1
};

// Card-specific data register as the card sends it, most significant byte
// first: bit 127 of the register is the top bit of raw[0]. Version 1
// (standard capacity) and version 2 (high capacity) share the erase fields.
struct csd_t {
    uint8_t raw[16];
};

// The card on SPI. Every operation returns false (or 0) on failure, leaving
// its reason in errorCode() / errorData().
class SdSpiCard {
  public:
    constexpr SdSpiCard() : state_(0) {}
    // Starts the card on SPI with chip select `csPin` and a clock of at most
    // `maxSck` Hz.
    bool begin(uint8_t csPin, uint32_t maxSck);
    // Capacity in 512-byte blocks; 0 when it cannot be read.
    uint32_t cardSize();
    uint8_t type() const;
    bool readOCR(uint32_t* ocr);
    bool readCID(cid_t* cid);
    bool readCSD(csd_t* csd);
    // Blocks firstBlock..lastBlock (inclusive) to the card's erased state.
    bool erase(uint32_t firstBlock, uint32_t lastBlock);
    bool readBlock(uint32_t block, uint8_t* dst);
    bool writeBlock(uint32_t block, const uint8_t* src);
    // A multi-block write: start at `block` (eraseCount blocks may be
    // pre-erased), one writeData per block, then writeStop.
    bool writeStart(uint32_t block, uint32_t eraseCount);
    bool writeData(const uint8_t* src);
    bool writeStop();
    uint8_t errorCode() const;
    uint32_t errorData() const;

  private:
    uint8_t state_;
};

// The FAT volume on the card.
class FatVolume {
  public:
    constexpr FatVolume() : state_(0) {}
    // Mounts the volume of partition `part` (1..4) of the card's partition
    // table, or with `part` 0 a volume that starts in block 0 (no table).
    bool init(SdSpiCard* card, uint8_t part);
    uint8_t fatType() const;  // 16 or 32; 0 when not mounted
    uint8_t blocksPerCluster() const;
    uint32_t clusterCount() const;
    // Free clusters counted in the FAT now; -1 when the FAT cannot be read.
    int32_t freeClusterCount();
    uint32_t fatStartBlock() const;
    uint8_t fatCount() const;
    uint32_t blocksPerFat() const;
    uint32_t rootDirStart() const;  // FAT16: its first block; FAT32: its first cluster
    uint32_t dataStartBlock() const;

  private:
    uint8_t state_;
};

// A file or directory of the mounted volume; 0 means nothing is open.
class File {
  public:
    constexpr File() : handle_(0) {}
    bool isOpen() const { return handle_ != 0; }
    bool isDir() const;
    // The volume's root directory.
    bool openRoot(FatVolume* vol);
    // A path from the root ("/" separated; a trailing "/" names a directory).
    bool open(const char* path, uint8_t oflag = O_READ);
    size_t write(const void* buf, size_t count);
    size_t write(uint8_t b);
    size_t write(const char* str);
    // CR LF.
    size_t println();
    // Writes the file's data and directory entry to the card.
    bool sync();
    bool close();

  private:
    uint8_t handle_;
};

// The library object: the card, its volume and the paths on it.
class SdFat {
  public:
    constexpr SdFat() : card_(), vol_() {}
    // Starts the card only (no volume).
    bool cardBegin(uint8_t csPin, uint32_t maxSck) { return card_.begin(csPin, maxSck); }
    SdSpiCard* card() { return &card_; }
    FatVolume* vol() { return &vol_; }
    bool exists(const char* path);
    // A directory; with pFlag its missing parents too.
    bool mkdir(const char* path, bool pFlag = true);
    File open(const char* path, uint8_t oflag = O_READ);
    uint8_t cardErrorCode() const { return card_.errorCode(); }
    uint32_t cardErrorData() const { return card_.errorData(); }
    // Prints "error: ", the message, and the card's error code and data on
    // the USB console.
    void errorPrint(const char* msg);

  private:
    SdSpiCard card_;
    FatVolume vol_;
};
