// kelvanectl: the monitors from a script. Every target runs at once on a line of its own, through
// the protocol core the panel stands on, or through kelvaned's API when --server is given; the
// results print in the order the targets were given.
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "cli/Remote.h"
#include "cli/Run.h"
#include "cli/Usage.h"
#include "commands/Report.h"
#include "commands/TokenFile.h"
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return ::_isatty(::_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Request request;
    std::vector<line::Target> targets;
    Through through;
    std::string text;
    switch (ReadCommandLine(args, request, targets, through, text)) {
    case Parsed::Help:
    case Parsed::Version:
        std::printf("%s\n", text.c_str());
        return EXIT_ALL_DONE;
    case Parsed::UsageError:
        std::fprintf(stderr, "kelvanectl: %s\nTry 'kelvanectl --help' for more.\n", text.c_str());
        return EXIT_USAGE;
    case Parsed::Run:
        break;
    }

    // A token file that cannot be used fails every target, as a line that cannot be opened does:
    // nothing is sent.
    Server server{through.server, "", through.caFile, ""};
    if (through.Kelvaned() && !through.tokenFile.empty())
        ReadToken(through.tokenFile, server.token, server.problem);

    WatchForInterrupt();
    std::unique_ptr<ScanProgress> progress;
    if (ShowsScanProgress(request, IsTerminal(stdout), IsTerminal(stderr)))
        progress = std::make_unique<ScanProgress>(stderr, targets.size(),
                                                  request.lastId - request.firstId + 1);

    // Each target's reports: one for a line or a monitor, one per monitor of a group.
    const size_t count = request.targets.size();
    std::vector<std::vector<Reported>> results(count);
    std::vector<std::thread> workers(count);
    for (size_t i = 0; i < count; ++i) {
        auto tried = [&progress, i](int, const std::vector<int>& units) {
            if (progress)
                progress->Tried(i, units);
        };
        try {
            workers[i] = std::thread([&, i, tried] {
                results[i] =
                    through.Kelvaned()
                        ? RunThroughServer(request, server, request.targets[i], InterruptCancel())
                        : std::vector<Reported>{
                              {targets[i].text,
                               RunTarget(request, targets[i], InterruptCancel(), tried)}};
            });
        } catch (const std::system_error& e) {
            results[i] = {{request.targets[i], ThreadFailed(e)}};
        }
    }

    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < count; ++i) {
        if (workers[i].joinable())
            workers[i].join();
        for (const Reported& reported : results[i]) {
            outcomes.push_back(reported.outcome);
            const std::string report =
                request.json ? JsonReport(reported.target, request.command, reported.outcome)
                             : TextReport(reported.target, request.command, reported.outcome);
            if (progress) {
                progress->PrintResult(stdout, report);
            } else {
                std::printf("%s\n", report.c_str());
                std::fflush(stdout);
            }
        }
    }
    if (Interrupted())
        std::fputs("kelvanectl: interrupted\n", stderr);
    return ExitStatus(outcomes, Interrupted());
}
