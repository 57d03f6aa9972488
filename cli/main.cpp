// kelvanectl: the monitors from a script. Every target runs at once on a line of its own, through
// the protocol core the panel stands on; the results print in the order the targets were given.
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include "commands/Commands.h"
#include "cli/Interrupt.h"
#include "commands/Report.h"
#include "cli/Usage.h"
#include "line/Line.h"
#include "res/Version.h"

namespace {

constexpr int EXIT_ALL_DONE = 0;
constexpr int EXIT_MONITOR_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CANNOT_OPEN = 3;
constexpr int EXIT_INTERRUPTED = 130;

// Opens the target's line, runs the command on it and lets the line go again.
Outcome Work(const Request& request, const line::Target& target) {
    Outcome outcome;
    std::string reason;
    std::unique_ptr<line::Line> opened = line::Open(target, reason, &InterruptCancel());
    if (!opened) {
        outcome.error = "open";
        outcome.message = reason;
        return outcome;
    }
    line::CancellableClock clock(InterruptCancel());
    MonitorProtocol monitor(*opened, clock);
    return RunCommand(request, monitor);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Request request;
    std::vector<line::Target> targets;
    std::string error;
    switch (ReadCommandLine(args, request, targets, error)) {
    case Parsed::Help:
        std::fputs(USAGE, stdout);
        return EXIT_ALL_DONE;
    case Parsed::Version:
        std::puts(KELVANE_VERSION_TEXT);
        return EXIT_ALL_DONE;
    case Parsed::UsageError:
        std::fprintf(stderr, "kelvanectl: %s\n\n%s", error.c_str(), USAGE);
        return EXIT_USAGE;
    case Parsed::Run:
        break;
    }

    WatchForInterrupt();
    std::vector<Outcome> outcomes(targets.size());
    std::vector<std::thread> workers;
    for (size_t i = 0; i < targets.size(); ++i)
        workers.emplace_back([&, i] { outcomes[i] = Work(request, targets[i]); });

    int status = EXIT_ALL_DONE;
    for (size_t i = 0; i < targets.size(); ++i) {
        workers[i].join();
        if (Interrupted())
            continue;
        const Outcome& outcome = outcomes[i];
        const std::string report = request.json
                                       ? JsonReport(targets[i].text, request.command, outcome)
                                       : TextReport(targets[i].text, request.command, outcome);
        std::fprintf(stdout, "%s\n", report.c_str());
        std::fflush(stdout);
        if (outcome.error == "open")
            status = EXIT_CANNOT_OPEN;
        else if (!outcome.ok() && status == EXIT_ALL_DONE)
            status = EXIT_MONITOR_FAILED;
    }
    if (Interrupted()) {
        std::fputs("kelvanectl: interrupted\n", stderr);
        return EXIT_INTERRUPTED;
    }
    return status;
}
