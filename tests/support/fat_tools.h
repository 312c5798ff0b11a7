// dosfstools, mtools and fdisk as the judges of a card image: make a volume
// with mkfs.fat (with or without a partition table), check it with
// fsck.fat -n, list and show files with mdir and mtype.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/command.h"

inline bool fat_tools_installed() {
    return std::filesystem::exists("/usr/sbin/mkfs.fat") &&
           std::filesystem::exists("/usr/sbin/fsck.fat") &&
           std::filesystem::exists("/usr/bin/mdir") && std::filesystem::exists("/usr/sbin/sfdisk");
}

inline std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// A sparse image of `mb` MB holding a FAT volume made by mkfs.fat: from
// block `first` (0: no partition table; else one partition of type `type`
// from `first` to the end, written by sfdisk). `options` go to mkfs.fat.
inline bool make_fat_image(const std::filesystem::path& image, uint32_t mb, uint32_t first,
                           const std::string& options, const std::string& type = "0e") {
    std::filesystem::remove(image);
    { std::ofstream create(image, std::ios::binary); }
    std::filesystem::resize_file(image, static_cast<uint64_t>(mb) << 20);
    if (first != 0) {
        const ToolRun table = run_tool("echo 'start=" + std::to_string(first) + ", type=" + type +
                                       "' | /usr/sbin/sfdisk -q " + quoted(image));
        if (table.status != 0) {
            return false;
        }
    }
    const uint64_t blocks = (static_cast<uint64_t>(mb) << 11) - first;
    const std::string offset = first != 0 ? " --offset=" + std::to_string(first) : "";
    return run_tool("/usr/sbin/mkfs.fat" + offset + " " + options + " " + quoted(image) + " " +
                    std::to_string(blocks / 2))
               .status == 0;
}

// fsck.fat -n on the volume from block `first` (copied out when it is not
// at the start of the image).
inline ToolRun fsck_volume(const std::filesystem::path& image, uint32_t first) {
    std::filesystem::path volume = image;
    if (first != 0) {
        volume = image.string() + ".volume";
        run_tool("dd status=none conv=sparse if=" + quoted(image) + " of=" + quoted(volume) +
                 " bs=512 skip=" + std::to_string(first));
    }
    ToolRun run = run_tool("/usr/sbin/fsck.fat -n -v " + quoted(volume));
    if (first != 0) {
        std::filesystem::remove(volume);
    }
    return run;
}

// An mtools command (mdir, mtype, ...) on the volume from block `first`.
inline ToolRun mtools(const std::string& tool, const std::filesystem::path& image, uint32_t first,
                      const std::string& arguments) {
    return run_tool("MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 /usr/bin/" + tool + " -i " +
                    quoted(image) + "@@" + std::to_string(static_cast<uint64_t>(first) * 512) +
                    " " + arguments);
}
