// A small tmpfs for a test that needs a full disk, unmounted at the end.
// Mounting needs the right to (root, outside a locked-down container);
// where it is refused, mounted() is false and the test skips.
#pragma once

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class SmallFilesystem {
  public:
    SmallFilesystem(const std::filesystem::path& at, unsigned kilobytes) : at_(at) {
        std::filesystem::create_directories(at_);
        const std::string size = "size=" + std::to_string(kilobytes) + "k";
        if (::mount("tmpfs", at_.c_str(), "tmpfs", 0, size.c_str()) == 0) {
            mounted_ = true;
        } else {
            refusal_ = std::strerror(errno);
        }
    }
    ~SmallFilesystem() {
        if (mounted_) {
            ::umount2(at_.c_str(), MNT_DETACH);
        }
    }
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    bool mounted() const { return mounted_; }
    // Why mounting was refused.
    const std::string& refusal() const { return refusal_; }

    // Fills every free block with one file.
    void fill() const {
        std::ofstream filler(at_ / "filler", std::ios::binary);
        const std::vector<char> block(4096, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
               filler.flush()) {
        }
    }

  private:
    std::filesystem::path at_;
    bool mounted_ = false;
    std::string refusal_;
};
