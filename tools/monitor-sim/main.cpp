// monitor-sim: a simulated display monitor that answers the control panel's serial frames.
//
// Usage: monitor-sim --port COMn | --listen [HOST:]PORTS [switches]   (--help lists them all)
//
// Log format, one line per event, written (and so flushed) as it happens, ending in LF:
//     <ms> <KIND> <details>
// <ms> is GetTickCount64() at the time of writing (on Linux, CLOCK_MONOTONIC's milliseconds),
// comparable across processes on one machine.
// With several --listen ports, the details of a line about one port start with "[PORT] ".
// Line bytes are shown as they are for '!'..'~' except '<', every other byte as <xx> in hex.
// Kinds: "listening" (first lines, "listening on COMn" or "listening on tcp:HOST:PORT"), CONFIG,
// FAULTS, READY, CLIENT (--listen: a client came or went), NOISE, RX (a whole frame received,
// "RX @@1SIG000"), UNIT (on a chain: who answers), TX (bytes written, exactly, "TX SOK!"),
// NOTE, IGNORE (a frame left unanswered), DROP (junk bytes), STALE (partial frame dropped),
// FAULT (--random: what the draw did to a frame), CABLE (pulled out, put back), LOST (bytes that
// went with a pulled cable), ERROR, EXIT.
// Noise bytes from --noise are not logged one by one.
//
// Exit codes: 0 stopped (--drop-after, --exit-after-ms, Ctrl+C; SIGTERM on Linux), 1 port/log/event
// error, 2 bad switches.
// The Linux build serves device servers alone; COM ports, the test cable and the ready event are
// the Windows build's.

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <cstdlib>
#endif

#include "Console.h"
#include "Fleet.h"
#include "Log.h"
#include "Options.h"
#include "Simulator.h"

#include <exception>
#include <string>
#include <vector>

namespace {

#ifdef _WIN32
// Ctrl+C and Ctrl+Break let the loop log its EXIT line; everything else ends us the usual way.
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        monitor_sim::requestStop();
        return TRUE;
    }
    return FALSE;
}

void catchStopRequests() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

std::wstring cableFromEnvironment() {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"KELVANE_CABLE", value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}
#else
// Ctrl+C and SIGTERM let the loop log its EXIT line.
void onStopSignal(int) {
    monitor_sim::requestStop();
}

void catchStopRequests() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

std::wstring cableFromEnvironment() {
    return {};
}
#endif

int runSimulator(const std::vector<std::wstring>& args) {
    using namespace monitor_sim;
    Options options;
    std::string error;
    if (!parseOptions(args, options, error, cableFromEnvironment())) {
        writeStderr("monitor-sim: " + error + "\n\n" + usageText());
        return 2;
    }
    if (options.help) {
        writeStdout(usageText());
        return 0;
    }

    Log log;
    if (!options.logFile.empty() && !log.openFile(options.logFile, error)) {
        writeStderr("monitor-sim: " + error + "\n");
        return 1;
    }
    Fleet fleet(options, log);
    if (!fleet.open(error)) {
        writeStderr("monitor-sim: " + error + "\n");
        log.line("ERROR", error);
        return 1;
    }
    catchStopRequests();
    return fleet.run();
}

int guarded(const std::vector<std::wstring>& args) {
    try {
        return runSimulator(args);
    } catch (const std::exception& e) {
        monitor_sim::writeStderr(std::string("monitor-sim: internal error: ") + e.what() + "\n");
    } catch (...) {
        monitor_sim::writeStderr("monitor-sim: internal error\n");
    }
    return 1;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return guarded(std::vector<std::wstring>(argv + 1, argv + argc));
}
#else
int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(monitor_sim::toUtf16(argv[i]));
    return guarded(args);
}
#endif
