// What everything that speaks or judges the monitor protocol agrees on, written once: the
// protocol core follows it, the simulated monitor times its faults by it, the soak bounds the
// operations by it. The line trace (Python) is held to it by the table of line cases that both
// test suites run (tests/line-cases.txt).
//   BAUD_RATE, BITS_PER_BYTE, WireTimeMs  the line's speed, and how long bytes take on it
//   ACK_BYTE, REFUSAL_BYTE            the acknowledge, and the monitors' refusal
//   AcknowledgeOf                     what an acknowledge byte means, on either read
//   READ_TIMEOUT_MS ... DRAIN_LIMIT_MS  the waits of one exchange
//   QUIET_CHECK_MS                    the answer-driven exchange's check for stale bytes
//   TransactionLimitMs                the longest one exchange can take
//   ExchangeFloorMs                   the shortest one exchange can take
//   ...FloorMs, SilentProbeMs         the shortest each operation can take, and a silent unit ID
//   RESEND_WAIT_MS, SWITCH_WAIT_MS    the source switch
//   SIGNAL_POLLS, SETTLE_WAIT_MS      the default setting
//   ..._LIMIT_MS                      the longest each operation can take, boxes aside
// Standard C++ only.
#pragma once

#include <cstdint>
#include "core/CommandCodes.h"
#include "core/Frame.h"
#include "core/Sources.h"

namespace protocol {

// The monitors talk at 19200 baud, 8 data bits, no parity, one stop bit: ten bits a byte.
inline constexpr unsigned BAUD_RATE = 19200;
inline constexpr unsigned DATA_BITS = 8;
inline constexpr unsigned BITS_PER_BYTE = 1 + DATA_BITS + 1;
// How long this many bytes take on the line, back to back.
constexpr double WireTimeMs(unsigned bytes) {
    return bytes * BITS_PER_BYTE * 1000.0 / BAUD_RATE;
}

// "!" acknowledges a command; monitors answer a command they refuse with "?", and an "FV"
// query they refuse with "?" as its first data byte.
inline constexpr std::uint8_t ACK_BYTE = '!';
inline constexpr std::uint8_t REFUSAL_BYTE = '?';

// The acknowledge byte decides whenever it comes, on the first read or on the late one: "!" is an
// acknowledge, any other byte a refusal. A late "?" is a refusal like a prompt one.
constexpr CommandResult AcknowledgeOf(std::uint8_t ack) {
    return ack == ACK_BYTE ? CMD_ACK : CMD_NAK;
}

// Each read of a byte gives up after this long on a quiet line.
inline constexpr std::uint32_t READ_TIMEOUT_MS = 100;
// The monitor needs this long after a frame before its answer is certain to be on the line.
inline constexpr std::uint32_t ANSWER_WAIT_MS = 200;
// A second chance for an acknowledge that had not come by the first read.
inline constexpr std::uint32_t LATE_ACK_WAIT_MS = 500;
// The drain before a frame gives up on a line that never falls quiet after this long. A real
// answer takes a few milliseconds at 19200 baud, so a second is far beyond any stale reply.
inline constexpr std::uint32_t DRAIN_LIMIT_MS = 1000;

// Before a frame after a complete answer, the answer-driven exchange checks the line stays quiet
// this long: five character times, in whole milliseconds.
inline constexpr std::uint32_t QUIET_CHECK_MS =
    (5 * BITS_PER_BYTE * 1000 + BAUD_RATE - 1) / BAUD_RATE;

// One exchange at its longest: the drain at its limit (and the read under way then), the answer
// wait, every data read and the acknowledge read waiting out their time, the late wait and read.
constexpr std::uint32_t TransactionLimitMs(unsigned dataBytes) {
    return DRAIN_LIMIT_MS + READ_TIMEOUT_MS + ANSWER_WAIT_MS + READ_TIMEOUT_MS * dataBytes +
           READ_TIMEOUT_MS + LATE_ACK_WAIT_MS + READ_TIMEOUT_MS;
}

// One exchange at its shortest, the answer's own bytes aside: the drain's last read finding the
// line quiet, the frame's nine bytes on the line, the answer wait.
constexpr double ExchangeFloorMs() {
    return READ_TIMEOUT_MS + WireTimeMs(FRAME_SIZE) + ANSWER_WAIT_MS;
}

// A monitor that refuses a switch gets it once more after this long.
inline constexpr std::uint32_t RESEND_WAIT_MS = 2000;
// The monitor takes this long to change its input before the signal can be read.
inline constexpr std::uint32_t SWITCH_WAIT_MS = 3000;

// After a reset the monitor looks for a signal; it is asked at most this often whether it has one.
inline constexpr int SIGNAL_POLLS = 5;
// Then it gets this long to settle before its state is read afresh.
inline constexpr std::uint32_t SETTLE_WAIT_MS = 2500;

// The shortest each operation can take on a monitor that answers at once: its exchanges at their
// floor and the waits it must keep. withUnitQuery: the unit-ID query at "0" comes first, as it
// does unless the unit is known.
// The unit-ID query at "0" as the console faces ask it: after a whole answer the line must stay
// quiet a while, else a second monitor answered too.
constexpr double UnitQueryFloorMs() {
    return ExchangeFloorMs() + QUIET_CHECK_MS;
}
// The four queries of a status.
constexpr double StatusFloorMs(bool withUnitQuery) {
    return withUnitQuery * UnitQueryFloorMs() + 3 * ExchangeFloorMs();
}
// A switch acknowledged at once, the wait and the signal's re-check.
constexpr double SwitchFloorMs(bool withUnitQuery) {
    return withUnitQuery * UnitQueryFloorMs() + 2 * ExchangeFloorMs() + SWITCH_WAIT_MS;
}
// The reset, one signal poll, the settling wait and the four queries read afresh; a known unit
// is not asked its ID again either.
constexpr double ResetFloorMs(bool withUnitQuery) {
    return 2 * withUnitQuery * UnitQueryFloorMs() + 5 * ExchangeFloorMs() + SETTLE_WAIT_MS;
}
// The diagnostic frames and their pauses.
constexpr double DiagnosticFloorMs(bool withUnitQuery) {
    double floor = withUnitQuery * UnitQueryFloorMs();
    for (const DiagnosticFrame& frame : DIAGNOSTIC_FRAMES)
        floor += ExchangeFloorMs() + frame.waitAfterMs;
    return floor;
}
// A probe of a unit ID where nothing answers: the data bytes' reads and the acknowledge's first
// read wait out their time, then the late wait and its read.
constexpr double SilentProbeMs() {
    return ExchangeFloorMs() + (QUERY_DATA_BYTES + 1) * READ_TIMEOUT_MS + LATE_ACK_WAIT_MS +
           READ_TIMEOUT_MS;
}

inline constexpr std::uint32_t COMMAND_LIMIT_MS = TransactionLimitMs(0);
inline constexpr std::uint32_t QUERY_LIMIT_MS = TransactionLimitMs(QUERY_DATA_BYTES);
inline constexpr std::uint32_t FIRMWARE_LIMIT_MS = TransactionLimitMs(FIRMWARE_DATA_BYTES);
// The four queries of a connect.
inline constexpr std::uint32_t STATUS_LIMIT_MS = 3 * QUERY_LIMIT_MS + FIRMWARE_LIMIT_MS;
// A refused switch, the wait, the resend acknowledged, the wait and the signal re-check.
inline constexpr std::uint32_t SWITCH_LIMIT_MS =
    COMMAND_LIMIT_MS + RESEND_WAIT_MS + COMMAND_LIMIT_MS + SWITCH_WAIT_MS + QUERY_LIMIT_MS;
// The reset, every poll, the settling wait and the four queries read afresh.
inline constexpr std::uint32_t RESET_LIMIT_MS =
    COMMAND_LIMIT_MS + SIGNAL_POLLS * QUERY_LIMIT_MS + SETTLE_WAIT_MS + STATUS_LIMIT_MS;
// The three frames and their pauses.
constexpr std::uint32_t DiagnosticLimitMs() {
    std::uint32_t limit = 0;
    for (const DiagnosticFrame& frame : DIAGNOSTIC_FRAMES)
        limit += COMMAND_LIMIT_MS + frame.waitAfterMs;
    return limit;
}
inline constexpr std::uint32_t DIAGNOSTIC_LIMIT_MS = DiagnosticLimitMs();

} // namespace protocol
