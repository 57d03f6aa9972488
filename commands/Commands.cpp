// Each command is the panel's operation of the same name, with the panel's frames, waits, resend
// and polls; only what it reports differs.
#include "commands/Commands.h"
#include "core/ProtocolRules.h"

namespace {

// Keeps the first failure: the one that says what went wrong.
void Fail(Outcome& outcome, CommandResult result, const std::string& step) {
    if (!outcome.ok())
        return;
    outcome.error = protocol::FailureOf(result);
    if (result == CMD_SEND_FAILED)
        outcome.message = "cannot write to the line (" + step + ")";
    else if (result == CMD_NAK)
        outcome.message = "the monitor refused " + step;
    else
        outcome.message = "no answer to " + step;
}

// The name of each query in a message, in the order of Query.
constexpr const char* QUERY_NAMES[] = {"the unit-ID query", "the source query", "the signal query",
                                       "the firmware query"};

// Several monitors answered at address "0": whatever they said is no monitor's, and nothing that
// would change a monitor may follow.
void FailSeveral(Outcome& outcome) {
    if (!outcome.ok())
        return;
    outcome.error = protocol::Failure::SeveralAnswers;
    outcome.message = protocol::FailureWords(outcome.error);
}

// Several answers at "0" explain whatever else went wrong; otherwise the first query that failed
// says what did.
void FailOn(const MonitorStatus& status, Outcome& outcome) {
    if (status.severalAnswers)
        FailSeveral(outcome);
    else if (!status.Answered())
        Fail(outcome, status.failure, QUERY_NAMES[static_cast<int>(status.failedQuery)]);
}

// The address of the monitor: the unit given, or the unit ID the monitor tells at address "0".
// false when it did not tell.
bool Address(const Request& request, MonitorProtocol& monitor, char& address, Outcome& outcome) {
    if (request.unit) {
        outcome.unit = *request.unit;
    } else {
        monitor.Ask(Query::UnitId, ANY_UNIT_ADDRESS, outcome);
        FailOn(outcome, outcome);
        // A unit ID read from a refusal is no monitor's word (a late answer whose bytes fell out
        // of step reads as one): nothing that changes a monitor goes to an address taken from it.
        if (outcome.ok() && outcome.refusal != CMD_ACK) {
            outcome.unit.reset();
            Fail(outcome, outcome.refusal, QUERY_NAMES[static_cast<int>(Query::UnitId)]);
        }
    }
    address = AddressOf(outcome.unit);
    return outcome.ok();
}

void Status(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    static_cast<MonitorStatus&>(outcome) = monitor.ReadStatus(request.unit);
    FailOn(outcome, outcome);
}

void Source(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = ANY_UNIT_ADDRESS;
    if (!Address(request, monitor, address, outcome))
        return;
    const SwitchOutcome result = monitor.SwitchSource(address, request.source);
    if (!result.Switched()) {
        const std::string step =
            std::string("the switch to ") + protocol::SourceName(request.source);
        // After a refusal the switch went out a second time; say what became of that one.
        if (result.first != CMD_NAK)
            Fail(outcome, result.result, step);
        else if (result.result == CMD_NAK)
            Fail(outcome, result.result, step + " twice");
        else if (result.result == CMD_SEND_FAILED)
            Fail(outcome, result.result, "the resend of " + step + " after a refusal");
        else
            Fail(outcome, result.result, step + " when it was sent again after a refusal");
        return;
    }
    outcome.source = request.source;
    // A switch at "0" that several monitors answered switched them all.
    if (result.signal.severalAnswers)
        FailSeveral(outcome);
    else if (Answered(result.signal.result))
        outcome.signal = result.signal.signal;
}

void Reset(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = ANY_UNIT_ADDRESS;
    if (!Address(request, monitor, address, outcome))
        return;
    // The values read afresh fill the outcome; one that fails stays unknown, but the reset the
    // monitor acknowledged is what the command reports.
    MonitorStatus reread;
    reread.unit = outcome.unit;
    const ResetOutcome result = monitor.RestoreDefaults(address, [&](Query query) {
        // A given unit is not asked at "0", where every monitor of a chain would answer.
        if (query == Query::UnitId && request.unit)
            return true;
        MonitorStatus asked;
        const CommandResult answer =
            monitor.Ask(query, address, query == Query::UnitId ? asked : reread);
        if (query == Query::UnitId) {
            // As in the panel: after no answer, later frames go to "0".
            address = AddressOf(asked.unit);
            if (asked.unit)
                reread.unit = asked.unit;
            reread.severalAnswers = asked.severalAnswers;
        }
        // What follows a frame that could not be written would fail the same way.
        return answer != CMD_SEND_FAILED && !reread.severalAnswers;
    });
    if (result.result != CMD_ACK) {
        Fail(outcome, result.result, "the reset");
        return;
    }
    static_cast<MonitorStatus&>(outcome) = reread;
    if (reread.severalAnswers)
        FailSeveral(outcome);
}

void Diagnostic(const Request& request, MonitorProtocol& monitor, Outcome& outcome) {
    char address = ANY_UNIT_ADDRESS;
    if (!Address(request, monitor, address, outcome))
        return;
    const DiagnosticOutcome result = monitor.StartDiagnostic(address);
    if (!result.Started()) {
        outcome.step = result.failedStep;
        Fail(outcome, result.result,
             "diagnostic frame " + std::to_string(result.failedStep) + " of 3");
    }
}

// A harmless query (the signal status) at each address; a monitor that answers it is there. A
// line that was cancelled fails the next write and ends the scan there.
void Scan(const Request& request, MonitorProtocol& monitor, Outcome& outcome,
          const std::function<void(int, const std::vector<int>&)>& tried) {
    for (int id = request.firstId; id <= request.lastId; ++id) {
        const CommandResult result = monitor.ProbeUnit(AddressOf(id));
        if (result == CMD_SEND_FAILED) {
            Fail(outcome, result, "the query of unit " + std::to_string(id));
            return;
        }
        if (result == CMD_ACK)
            outcome.units.push_back(id);
        if (tried)
            tried(id, outcome.units);
    }
    if (outcome.units.empty()) {
        outcome.error = protocol::Failure::NoAnswer;
        outcome.message = "no unit answered";
    }
}

} // namespace

const char* CommandName(Command command) {
    return COMMAND_NAMES[static_cast<int>(command)];
}

Outcome RunCommand(const Request& request, MonitorProtocol& monitor,
                   const std::function<void(int id, const std::vector<int>& units)>& tried) {
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
        Scan(request, monitor, outcome, tried);
        break;
    }
    return outcome;
}

void MarkInterrupted(Outcome& outcome) {
    outcome.error = protocol::Failure::Interrupted;
    outcome.message = "interrupted before it finished";
}
