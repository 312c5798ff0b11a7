// An interrupt between two instructions, on demand: a hardware write
// watchpoint on a variable raises a signal right after each store the calling
// thread makes to it, and the signal runs a callback (for example the tick).
// This is how a test finds foreground code whose correctness depends on the
// order of two stores that an interrupt may separate.
#pragma once

#include <fcntl.h>
#include <linux/hw_breakpoint.h>
#include <linux/perf_event.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

class StoreTraps {
  public:
    using Callback = void (*)();

    explicit StoreTraps(Callback callback) {
        instance() = this;
        callback_ = callback;
        struct sigaction action {};
        action.sa_handler = &StoreTraps::on_signal;
        sigemptyset(&action.sa_mask);
        sigaction(kSignal, &action, &previous_);
    }

    ~StoreTraps() {
        for (int fd : fds_) {
            ioctl(fd, PERF_EVENT_IOC_DISABLE, 0);
            close(fd);
        }
        sigaction(kSignal, &previous_, nullptr);
        instance() = nullptr;
    }

    StoreTraps(const StoreTraps&) = delete;
    StoreTraps& operator=(const StoreTraps&) = delete;

    // Watches stores to `length` (1, 2, 4 or 8, aligned) bytes at `address`.
    // False when the machine gives no watchpoints to this process, or gives
    // them but never signals (some virtual machines).
    bool watch(const volatile void* address, unsigned length) {
        if (!probed_) {
            probed_ = true;
            working_ = probe();
        }
        return working_ && arm(address, length);
    }

    int hits() const { return hits_; }

  private:
    static constexpr int kSignal = SIGIO;

    static void nothing() {}

    // One store to a byte of its own must raise the signal.
    bool probe() {
        static volatile uint8_t byte = 0;
        const Callback callback = callback_;
        callback_ = &StoreTraps::nothing;
        bool fired = false;
        if (arm(&byte, 1)) {
            byte = static_cast<uint8_t>(byte + 1);
            fired = hits_ == 1;
            ioctl(fds_.back(), PERF_EVENT_IOC_DISABLE, 0);
            close(fds_.back());
            fds_.pop_back();
        }
        hits_ = 0;
        callback_ = callback;
        return fired;
    }

    bool arm(const volatile void* address, unsigned length) {
        perf_event_attr attr;
        std::memset(&attr, 0, sizeof attr);
        attr.type = PERF_TYPE_BREAKPOINT;
        attr.size = sizeof attr;
        attr.bp_type = HW_BREAKPOINT_W;
        attr.bp_addr = reinterpret_cast<uintptr_t>(address);
        attr.bp_len = length;
        attr.sample_period = 1;
        attr.wakeup_events = 1;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        attr.disabled = 1;
        const int fd = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
        if (fd < 0) {
            return false;
        }
        // The signal goes to this thread, the one that makes the stores.
        f_owner_ex owner{F_OWNER_TID, static_cast<pid_t>(syscall(SYS_gettid))};
        fcntl(fd, F_SETFL, O_ASYNC);
        fcntl(fd, F_SETSIG, kSignal);
        fcntl(fd, F_SETOWN_EX, &owner);
        fds_.push_back(fd);
        ioctl(fd, PERF_EVENT_IOC_ENABLE, 0);
        return true;
    }

    static StoreTraps*& instance() {
        static StoreTraps* current = nullptr;
        return current;
    }

    // The callback's own stores to the watched variables must not trap again.
    static void on_signal(int) {
        StoreTraps* traps = instance();
        if (traps == nullptr) {
            return;
        }
        for (int fd : traps->fds_) {
            ioctl(fd, PERF_EVENT_IOC_DISABLE, 0);
        }
        ++traps->hits_;
        traps->callback_();
        for (int fd : traps->fds_) {
            ioctl(fd, PERF_EVENT_IOC_ENABLE, 0);
        }
    }

    Callback callback_ = nullptr;
    std::vector<int> fds_;
    volatile int hits_ = 0;
    bool probed_ = false;
    bool working_ = false;
    struct sigaction previous_ {};
};
