// SD card and FAT volume classes in the SdFat spelling. Only what the records
// need so far; the card logging adds its operations here.
#pragma once

#include <stdint.h>

// An open-file handle; 0 means no file is open.
class File {
  public:
    constexpr File() : handle_(0) {}
    bool isOpen() const { return handle_ != 0; }

  private:
    uint8_t handle_;
};

// The mounted FAT volume.
class SdFat {
  public:
    constexpr SdFat() : mounted_(0) {}
    bool mounted() const { return mounted_ != 0; }

  private:
    uint8_t mounted_;
};
