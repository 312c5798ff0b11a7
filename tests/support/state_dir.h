// A fresh state directory for one test, unique to this process (test runs of
// several build trees may share the machine), removed again at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
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

// A file's whole contents (empty when it cannot be read).
inline std::string read_file(const std::filesystem::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}
