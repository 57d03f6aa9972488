// The monitor protocol without a window: one exchange, the four queries with their answers read,
// and the steps of the source switch, the default setting and the diagnostic mode. It reports
// what happened as values and shows nothing; the panel and the command line decide what to say.
//   Exchange           what one exchange brought: its result and the data bytes
//   AnswersAtZero      whether an exchange at address "0" checks it heard one monitor alone
//   Query, RESET_REREADS  the four queries, and the order a reset reads them afresh in
//   ...Reading         what the answer to each query said
//   SwitchOutcome, ResetOutcome, DiagnosticOutcome  what the longer operations came to
//   MonitorStatus, CONNECT_QUERIES  what the connect's four queries read of a monitor
//   Timing             how a line's exchanges wait for the answer
//   MonitorProtocol    the protocol over one line; one object per line, nothing shared
// Standard C++ only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include "core/Frame.h"
#include "core/MonitorLine.h"
#include "core/ProtocolRules.h"

struct Exchange {
    CommandResult result = CMD_LINK_ERROR;
    std::uint8_t data[6] = {}; // the data bytes read; 0 where none came
    unsigned dataRead = 0;     // how many data bytes the exchange read: 0, 3 or 6
    unsigned received = 0;     // how many bytes came while it read, data and acknowledge
    std::uint8_t ack = 0;      // the byte read as the acknowledge; 0 when none came
    // Checked, at address "0": the bytes were more than one answer holds, or cannot be one
    // monitor's answer. Whatever they seem to say is no monitor's value.
    bool severalAnswers = false;
};

// Every monitor of a daisy chain answers a frame at address "0", all at once, and their answers
// garble each other. Trusted: the exchange reads such an answer as the panel always has. Checked:
// it also judges whether the bytes can be one monitor's answer (the acknowledge where it belongs,
// data bytes the query can answer) and, after a whole answer, whether a byte more follows within
// QUIET_CHECK_MS; the console programs check, since a chain without a unit given is a mistake
// they must not carry on with.
enum class AnswersAtZero { Trusted, Checked };

// The queries take an answer whatever its acknowledge byte: a NAK reads like an ACK.
constexpr bool Answered(CommandResult result) {
    return result == CMD_ACK || result == CMD_NAK;
}

enum class Query { UnitId, Source, Signal, Firmware };
// A connect asks these in this order: the unit ID at address "0", then the rest at the unit's.
inline constexpr Query CONNECT_QUERIES[] = {Query::UnitId, Query::Source, Query::Signal,
                                            Query::Firmware};
// The command each query sends.
constexpr const protocol::CommandCode& CodeOf(Query query) {
    switch (query) {
    case Query::UnitId:
        return protocol::UNIT_ID_QUERY;
    case Query::Source:
        return protocol::SOURCE_QUERY;
    case Query::Signal:
        return protocol::SIGNAL_QUERY;
    default:
        return protocol::FIRMWARE_QUERY;
    }
}
// After an acknowledged reset the monitor's state is read afresh in this order.
inline constexpr Query RESET_REREADS[] = {Query::Source, Query::Signal, Query::UnitId,
                                          Query::Firmware};

struct UnitIdReading {
    CommandResult result = CMD_LINK_ERROR;
    int unitId = 0; // the number the data bytes spell; 0 when the monitor did not answer
    bool severalAnswers = false; // as Exchange's: the number is no monitor's
};

struct SourceReading {
    CommandResult result = CMD_LINK_ERROR;
    int source = -1; // 0 HDMI 1 to 3 VGA; -1 unanswered, or a code that is none of the four
    bool severalAnswers = false;
};

struct SignalReading {
    CommandResult result = CMD_LINK_ERROR;
    bool signal = false; // the data bytes are "SOK", whatever the acknowledge
    bool severalAnswers = false;
};

struct FirmwareReading {
    CommandResult result = CMD_LINK_ERROR; // CMD_NAK: the monitor refused the query
    std::string version;                   // data bytes 2 to 5 of an acknowledged answer
    bool severalAnswers = false;
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

// What the connect's queries read of a monitor. A value is unset when its query was not answered,
// was not asked, or named nothing known (a source code that is none of the four).
struct MonitorStatus {
    std::optional<int> unit;
    std::optional<int> source;  // 0 HDMI 1 to 3 VGA
    std::optional<bool> signal; // the data bytes were "SOK"
    std::optional<std::string> firmware;
    bool firmwareRefused = false; // monitors without the firmware query refuse it
    // The first query that went unanswered (CMD_LINK_ERROR) or could not be written
    // (CMD_SEND_FAILED); failure stays CMD_ACK when every query was answered.
    Query failedQuery = Query::UnitId;
    CommandResult failure = CMD_ACK;
    // The first query other than the firmware's that the monitor answered with a refusal; its
    // data bytes are read all the same, as the panel reads them. refusal stays CMD_ACK without one.
    Query refusedQuery = Query::UnitId;
    CommandResult refusal = CMD_ACK;
    // A query met the answers of several monitors at address "0" (AnswersAtZero::Checked): its
    // value stays unset, and the reading stops there.
    bool severalAnswers = false;
    // Every query asked was answered, each by one monitor.
    bool Answered() const { return failure == CMD_ACK && !severalAnswers; }
};

// Paced: the panel's fixed waits, which are upper bounds on when an answer is certain to be on
// the line. AnswerDriven: reads the answer as its bytes arrive, and never waits longer than the
// paced exchange would at any step; every answer reads alike under both.
enum class Timing { Paced, AnswerDriven };

// The protocol over one line as it was opened: a line opened again gets a new object.
class MonitorProtocol {
public:
    MonitorProtocol(MonitorLine& line, ProtocolClock& clock, Timing timing = Timing::Paced,
                    AnswersAtZero atZero = AnswersAtZero::Trusted)
        : m_line(line), m_clock(clock), m_timing(timing), m_atZero(atZero) {}
    virtual ~MonitorProtocol() = default;
    Timing GetTiming() const { return m_timing; }
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

    // Asks one query of the connect at the address into status (the unit ID always at "0"): the
    // value read, or the failure or refusal it met.
    CommandResult Ask(Query query, char address, MonitorStatus& status);

    // The connect's queries: the unit ID at "0" when unit is not given (on a daisy chain every
    // monitor would answer there), then source, signal and firmware at the unit's address. Stops
    // where the unit ID went unanswered or a frame could not be written; with stopAtFailure also
    // at the first query that went unanswered. Stops at a query that met several answers.
    MonitorStatus ReadStatus(std::optional<int> unit, bool stopAtFailure = false);

    // Whether a unit answers at the address: the signal query's three data bytes come, followed by
    // an acknowledge or a refusal. CMD_ACK when one does, CMD_SEND_FAILED when the frame could not
    // be written, CMD_LINK_ERROR for silence, a partial answer, or any other byte where the
    // acknowledge belongs: an adapter that echoes the frame, or noise.
    CommandResult ProbeUnit(char address);

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
    void DrainBeforeFrame();
    void WaitForAnswer();
    void WaitForLateAnswer();
    void AwaitAnswer(std::size_t count);
    MonitorLine::ReadResult ReadAnswerByte(std::uint8_t& byte);
    void ReadData(Exchange& exchange, unsigned count);
    CommandResult ReadAcknowledge(Exchange& exchange);
    bool SeveralAnswers(const CommandFrame& frame, const Exchange& exchange);

    MonitorLine& m_line;
    ProtocolClock& m_clock;
    Timing m_timing;
    AnswersAtZero m_atZero;
    // Answer-driven: whether the last exchange read its whole answer (a line just opened counts
    // as one that did), and when the paced exchange would start its next read.
    bool m_answerComplete = true;
    std::uint64_t m_readFrom = 0;
};
