// Each command is the panel's operation of the same name, with the panel's frames, waits, resend
// and polls; only what it reports differs.
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "protocol/ProtocolRules.h"

namespace {

const char* ErrorOf(CommandResult result) {
    switch (result) {
    case CMD_NAK:
        return "refused";
    case CMD_SEND_FAILED:
        return "write";
    case CMD_ACK:
        return "";
    default:
        return "no-answer";
    }
}

// Keeps the first failure: the one that says what went wrong.
void Fail(Outcome& outcome, CommandResult result, const std::string& step) {
    if (!outcome.error.empty())
        return;
    outcome.error = ErrorOf(result);
    if (result == CMD_SEND_FAILED)
        outcome.message = "cannot write to the line (" + step + ")";
    else if (result == CMD_NAK)
        outcome.message = "the monitor refused " + step;
    else
        outcome.message = "no answer to " + step;
}

// One query of the monitor's state into the outcome. false when the line can no longer be
// written: what follows would fail the same way.
bool Read(Query query, MonitorProtocol& monitor, char& address, Outcome& outcome) {
    CommandResult result = CMD_ACK;
    switch (query) {
    case Query::UnitId: {
        const UnitIdReading reading = monitor.ReadUnitId();
        result = reading.result;
        // As in the panel: after no answer, later frames go to address "0".
        address = AddressOf(reading.unitId);
        if (Answered(result))
            outcome.unit = reading.unitId;
        break;
    }
    case Query::Source: {
        const SourceReading reading = monitor.ReadSource(address);
        result = reading.result;
        if (Answered(result) && reading.source >= 0)
            outcome.source = reading.source;
        break;
    }
    case Query::Signal: {
        const SignalReading reading = monitor.ReadSignal(address);
        result = reading.result;
        if (Answered(result))
            outcome.signal = reading.signal;
        break;
    }
    case Query::Firmware: {
        const FirmwareReading reading = monitor.ReadFirmware(address);
        result = reading.result;
        if (result == CMD_ACK)
            outcome.firmware = reading.version;
        // A monitor without the query refuses it: the firmware is unknown, nothing failed.
        outcome.firmwareRefused = result == CMD_NAK;
        if (result == CMD_NAK)
            return true;
        break;
    }
    }
    if (!Answered(result)) {
        const char* names[] = {"the unit-ID query", "the source query", "the signal query",
                               "the firmware query"};
        Fail(outcome, result, names[static_cast<int>(query)]);
    }
    return result != CMD_SEND_FAILED;
}

// The address of the monitor: the unit given, or the unit ID the monitor tells at address "0".
// false when it did not tell.
bool Address(const Request& request, MonitorProtocol& monitor, char& address, Outcome& outcome) {
    if (request.unit) {
        outcome.unit = *request.unit;
        address = AddressOf(*request.unit);
        return true;
    }
    Read(Query::UnitId, monitor, address, outcome);
    return outcome.ok();
}

void Status(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = '0';
    if (!Address(request, monitor, address, outcome))
        return;
    for (Query query : {Query::Source, Query::Signal, Query::Firmware})
        if (!Read(query, monitor, address, outcome))
            return;
}

void Source(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = '0';
    if (!Address(request, monitor, address, outcome))
        return;
    const SwitchOutcome result = monitor.SwitchSource(address, request.source);
    if (!result.Switched()) {
        // After a refusal the switch went out a second time.
        Fail(outcome, result.result,
             std::string("the switch to ") + SourceName(request.source) +
                 (result.first == CMD_NAK ? " twice" : ""));
        return;
    }
    outcome.source = request.source;
    if (Answered(result.signal.result))
        outcome.signal = result.signal.signal;
}

void Reset(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = '0';
    if (!Address(request, monitor, address, outcome))
        return;
    // The values read afresh fill the outcome; one that fails stays unknown, but the reset the
    // monitor acknowledged is what the command reports.
    Outcome reread;
    reread.unit = outcome.unit;
    const ResetOutcome result = monitor.RestoreDefaults(address, [&](Query query) {
        // A given unit is not asked at "0", where every monitor of a chain would answer.
        if (query == Query::UnitId && request.unit)
            return true;
        return Read(query, monitor, address, reread);
    });
    if (result.result != CMD_ACK) {
        Fail(outcome, result.result, "the reset");
        return;
    }
    outcome.unit = reread.unit;
    outcome.source = reread.source;
    outcome.signal = reread.signal;
    outcome.firmware = reread.firmware;
    outcome.firmwareRefused = reread.firmwareRefused;
}

void Diagnostic(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = '0';
    if (!Address(request, monitor, address, outcome))
        return;
    const DiagnosticOutcome result = monitor.StartDiagnostic(address);
    if (!result.Started()) {
        outcome.step = result.failedStep;
        Fail(outcome, result.result,
             "diagnostic frame " + std::to_string(result.failedStep) + " of 3");
    }
}

// A harmless query (the signal status) at each address; a monitor that answers it is there.
void Scan(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    for (int id = request.firstId; id <= request.lastId && !Interrupted(); ++id) {
        const CommandResult result = monitor.ReadSignal(AddressOf(id)).result;
        if (result == CMD_SEND_FAILED) {
            Fail(outcome, result, "the query of unit " + std::to_string(id));
            return;
        }
        if (Answered(result))
            outcome.units.push_back(id);
    }
    if (outcome.units.empty()) {
        outcome.error = "no-answer";
        outcome.message = "no unit answered";
    }
}

} // namespace

const char* CommandName(Command command) {
    return COMMAND_NAMES[static_cast<int>(command)];
}

const char* SourceName(int source) {
    return source >= 0 && source < protocol::SOURCE_COUNT ? SOURCE_NAMES[source] : "?";
}

Outcome RunCommand(const Request& request, MonitorProtocol& monitor) {
    Outcome outcome;
    switch (request.command) {
    case Command::Status:
        Status(request, monitor, outcome);
        break;
    case Command::Source:
        Source(request, monitor, outcome);
        break;
    case Command::Reset:
        Reset(request, monitor, outcome);
        break;
    case Command::Diagnostic:
        Diagnostic(request, monitor, outcome);
        break;
    case Command::Scan:
        Scan(request, monitor, outcome);
        break;
    }
    return outcome;
}
