// Placeholders for the SdFat library, which the board's image links in their
// stead: no card ever starts, so every operation fails.
#include "SdFat.h"

bool SdSpiCard::begin(uint8_t, uint32_t) {
    return false;
}
uint32_t SdSpiCard::cardSize() {
    return 0;
}
uint8_t SdSpiCard::type() const {
    return 0;
}
bool SdSpiCard::readOCR(uint32_t*) {
    return false;
}
bool SdSpiCard::readCID(cid_t*) {
    return false;
}
bool SdSpiCard::readCSD(csd_t*) {
    return false;
}
bool SdSpiCard::erase(uint32_t, uint32_t) {
    return false;
}
bool SdSpiCard::readBlock(uint32_t, uint8_t*) {
    return false;
}
bool SdSpiCard::writeBlock(uint32_t, const uint8_t*) {
    return false;
}
bool SdSpiCard::writeStart(uint32_t, uint32_t) {
    return false;
}
bool SdSpiCard::writeData(const uint8_t*) {
    return false;
}
bool SdSpiCard::writeStop() {
    return false;
}
uint8_t SdSpiCard::errorCode() const {
    return 0;
}
uint32_t SdSpiCard::errorData() const {
    return 0;
}

bool FatVolume::init(SdSpiCard*, uint8_t) {
    return false;
}
uint8_t FatVolume::fatType() const {
    return 0;
}
uint8_t FatVolume::blocksPerCluster() const {
    return 0;
}
uint32_t FatVolume::clusterCount() const {
    return 0;
}
int32_t FatVolume::freeClusterCount() {
    return -1;
}
uint32_t FatVolume::fatStartBlock() const {
    return 0;
}
uint8_t FatVolume::fatCount() const {
    return 0;
}
uint32_t FatVolume::blocksPerFat() const {
    return 0;
}
uint32_t FatVolume::rootDirStart() const {
    return 0;
}
uint32_t FatVolume::dataStartBlock() const {
    return 0;
}

bool File::isDir() const {
    return false;
}
bool File::openRoot(FatVolume*) {
    return false;
}
bool File::open(const char*, uint8_t) {
    return false;
}
size_t File::write(const void*, size_t) {
    return 0;
}
size_t File::write(uint8_t) {
    return 0;
}
size_t File::write(const char*) {
    return 0;
}
size_t File::println() {
    return 0;
}
bool File::sync() {
    return false;
}
bool File::close() {
    handle_ = 0;
    return false;
}

bool SdFat::exists(const char*) {
    return false;
}
bool SdFat::mkdir(const char*, bool) {
    return false;
}
File SdFat::open(const char*, uint8_t) {
    return File();
}
void SdFat::errorPrint(const char*) {}
