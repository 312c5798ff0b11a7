// A fresh state directory for one test, unique to this process (test runs of
// several build trees may share the machine), removed again at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class TemporaryStateDir {
  public:
    TemporaryStateDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ktr09_state_XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TemporaryStateDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryStateDir(const TemporaryStateDir&) = delete;
    TemporaryStateDir& operator=(const TemporaryStateDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};
