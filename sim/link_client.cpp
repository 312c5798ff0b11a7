#include "link_client.h"

#include "codec/ais_bits.h"
#include "host/machine.h"

namespace sim {

std::shared_ptr<LinkClient> LinkClient::connect(const std::string& socket_path, unsigned index,
                                                std::string* error) {
    const int fd = vhf::connect_unix(socket_path, error);
    if (fd < 0) {
        return nullptr;
    }
    auto client = std::make_shared<LinkClient>(fd);
    if (!client->socket_.write(vhf::hello_line(index))) {
        *error = "the link broker at " + socket_path + " hung up";
        return nullptr;
    }
    return client;
}

LinkClient::LinkClient(int fd) : socket_(fd) {}

LinkClient::~LinkClient() {
    *alive_ = false;
}

void LinkClient::transmit(const AirMessage& message) {
    check_lead(message);
    outbox_.push_back(message);
}

bool LinkClient::deliver(const vhf::Transmission& t, std::string* error) {
    const auto bits = codec::dearmour_payload(t.payload, t.fill);
    if (!bits) {
        *error = "the link broker passed on a message that is not AIS";
        return false;
    }
    AirMessage message{*bits, t.channel, t.ends};
    const std::shared_ptr<bool> alive = alive_;
    host::schedule_at(t.ends, [this, alive, message] {
        if (*alive) {
            hear(message);
        }
    });
    return true;
}

bool LinkClient::run(const std::function<void()>& after_grant, std::string* error) {
    std::string text;
    while (socket_.read_line(&text)) {
        const auto line = vhf::parse_line(text);
        if (!line || (line->kind != vhf::Line::rx && line->kind != vhf::Line::grant &&
                      line->kind != vhf::Line::end)) {
            *error = "the link broker said \"" + text + "\"";
            return false;
        }
        if (line->kind == vhf::Line::end) {
            return true;
        }
        if (line->kind == vhf::Line::rx) {
            if (!deliver(line->transmission, error)) {
                return false;
            }
            continue;
        }
        if (line->value < host::now()) {
            *error = "the link broker granted a time already past";
            return false;
        }
        host::run_until(line->value);
        after_grant();
        std::string report;
        for (const AirMessage& message : outbox_) {
            vhf::Transmission t;
            t.ends = message.ends;
            t.channel = message.channel;
            t.payload = codec::armour_payload(message.bits, &t.fill);
            report += vhf::tx_line(t);
        }
        outbox_.clear();
        report += vhf::at_line(host::now());
        if (!socket_.write(report)) {
            break;
        }
    }
    *error = "the link broker hung up";
    return false;
}

}  // namespace sim
