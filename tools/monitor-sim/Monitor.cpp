#include "Monitor.h"

#include <algorithm>
#include <cstdio>

namespace monitor_sim {

using namespace protocol;

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
    return AddressOf(static_cast<int>(state_.unitId));
}

bool Monitor::isForMe(char address) const {
    return address == ANY_UNIT_ADDRESS || address == addressChar();
}

bool Monitor::hasSource(std::string_view source) const {
    return std::find(state_.sources.begin(), state_.sources.end(), source) != state_.sources.end();
}

Answer Monitor::answer(std::string_view frame) {
    const std::string_view command = frame.substr(3, 3);
    const std::string_view argument = frame.substr(6, 3);
    const std::string arg(argument);

    if (command == UNIT_ID_QUERY.command) {
        if (argument != UNIT_ID_QUERY.argument)
            return nak("UIG wants argument 000, got " + arg);
        return ackWith(unitIdDigits(state_.unitId));
    }
    if (command == SOURCE_QUERY.command) {
        if (argument != SOURCE_QUERY.argument)
            return nak("SSG wants argument 000, got " + arg);
        return ackWith(state_.source);
    }
    if (command == SIGNAL_QUERY.command) {
        if (argument != SIGNAL_QUERY.argument)
            return nak("SIG wants argument 000, got " + arg);
        return ackWith(state_.signal ? SIGNAL_OK : NO_SIGNAL);
    }
    if (command == FIRMWARE_QUERY.command) {
        if (argument != FIRMWARE_QUERY.argument)
            return nak("FVS wants argument ENA, got " + arg);
        if (state_.refuseFirmwareQuery)
            return Answer{"?ERROR", false, "firmware query refused (--refuse-fv)"};
        return ackWith("FV" + state_.firmware);
    }
    if (command == SOURCE_SWITCH) {
        if (SourceByCode(arg) < 0)
            return nak("SSS: unknown source " + arg);
        if (!hasSource(arg))
            return nak("SSS: this monitor has no " + arg + " input");
        state_.source = arg;
        return ackWith({}, "switched to " + arg);
    }
    if (command == DEFAULT_SETTING.command) {
        if (argument != DEFAULT_SETTING.argument)
            return nak("DSS wants argument EXE, got " + arg);
        state_ = initial_;
        return ackWith({}, "default settings restored (source " + state_.source + ")");
    }
    if (command == DIAGNOSTIC_FRAMES[0].code.command) {
        if (argument != DIAGNOSTIC_FRAMES[0].code.argument)
            return nak("DCS wants argument PON, got " + arg);
        if (!state_.diagnosticMode)
            return nak("DCS: no diagnostic mode (--old-firmware)");
        return ackWith({}, "diagnostic mode on");
    }
    if (command == DIAGNOSTIC_FRAMES[1].code.command) {
        if (argument != DIAGNOSTIC_FRAMES[1].code.argument &&
            argument != DIAGNOSTIC_FRAMES[2].code.argument)
            return nak("KES wants argument FAC or PLS, got " + arg);
        return ackWith({}, "key " + arg);
    }
    return nak("unknown command " + std::string(command));
}

} // namespace monitor_sim
