#include "Monitor.h"

#include <algorithm>
#include <cstdio>

namespace monitor_sim {

namespace {

Answer ackWith(std::string data, std::string note = {}) {
    return Answer{std::move(data), true, std::move(note)};
}

Answer nak(std::string note) {
    return Answer{{}, false, std::move(note)};
}

} // namespace

std::string unitIdDigits(unsigned unitId) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03u", unitId % 1000);
    return digits;
}

Monitor::Monitor(MonitorState initial) : initial_(initial), state_(std::move(initial)) {
}

char Monitor::addressChar() const {
    return static_cast<char>((0x30 + (state_.unitId & 0xFF)) & 0xFF);
}

bool Monitor::isForMe(char address) const {
    return address == '0' || address == addressChar();
}

bool Monitor::hasSource(std::string_view source) const {
    return std::find(state_.sources.begin(), state_.sources.end(), source) != state_.sources.end();
}

Answer Monitor::answer(std::string_view frame) {
    const std::string_view command = frame.substr(3, 3);
    const std::string_view argument = frame.substr(6, 3);
    const std::string arg(argument);

    if (command == "UIG") {
        if (argument != "000")
            return nak("UIG wants argument 000, got " + arg);
        return ackWith(unitIdDigits(state_.unitId));
    }
    if (command == "SSG") {
        if (argument != "000")
            return nak("SSG wants argument 000, got " + arg);
        return ackWith(state_.source);
    }
    if (command == "SIG") {
        if (argument != "000")
            return nak("SIG wants argument 000, got " + arg);
        return ackWith(state_.signal ? "SOK" : "NOS");
    }
    if (command == "FVS") {
        if (argument != "ENA")
            return nak("FVS wants argument ENA, got " + arg);
        if (state_.refuseFirmwareQuery)
            return Answer{"?ERROR", false, "firmware query refused (--refuse-fv)"};
        return ackWith("FV" + state_.firmware);
    }
    if (command == "SSS") {
        if (std::find(kAllSources.begin(), kAllSources.end(), arg) == kAllSources.end())
            return nak("SSS: unknown source " + arg);
        if (!hasSource(arg))
            return nak("SSS: this monitor has no " + arg + " input");
        state_.source = arg;
        return ackWith({}, "switched to " + arg);
    }
    if (command == "DSS") {
        if (argument != "EXE")
            return nak("DSS wants argument EXE, got " + arg);
        state_ = initial_;
        return ackWith({}, "default settings restored (source " + state_.source + ")");
    }
    if (command == "DCS") {
        if (argument != "PON")
            return nak("DCS wants argument PON, got " + arg);
        if (!state_.diagnosticMode)
            return nak("DCS: no diagnostic mode (--old-firmware)");
        return ackWith({}, "diagnostic mode on");
    }
    if (command == "KES") {
        if (argument != "FAC" && argument != "PLS")
            return nak("KES wants argument FAC or PLS, got " + arg);
        return ackWith({}, "key " + arg);
    }
    return nak("unknown command " + std::string(command));
}

} // namespace monitor_sim
