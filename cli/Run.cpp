#include "cli/Run.h"
#include <memory>
#include "cli/HeldLine.h"
#include "cli/Interrupt.h"
#include "line/Line.h"

Outcome RunTarget(const Request& request, const line::Target& target, line::Cancel& cancel,
                  const std::function<void(int id, const std::vector<int>& units)>& tried) {
    Outcome outcome;
    std::string reason;
    const std::unique_ptr<line::Line> opened = line::Open(target, reason, &cancel);
    if (!opened) {
        outcome.error = protocol::Failure::Open;
        outcome.message = reason;
        // A connect the cancel ended did not fail on its own.
        if (cancel.IsSet())
            MarkInterrupted(outcome);
        else if (LineInUse(reason))
            outcome.message += HeldByKelvaned(target);
        return outcome;
    }
    line::CancellableClock clock(cancel);
    MonitorProtocol monitor(*opened, clock, request.timing, AnswersAtZero::Checked);
    outcome = RunCommand(request, monitor, tried);
    // Asked before the line closes: its close looks at the cancel too.
    if (opened->WasCut() || clock.WasCut())
        MarkInterrupted(outcome);
    else if (target.kind == line::Target::Kind::Tcp && NothingAnswered(request, outcome))
        outcome.message += HeldByKelvaned(target);
    return outcome;
}

bool LineInUse(const std::string& reason) {
    return reason.find(line::IN_USE) != std::string::npos;
}

bool NothingAnswered(const Request& request, const Outcome& outcome) {
    // A unit given is known without an answer.
    return outcome.error == protocol::Failure::NoAnswer && !outcome.source && !outcome.signal &&
           !outcome.firmware && (request.unit || !outcome.unit);
}

Outcome ThreadFailed(const std::system_error& error) {
    Outcome outcome;
    outcome.error = protocol::Failure::Open;
    outcome.message = std::string("cannot start a thread for this line (") + error.what() +
                      "): too many targets for this system's limits?";
    return outcome;
}

int ExitStatus(const std::vector<Outcome>& outcomes, bool interrupted) {
    if (interrupted)
        return EXIT_INTERRUPTED;
    int status = EXIT_ALL_DONE;
    for (const Outcome& outcome : outcomes) {
        if (outcome.error == protocol::Failure::Open)
            status = EXIT_CANNOT_OPEN;
        else if (!outcome.ok() && status == EXIT_ALL_DONE)
            status = EXIT_MONITOR_FAILED;
    }
    return status;
}
