// A fresh state directory per benchmark, so a run does not depend on earlier
// runs; removed when the benchmark ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace bench {

class StateDir {
  public:
    StateDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ktr09-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~StateDir() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    StateDir(const StateDir&) = delete;
    StateDir& operator=(const StateDir&) = delete;

    // Empty when the directory could not be made.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace bench
