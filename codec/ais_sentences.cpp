#include "codec/ais_sentences.h"

#include <cstdlib>

#include "codec/nmea.h"

namespace codec {
namespace {

bool number_of(const std::string& text, unsigned low, unsigned high, unsigned* value) {
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = static_cast<unsigned>(std::atoi(text.c_str()));
    return *value >= low && *value <= high;
}

std::optional<VdmMessage> refuse(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> vdm_sentences(const Bits& payload, const VdmOptions& options) {
    unsigned fill = 0;
    const std::string chars = armour_payload(payload, &fill);
    const size_t per = options.max_chars == 0 ? 1 : options.max_chars;
    const size_t count = chars.empty() ? 1 : (chars.size() + per - 1) / per;
    std::string id;
    if (options.sequence_id >= 0) {
        id = std::to_string(options.sequence_id);
    } else if (count > 1) {
        id = "0";
    }
    const std::string channel = options.channel == '\0' ? "" : std::string(1, options.channel);
    std::vector<std::string> sentences;
    for (size_t i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        sentences.push_back(
            build_sentence('!', {options.talker + (options.own ? "VDO" : "VDM"),
                                 std::to_string(count), std::to_string(i + 1), id, channel,
                                 chars.substr(i * per, per), std::to_string(last ? fill : 0)}));
    }
    return sentences;
}

std::optional<VdmMessage> VdmAssembler::add(std::string_view line, std::string* error) {
    if (error != nullptr) {
        error->clear();
    }
    std::string why;
    const std::optional<Sentence> sentence = parse_sentence(line, &why);
    if (!sentence) {
        return refuse(error, why);
    }
    const std::vector<std::string>& f = sentence->fields;
    const std::string& address = f[0];
    if (sentence->start != '!' || f.size() != 7 || address.size() != 5 ||
        (address.compare(2, 3, "VDM") != 0 && address.compare(2, 3, "VDO") != 0)) {
        return refuse(error, "not a VDM or VDO sentence");
    }
    unsigned count = 0;
    unsigned number = 0;
    unsigned fill = 0;
    if (!number_of(f[1], 1, 9, &count) || !number_of(f[2], 1, count, &number) ||
        !number_of(f[6], 0, 5, &fill)) {
        return refuse(error, "bad fragment count, number or fill bits");
    }
    const bool own = address.compare(2, 3, "VDO") == 0;
    const std::string key = address + "," + f[3];
    Partial& partial = partial_[key];
    if (number == 1) {
        partial = Partial{count, 1, {}};
    }
    if (partial.count != count || partial.next != number) {
        partial_.erase(key);
        return refuse(error, "fragment " + f[2] + " of " + f[1] + " out of order");
    }
    if (number != count && fill != 0) {
        partial_.erase(key);
        return refuse(error, "fill bits on a fragment before the last");
    }
    partial.payload += f[5];
    ++partial.next;
    if (number != count) {
        return std::nullopt;
    }
    const std::string payload = partial.payload;
    partial_.erase(key);
    std::optional<Bits> bits = dearmour_payload(payload, fill);
    if (!bits) {
        return refuse(error, "payload holds a character outside the armouring set");
    }
    VdmMessage message;
    message.talker = address.substr(0, 2);
    message.own = own;
    message.channel = f[4].size() == 1 ? f[4][0] : '\0';
    message.payload = std::move(*bits);
    return message;
}

}  // namespace codec
