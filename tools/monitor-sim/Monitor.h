#pragma once
// The simulated monitor's settings and how it answers one command frame. No I/O in here.

#include "core/ProtocolRules.h"

#include <string>
#include <string_view>
#include <vector>

namespace monitor_sim {

// The byte that ends an answer: the acknowledge, or the refusal this monitor sends instead.
constexpr char acknowledgeByte(bool ack) {
    return static_cast<char>(ack ? protocol::ACK_BYTE : protocol::REFUSAL_BYTE);
}

// The input sources a monitor can have, by their wire codes, in the order they are listed to users.
inline const std::vector<std::string> kAllSources = [] {
    std::vector<std::string> codes;
    for (const protocol::InputSource& source : protocol::SOURCES)
        codes.push_back(source.code);
    return codes;
}();

// What the monitor is and what it currently shows.
struct MonitorState {
    unsigned unitId = 1;                            // 0..255
    std::string source = "HD1";                     // the active input source
    std::vector<std::string> sources = kAllSources; // the inputs this monitor has
    bool signal = true;                             // the active input carries a signal
    std::string firmware = "1.02";                  // exactly four characters
    bool diagnosticMode = true;                     // false: old firmware without a diagnostic mode
    bool refuseFirmwareQuery = false;               // answer FVS with "?" (the monitor refuses it)
};

// The reply to one frame before any line faults are applied: data bytes, then ACK or NAK.
struct Answer {
    std::string data;
    bool ack = true;
    std::string note; // why, for the log; empty when there is nothing to say
};

class Monitor {
public:
    explicit Monitor(MonitorState initial);

    // The address character frames for this unit carry: '0' + unit ID, modulo 256.
    char addressChar() const;

    // Whether a frame with this address character is for this monitor ('0' or its own).
    bool isForMe(char address) const;

    // Answers one well-formed nine-byte frame and updates the state (source switch, defaults).
    Answer answer(std::string_view frame);

    // The state the monitor is in now.
    const MonitorState& state() const { return state_; }

private:
    bool hasSource(std::string_view source) const;

    MonitorState initial_;
    MonitorState state_;
};

// The unit ID as the three decimal digits UIG answers, e.g. "001".
std::string unitIdDigits(unsigned unitId);

} // namespace monitor_sim
