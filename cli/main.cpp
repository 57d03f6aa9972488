// kelvanectl: the monitors from a script. Every target runs at once on a line of its own, through
// the protocol core the panel stands on; the results print in the order the targets were given.
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "cli/Run.h"
#include "cli/Usage.h"
#include "commands/Report.h"
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
    std::string text;
    switch (ReadCommandLine(args, request, targets, text)) {
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

    WatchForInterrupt();
    std::unique_ptr<ScanProgress> progress;
    if (ShowsScanProgress(request, IsTerminal(stdout), IsTerminal(stderr)))
        progress = std::make_unique<ScanProgress>(stderr, targets.size(),
                                                  request.lastId - request.firstId + 1);

    std::vector<Outcome> outcomes(targets.size());
    std::vector<std::thread> workers(targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        auto tried = [&progress, i](int, const std::vector<int>& units) {
            if (progress)
                progress->Tried(i, units);
        };
        try {
            workers[i] = std::thread([&, i, tried] {
                outcomes[i] = RunTarget(request, targets[i], InterruptCancel(), tried);
            });
        } catch (const std::system_error& e) {
            outcomes[i] = ThreadFailed(e);
        }
    }

    for (size_t i = 0; i < targets.size(); ++i) {
        if (workers[i].joinable())
            workers[i].join();
        const std::string report = request.json
                                       ? JsonReport(targets[i].text, request.command, outcomes[i])
                                       : TextReport(targets[i].text, request.command, outcomes[i]);
        if (progress) {
            progress->PrintResult(stdout, report);
        } else {
            std::printf("%s\n", report.c_str());
            std::fflush(stdout);
        }
    }
    if (Interrupted())
        std::fputs("kelvanectl: interrupted\n", stderr);
    return ExitStatus(outcomes, Interrupted());
}
