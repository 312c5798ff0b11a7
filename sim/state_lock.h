// One simulator per state directory: an advisory lock (flock) on a lock file
// in it, held for the run. Two simulators writing one card image would leave
// its FATs differing; the second is refused at once, told which process holds
// the directory. The file holds the holder's pid and goes when it lets go;
// a file left by a killed process holds no lock and is taken over.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace sim {

constexpr const char* kStateLockFile = "ktr09.lock";

class StateLock {
  public:
    StateLock() = default;
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    ~StateLock() { release(); }

    // Takes the lock of the existing directory `dir`; false with why not:
    // "<dir>: in use by ktr09-sim (process 1234)", or the lock file's error.
    bool acquire(const std::string& dir, std::string* error) {
        path_ = dir + "/" + kStateLockFile;
        // A holder removes the file as it lets go; a lock taken on a file
        // already unlinked guards nothing, so take the one at the path.
        for (int attempt = 0; attempt < 10; ++attempt) {
            const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) {
                *error = path_ + ": " + std::strerror(errno);
                return false;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int cause = errno;
                ::close(fd);
                *error = cause == EWOULDBLOCK ? dir + ": in use by " + holder()
                                              : path_ + ": " + std::strerror(cause);
                return false;
            }
            struct stat held {};
            struct stat named {};
            if (::fstat(fd, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
                held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
                const std::string pid = std::to_string(::getpid()) + "\n";
                if (::ftruncate(fd, 0) != 0 ||
                    ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
                    *error = path_ + ": " + std::strerror(errno);
                    ::unlink(path_.c_str());
                    ::close(fd);
                    return false;
                }
                fd_ = fd;
                return true;
            }
            ::close(fd);
        }
        *error = path_ + ": keeps changing under this process";
        return false;
    }

    // Whether `dir` is free now (no lock file, or one nobody holds); when
    // not, why, as acquire says it. Takes nothing.
    static bool is_free(const std::string& dir, std::string* error) {
        const std::string path = dir + "/" + kStateLockFile;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return true;
        }
        const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        if (held) {
            StateLock probe;
            probe.path_ = path;
            *error = dir + ": in use by " + probe.holder();
        }
        return !held;
    }

    const std::string& path() const { return path_; }

  private:
    void release() {
        if (fd_ >= 0) {
            // Removed while still held, so nobody locks a file on its way out.
            ::unlink(path_.c_str());
            ::close(fd_);
            fd_ = -1;
        }
    }

    // "ktr09-sim (process 1234)". The holder writes its pid just after
    // taking the lock: give it a moment.
    std::string holder() const {
        std::string pid;
        for (int wait = 0; wait < 50 && pid.empty(); ++wait) {
            if (wait > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            std::ifstream(path_) >> pid;
        }
        if (pid.empty()) {
            return "another process";
        }
        std::string name;
        std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
        return (name.empty() ? std::string("process ") : name + " (process ") + pid +
               (name.empty() ? "" : ")");
    }

    std::string path_;
    int fd_ = -1;
};

}  // namespace sim
