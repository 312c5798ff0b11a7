// libFuzzer target over what a station sends the configuration program:
// console text and reply frames in any mix, arriving in two pieces split at
// a point the input chooses. The reply found must not depend on where the
// bytes were split, and a frame found must be one the bytes really hold.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/pc_frame.h"
#include "serial_link.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Outcome {
    tools::ReplyScan scan = tools::ReplyScan::kNeedMore;
    std::vector<uint8_t> frame;
};

Outcome scan(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
    std::vector<uint8_t> received = first;
    codec::PcFrame frame;
    std::string error;
    Outcome outcome;
    outcome.scan = tools::scan_for_reply(&received, &frame, &error);
    if (outcome.scan == tools::ReplyScan::kNeedMore) {
        received.insert(received.end(), second.begin(), second.end());
        outcome.scan = tools::scan_for_reply(&received, &frame, &error);
    }
    if (outcome.scan == tools::ReplyScan::kFound) {
        outcome.frame = codec::build_pc_frame(frame);
    }
    if (outcome.scan == tools::ReplyScan::kBroken) {
        check(!error.empty());
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::vector<uint8_t> bytes(data + 1, data + size);
    const size_t split = std::min<size_t>(data[0], bytes.size());
    const Outcome whole = scan(bytes, {});
    const Outcome pieces = scan(std::vector<uint8_t>(bytes.begin(), bytes.begin() + split),
                                std::vector<uint8_t>(bytes.begin() + split, bytes.end()));
    check(whole.scan == pieces.scan && whole.frame == pieces.frame);
    if (whole.scan == tools::ReplyScan::kFound) {
        check(std::search(bytes.begin(), bytes.end(), whole.frame.begin(), whole.frame.end()) !=
              bytes.end());
    }
    return 0;
}
