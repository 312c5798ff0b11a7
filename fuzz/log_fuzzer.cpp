// libFuzzer target over a card's log file as ktr09-log reads it: the first
// byte chooses the AIS or the data-link file, the rest is the file. Every
// record found must lie within the file, in order, and the summary and CSV
// tables are written from whatever the file held. The first 512 bytes also
// go to the partition table reader, as an image's block 0.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "log_card.h"
#include "log_records.h"
#include "log_report.h"
#include "log_traffic.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const logtool::LogKind kind =
        data[0] & 1 ? logtool::LogKind::kTidelink : logtool::LogKind::kAis;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    uint64_t end_of_last = 0;
    for (const logtool::Record& record : logtool::split_records(bytes, kind)) {
        check(record.offset >= end_of_last && record.offset < bytes.size());
        check(record.body.data() >= bytes.data() &&
              record.body.data() + record.body.size() <= bytes.data() + bytes.size());
        end_of_last = record.offset + 1;
    }
    const logtool::LogFile file{"25_05_20/10_vdm.txt", 1747735200, kind};
    logtool::TrafficLog log(INT64_MIN, INT64_MAX);
    std::ostringstream out;
    log.add_file(file, bytes, [&out](const logtool::RecordFacts& facts) {
        logtool::write_record_row(out, facts);
    });
    logtool::write_summary(out, log, true, 20);
    logtool::write_weather_csv(out, log, -1);
    logtool::write_ships_csv(out, log);
    if (size > 512) {
        std::string error;
        const std::optional<uint64_t> offset = logtool::volume_offset(data, size, &error);
        check(!offset || *offset < size);
    }
    return 0;
}
