// The monitor protocol without a window: one exchange, the four queries with their answers read,
// and the steps of the source switch, the default setting and the diagnostic mode. It reports
// what happened as values and shows nothing; the panel and the command line decide what to say.
//   Exchange           what one exchange brought: its result and the data bytes
//   Query, RESET_REREADS  the four queries, and the order a reset reads them afresh in
//   ...Reading         what the answer to each query said
//   SwitchOutcome, ResetOutcome, DiagnosticOutcome  what the longer operations came to
//   MonitorProtocol    the protocol over one line; one object per line, nothing shared
// Standard C++ only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include "protocol/CommandFrame.h"
#include "protocol/MonitorLine.h"
#include "protocol/ProtocolRules.h"

struct Exchange {
    CommandResult result = CMD_LINK_ERROR;
    std::uint8_t data[6] = {}; // the data bytes read; 0 where none came
    unsigned dataRead = 0;     // how many data bytes the exchange read: 0, 3 or 6
    unsigned received = 0;     // how many bytes came while it read, data and acknowledge
};

// The queries take an answer whatever its acknowledge byte: a NAK reads like an ACK.
constexpr bool Answered(CommandResult result) {
    return result == CMD_ACK || result == CMD_NAK;
}

enum class Query { UnitId, Source, Signal, Firmware };
// After an acknowledged reset the monitor's state is read afresh in this order.
inline constexpr Query RESET_REREADS[] = {Query::Source, Query::Signal, Query::UnitId,
                                          Query::Firmware};

struct UnitIdReading {
    CommandResult result = CMD_LINK_ERROR;
    int unitId = 0; // the number the data bytes spell; 0 when the monitor did not answer
};

struct SourceReading {
    CommandResult result = CMD_LINK_ERROR;
    int source = -1; // 0 HDMI 1 to 3 VGA; -1 unanswered, or a code that is none of the four
};

struct SignalReading {
    CommandResult result = CMD_LINK_ERROR;
    bool signal = false; // the data bytes are "SOK", whatever the acknowledge
};

struct FirmwareReading {
    CommandResult result = CMD_LINK_ERROR; // CMD_NAK: the monitor refused the query
    std::string version;                   // data bytes 2 to 5 of an acknowledged answer
};

struct SwitchOutcome {
    CommandResult first = CMD_LINK_ERROR;  // the answer to the switch frame
    CommandResult result = CMD_LINK_ERROR; // what the switch came to: after a refusal, the resend's
    SignalReading signal;                  // the re-check after an acknowledged switch
    bool Switched() const { return result == CMD_ACK; }
};

struct ResetOutcome {
    CommandResult result = CMD_LINK_ERROR; // the answer to the reset frame
    int polls = 0;                         // signal polls sent
    bool signal = false;                   // the last poll found "SOK"
};

struct DiagnosticOutcome {
    int failedStep = 0;             // 1 to 3: the frame that was not acknowledged; 0 all were
    CommandResult result = CMD_ACK; // that frame's result
    bool Started() const { return failedStep == 0; }
};

class MonitorProtocol {
public:
    MonitorProtocol(MonitorLine& line, ProtocolClock& clock) : m_line(line), m_clock(clock) {}
    virtual ~MonitorProtocol() = default;
    MonitorProtocol(const MonitorProtocol&) = delete;
    MonitorProtocol& operator=(const MonitorProtocol&) = delete;

    // One exchange: drains the line, writes the nine bytes, waits, reads the data bytes (three
    // when readData, six for an "FV" command) and the acknowledge. A face that wants every frame
    // to pass a door of its own overrides this and calls it from there.
    virtual Exchange Transact(const CommandFrame& frame, bool readData);

    // The unit-ID query, always at address "0": every monitor answers it there.
    UnitIdReading ReadUnitId();
    SourceReading ReadSource(char address);
    SignalReading ReadSignal(char address);
    FirmwareReading ReadFirmware(char address);

    // Switches to source 0 HDMI 1 to 3 VGA; a refusal gets the same frame once more after
    // RESEND_WAIT_MS. Once acknowledged, SWITCH_WAIT_MS later, the signal is read again.
    SwitchOutcome SwitchSource(char address, int source);

    // Restores the monitor's defaults; once acknowledged, polls the signal until "SOK" (at most
    // SIGNAL_POLLS times, whatever the polls' results), waits SETTLE_WAIT_MS and hands each query
    // of RESET_REREADS in turn to reread, which asks it and answers false to stop there.
    ResetOutcome RestoreDefaults(char address, const std::function<bool(Query)>& reread);

    // Sends the diagnostic frames with their pauses, stopping at the first one not acknowledged.
    DiagnosticOutcome StartDiagnostic(char address);

private:
    void ReadData(Exchange& exchange, unsigned count);
    CommandResult ReadAcknowledge(Exchange& exchange);

    MonitorLine& m_line;
    ProtocolClock& m_clock;
};
