// The simulated monitor and the panel program as processes the end-to-end tests start and stop.
//   CablePorts        the COM names of the two ends of the virtual null-modem cable
//   SimulatorProcess  monitor-sim.exe on the monitor's end, with its log
//   PanelProcess      Kelvane.exe and its panel window, started by the test or by OLE for a client
//   LogEvent, Cable   the null-modem cable: what it saw of the two ends, and pulling it out
#pragma once

#include <windows.h>
#include <string>
#include <vector>
#include "Cable.h"

struct CablePorts {
    std::string panel;   // KELVANE_PANEL_PORT, set by scripts/test.sh (COM1)
    std::string monitor; // KELVANE_MONITOR_PORT (COM16)
};

// The cable's ends, or empty names when the tests run without scripts/test.sh's cable; no test
// may then open a port, since an unmapped COM name can be a real serial port.
CablePorts GetCablePorts();

// What a file that another program may still be writing holds so far; empty when it is not there.
std::string ReadSharedFile(const std::wstring& path);

// The folder of the running test executable, where Kelvane.exe and monitor-sim.exe stand too.
std::wstring ProgramFolder();

// One line of the simulator's or the cable's log: "<ms> <kind> <details>".
struct LogEvent {
    ULONGLONG time;
    std::string kind;
    std::string details;
};

class SimulatorProcess {
public:
    // Starts the simulator on the monitor's end with the given switches and waits until it
    // listens; Running() tells whether it does. Its log goes to a temporary file that goes with
    // it, or to keepLogAt, which stays.
    explicit SimulatorProcess(const std::wstring& switches, const std::wstring& keepLogAt = L"");
    // Stops the simulator, which releases its port.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    bool Running() const { return m_ready; }
    // Whether the process is still there (it ends by itself only on an error or a switch).
    bool Alive() const;
    const std::wstring& LogPath() const { return m_logPath; }

    // The time of an event is GetTickCount64 when the simulator logged it.
    using Event = LogEvent;
    // What the simulator has logged so far.
    std::vector<Event> Log() const;
    // The frames it received, in order.
    std::vector<std::string> Frames() const;

private:
    PROCESS_INFORMATION m_process{};
    std::wstring m_logPath;
    bool m_keepLog = false;
    bool m_ready = false;
};

// The processes that show a panel at the moment.
std::vector<DWORD> PanelsShowing();

class PanelProcess {
public:
    // Starts Kelvane.exe with the command line and waits (up to 15 s) for its panel window.
    explicit PanelProcess(const std::wstring& arguments = L"");

    // A program that OLE started for a client: the one that shows a panel and was not among the
    // panels showing before the client's request.
    struct StartedForAClient {
        std::vector<DWORD> panelsBefore; // PanelsShowing() before the request
    };
    // Finds that program, waiting (up to 15 s) for its panel; Window() is null when none shows.
    explicit PanelProcess(const StartedForAClient& started);
    // Ends the program if a test left it running.
    ~PanelProcess();
    PanelProcess(const PanelProcess&) = delete;
    PanelProcess& operator=(const PanelProcess&) = delete;

    HWND Window() const { return m_window; }
    // Waits for the program to end; false when it is still running after the time.
    bool WaitForExit(DWORD milliseconds);
    DWORD ExitCode() const;
    DWORD ProcessId() const { return m_process.dwProcessId; }
    // The serial ports the program holds open, by the names Wine gives them: "\Device\SerialN"
    // for a COM name it maps to a device of its own, the device's path ("\??\Z:\dev\pts\N")
    // for one mapped to a pty. Empty when the program is gone.
    std::vector<std::wstring> OpenPorts() const;

private:
    PROCESS_INFORMATION m_process{};
    HWND m_window = nullptr;
};

// The cable that scripts/test.sh lays (KELVANE_CABLE, its folder as a Windows path), through the
// simulator's own monitor_sim::Cable. It logs when a program opens or closes an end ("open
// panel", "close monitor"...), and pulling it out makes every open handle fail and both COM names
// unopenable until it is put back.
namespace Cable {

// What the cable has logged so far; empty without the cable.
std::vector<monitor_sim::CableEvent> Events();
// How many times it logged the event ("close", "panel"...).
size_t Count(const std::string& kind, const std::string& details);
// Pulls the cable out or puts it back, and waits (up to 5 s) until it has; false if it did not.
bool Pull();
bool Plug();

} // namespace Cable
