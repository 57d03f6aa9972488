// The commands a monitor takes, each with its argument and the data bytes its answer carries.
//   CommandCode          three letters of command, three of argument, the data bytes before the
//                        acknowledge
//   UNIT_ID_QUERY ... FIRMWARE_QUERY   the four queries of a connect, in their order
//   SOURCE_SWITCH, DEFAULT_SETTING     the commands that change the monitor
//   DIAGNOSTIC_FRAMES                  the diagnostic sequence with its pauses
//   SIGNAL_OK, NO_SIGNAL               what the signal query answers
//   DataBytes                          the data bytes of a command by its three letters
// Standard C++ only.
#pragma once

#include <cstdint>
#include <string_view>
#include "core/Frame.h"

namespace protocol {

struct CommandCode {
    char command[4];
    char argument[4];
    unsigned dataBytes;
    // The frame of this command for an address.
    constexpr CommandFrame For(char address) const { return MakeFrame(address, command, argument); }
};

// The queries answer with three data bytes, the firmware query ("FV" commands) with six; the
// commands with none. The data bytes come before the acknowledge.
inline constexpr unsigned QUERY_DATA_BYTES = 3;
inline constexpr unsigned FIRMWARE_DATA_BYTES = 6;

inline constexpr CommandCode UNIT_ID_QUERY{"UIG", "000", QUERY_DATA_BYTES};
inline constexpr CommandCode SOURCE_QUERY{"SSG", "000", QUERY_DATA_BYTES};
inline constexpr CommandCode SIGNAL_QUERY{"SIG", "000", QUERY_DATA_BYTES};
inline constexpr CommandCode FIRMWARE_QUERY{"FVS", "ENA", FIRMWARE_DATA_BYTES};

// The switch takes the source's wire code (core/Sources.h) as its argument.
inline constexpr char SOURCE_SWITCH[4] = "SSS";
inline constexpr CommandCode DEFAULT_SETTING{"DSS", "EXE", 0};

// The diagnostic sequence: three frames, each acknowledged before the pause that follows it.
struct DiagnosticFrame {
    CommandCode code;
    std::uint32_t waitAfterMs;
};
inline constexpr DiagnosticFrame DIAGNOSTIC_FRAMES[] = {
    {{"DCS", "PON", 0}, 2000}, {{"KES", "FAC", 0}, 1000}, {{"KES", "PLS", 0}, 0}};

// The signal query's data bytes: a signal on the active input, or none.
inline constexpr char SIGNAL_OK[4] = "SOK";
inline constexpr char NO_SIGNAL[4] = "NOS";

// Any "FV" command reads six data bytes, the three queries above three, the rest none.
constexpr unsigned DataBytes(std::string_view command) {
    if (command.substr(0, 2) == std::string_view(FIRMWARE_QUERY.command, 2))
        return FIRMWARE_DATA_BYTES;
    for (const CommandCode& query : {UNIT_ID_QUERY, SOURCE_QUERY, SIGNAL_QUERY})
        if (command == query.command)
            return query.dataBytes;
    return 0;
}

} // namespace protocol
