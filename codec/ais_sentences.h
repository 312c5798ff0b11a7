// AIS payloads in VDM and VDO sentences: splitting a payload over numbered
// fragments, and putting fragments back together.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/ais_bits.h"

namespace codec {

struct VdmOptions {
    std::string talker = "AI";
    bool own = false;       // VDO (what this station sent) rather than VDM
    char channel = 'A';     // 'A', 'B', or '\0' for an empty field
    int sequence_id = -1;   // 0..9; -1 leaves it empty on a single sentence, 0 on several
    size_t max_chars = 60;  // payload characters per sentence
};

// "!AIVDM,count,number,id,channel,payload,fill*HH" CR LF per fragment; the
// fill bits are stated on the last fragment, 0 on the others.
std::vector<std::string> vdm_sentences(const Bits& payload, const VdmOptions& options = {});

struct VdmMessage {
    std::string talker;
    bool own = false;
    char channel = '\0';
    Bits payload;
};

// Takes sentences one at a time and gives back each message when its last
// fragment arrives. A fragment out of order, or of another count than the
// fragments before it with the same id, drops the partial message. A
// sentence that completes nothing leaves *error empty; a refused one says why.
class VdmAssembler {
  public:
    std::optional<VdmMessage> add(std::string_view line, std::string* error = nullptr);
    // Fragments held for messages not yet complete.
    size_t pending() const { return partial_.size(); }

  private:
    struct Partial {
        unsigned count = 0;
        unsigned next = 1;
        std::string payload;
    };
    std::map<std::string, Partial> partial_;
};

}  // namespace codec
