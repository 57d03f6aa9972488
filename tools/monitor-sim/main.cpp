// monitor-sim: a simulated display monitor that answers the control panel's serial frames.
//
// Usage: monitor-sim --port COMn | --listen [HOST:]PORTS [switches]   (--help lists them all)
//
// Log format, one line per event, written (and so flushed) as it happens, ending in LF:
//     <ms> <KIND> <details>
// <ms> is GetTickCount64() at the time of writing, comparable across processes on one machine.
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
// Exit codes: 0 stopped (--drop-after, --exit-after-ms, Ctrl+C), 1 port/log/event error,
// 2 bad switches.

#include <windows.h>

#include "Console.h"
#include "Fleet.h"
#include "Log.h"
#include "Options.h"
#include "Simulator.h"

#include <exception>
#include <string>
#include <vector>

namespace {

// Ctrl+C and Ctrl+Break let the loop log its EXIT line; everything else ends us the usual way.
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        monitor_sim::requestStop();
        return TRUE;
    }
    return FALSE;
}

std::wstring environmentVariable(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

int runSimulator(int argc, wchar_t** argv) {
    using namespace monitor_sim;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!parseOptions(args, options, error, environmentVariable(L"KELVANE_CABLE"))) {
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
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    return fleet.run();
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return runSimulator(argc, argv);
    } catch (const std::exception& e) {
        monitor_sim::writeStderr(std::string("monitor-sim: internal error: ") + e.what() + "\n");
    } catch (...) {
        monitor_sim::writeStderr("monitor-sim: internal error\n");
    }
    return 1;
}
