#include "link/broker.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

namespace sim::vhf {

bool Air::sent(unsigned from, uint64_t reached, const std::vector<Transmission>& messages,
               std::string* error) {
    if (from >= pending_.size()) {
        *error = "no station " + std::to_string(from);
        return false;
    }
    for (const Transmission& message : messages) {
        if (message.ends < reached) {
            *error = "station " + std::to_string(from) + " sent a message ending at " +
                     std::to_string(message.ends) + " us, before the " + std::to_string(reached) +
                     " us it reached";
            return false;
        }
    }
    for (const Transmission& message : messages) {
        const uint64_t order = sent_count_++;
        for (unsigned station = 0; station < pending_.size(); ++station) {
            if (station != from) {
                Pending pending{message, order};
                pending.transmission.from = from;
                pending_[station].push_back(pending);
            }
        }
    }
    return true;
}

std::vector<Transmission> Air::heard_by(unsigned station) {
    std::vector<Pending>& pending = pending_.at(station);
    std::sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        const Transmission& x = a.transmission;
        const Transmission& y = b.transmission;
        if (x.ends != y.ends) {
            return x.ends < y.ends;
        }
        return x.from != y.from ? x.from < y.from : a.order < b.order;
    });
    std::vector<Transmission> heard;
    for (const Pending& p : pending) {
        heard.push_back(p.transmission);
    }
    pending.clear();
    return heard;
}

bool accept_stations(int listener, unsigned count, const std::function<bool()>& keep_waiting,
                     std::vector<std::unique_ptr<LineSocket>>* stations, std::string* error) {
    stations->clear();
    stations->resize(count);
    for (unsigned joined = 0; joined < count; ++joined) {
        pollfd ready{listener, POLLIN, 0};
        while (::poll(&ready, 1, 100) <= 0) {
            if (!keep_waiting()) {
                *error = "only " + std::to_string(joined) + " of " + std::to_string(count) +
                         " stations joined the link";
                return false;
            }
        }
        auto socket =
            std::make_unique<LineSocket>(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        std::string text;
        const auto hello = socket->fd() >= 0 && socket->read_line(&text) ? parse_line(text)
                                                                         : std::optional<Line>();
        if (!hello || hello->kind != Line::hello || hello->value >= count ||
            (*stations)[hello->value]) {
            *error = "a station joined with \"" + text + "\" (expected HELLO 0.." +
                     std::to_string(count - 1) + ", each once)";
            return false;
        }
        (*stations)[hello->value] = std::move(socket);
    }
    return true;
}

namespace {

constexpr uint64_t kMostOvershoot = 100000;

// A station's report of the grant: its transmissions, then AT the grant.
bool read_report(LineSocket& station, unsigned index, uint64_t grant,
                 std::vector<Transmission>* sent, std::string* error) {
    const std::string who = "station " + std::to_string(index);
    std::string text;
    while (station.read_line(&text)) {
        const auto line = parse_line(text);
        if (line && line->kind == Line::tx) {
            sent->push_back(line->transmission);
            continue;
        }
        // A platform call in progress at the grant (a tick's work) may carry
        // the clock a few microseconds past it; a message of the next round
        // ending within those is heard as soon as the station goes on.
        if (line && line->kind == Line::at && line->value >= grant &&
            line->value - grant < kMostOvershoot) {
            return true;
        }
        *error = who + " said \"" + text + "\" instead of reaching " + std::to_string(grant);
        return false;
    }
    *error = who + " hung up";
    return false;
}

}  // namespace

bool run_broker(const std::vector<std::unique_ptr<LineSocket>>& stations,
                const BrokerSettings& settings, std::string* error) {
    const unsigned count = static_cast<unsigned>(stations.size());
    Air air(count);
    uint64_t reached = 0;
    while (reached < settings.duration) {
        const uint64_t grant = std::min(reached + settings.quantum, settings.duration);
        for (unsigned i = 0; i < count; ++i) {
            std::string round;
            for (const Transmission& t : air.heard_by(i)) {
                round += rx_line(t);
            }
            round += grant_line(grant);
            if (!stations[i]->write(round)) {
                *error = "station " + std::to_string(i) + " hung up";
                return false;
            }
        }
        for (unsigned i = 0; i < count; ++i) {
            std::vector<Transmission> sent;
            if (!read_report(*stations[i], i, grant, &sent, error) ||
                !air.sent(i, grant, sent, error)) {
                return false;
            }
        }
        reached = grant;
    }
    for (const auto& station : stations) {
        station->write(end_line());
    }
    return true;
}

}  // namespace sim::vhf
