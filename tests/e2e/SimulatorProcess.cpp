#include "tests/e2e/SimulatorProcess.h"
#include "Cable.h"
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <winternl.h>

namespace {

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Starts a program of the program folder; false when it could not be started.
bool Start(const std::wstring& program, const std::wstring& arguments, DWORD flags,
           PROCESS_INFORMATION& process) {
    const std::wstring path = ProgramFolder() + L"\\" + program;
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    return ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags,
                            nullptr, nullptr, &startup, &process) != FALSE;
}

void Stop(PROCESS_INFORMATION& process) {
    if (process.hProcess == nullptr)
        return;
    if (::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 5000);
    }
    if (process.hThread != nullptr)
        ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    process = {};
}

// The visible panel windows with the processes that show them.
struct ShownPanel {
    HWND window;
    DWORD processId;
};

BOOL CALLBACK CollectPanelWindow(HWND window, LPARAM param) {
    wchar_t caption[32] = {};
    ::GetWindowTextW(window, caption, 32);
    if (::IsWindowVisible(window) && std::wstring(caption) == L"Orvanta V1.2") {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        reinterpret_cast<std::vector<ShownPanel>*>(param)->push_back({window, owner});
    }
    return TRUE;
}

std::vector<ShownPanel> ShownPanels() {
    std::vector<ShownPanel> panels;
    ::EnumWindows(&CollectPanelWindow, reinterpret_cast<LPARAM>(&panels));
    return panels;
}

// Looks every 50 ms, up to 15 s or until stillRunning fails, for a panel that matches.
template <class Matches, class StillRunning>
ShownPanel WaitForPanel(Matches matches, StillRunning stillRunning) {
    for (int i = 0; i < 300; ++i) {
        for (const ShownPanel& panel : ShownPanels())
            if (matches(panel))
                return panel;
        if (!stillRunning())
            break;
    }
    return {nullptr, 0};
}

// Reads a log of "<ms> <kind> <details>" lines, as far as it is written.
std::vector<LogEvent> ReadLog(const std::wstring& path) {
    std::vector<LogEvent> events;
    std::istringstream lines(ReadSharedFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        LogEvent event{};
        if (!(fields >> event.time >> event.kind))
            continue;
        std::getline(fields >> std::ws, event.details);
        events.push_back(event);
    }
    return events;
}

// The cable that scripts/test.sh lays, as the simulator sees it.
monitor_sim::Cable TestCable() {
    const char* folder = std::getenv("KELVANE_CABLE");
    return monitor_sim::Cable(folder ? Widen(folder) : L"");
}

// Wine hands out handle values as small multiples of four; the panel holds a few dozen.
constexpr ULONG_PTR LAST_HANDLE_LOOKED_AT = 0x4000;

// What the object behind a handle is called (its kind, or its name), or empty.
std::wstring ObjectText(HANDLE handle, OBJECT_INFORMATION_CLASS what) {
    alignas(UNICODE_STRING) BYTE buffer[2048] = {};
    ULONG length = 0;
    if (::NtQueryObject(handle, what, buffer, sizeof buffer, &length) != 0)
        return {};
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer);
    return std::wstring(text->Buffer, text->Length / sizeof(wchar_t));
}

} // namespace

std::string ReadSharedFile(const std::wstring& path) {
    return monitor_sim::readSharedFile(path);
}

CablePorts GetCablePorts() {
    const char* panel = std::getenv("KELVANE_PANEL_PORT");
    const char* monitor = std::getenv("KELVANE_MONITOR_PORT");
    return {panel ? panel : "", monitor ? monitor : ""};
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

SimulatorProcess::SimulatorProcess(const std::wstring& switches, const std::wstring& keepLogAt)
    : m_logPath(keepLogAt), m_keepLog(!keepLogAt.empty()) {
    static int count = 0;
    const std::wstring id =
        std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    if (!m_keepLog) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_logPath = std::wstring(temp) + L"monitor-sim-" + id + L".log";
    }
    ::DeleteFileW(m_logPath.c_str());
    const std::wstring eventName = L"Local\\KelvaneSimulatorReady-" + id;
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());

    const std::wstring arguments = L"--port " + Widen(GetCablePorts().monitor) + L" --log \"" +
                                   m_logPath + L"\" --ready-event " + eventName + L" " + switches;
    if (Start(L"monitor-sim.exe", arguments, CREATE_NO_WINDOW, m_process)) {
        const HANDLE waits[] = {ready, m_process.hProcess};
        m_ready = ::WaitForMultipleObjects(2, waits, FALSE, 15000) == WAIT_OBJECT_0;
    }
    ::CloseHandle(ready);
}

SimulatorProcess::~SimulatorProcess() {
    Stop(m_process);
    if (!m_keepLog)
        ::DeleteFileW(m_logPath.c_str());
}

bool SimulatorProcess::Alive() const {
    return m_process.hProcess != nullptr &&
           ::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<SimulatorProcess::Event> SimulatorProcess::Log() const {
    return ReadLog(m_logPath);
}

std::vector<std::string> SimulatorProcess::Frames() const {
    std::vector<std::string> frames;
    for (const Event& event : Log())
        if (event.kind == "RX")
            frames.push_back(event.details);
    return frames;
}

PanelProcess::PanelProcess(const std::wstring& arguments) {
    if (!Start(L"Kelvane.exe", arguments, 0, m_process))
        return;
    m_window =
        WaitForPanel(
            [&](const ShownPanel& panel) { return panel.processId == m_process.dwProcessId; },
            [&] { return ::WaitForSingleObject(m_process.hProcess, 50) == WAIT_TIMEOUT; })
            .window;
}

PanelProcess::PanelProcess(const StartedForAClient& started) {
    const std::vector<DWORD>& before = started.panelsBefore;
    const ShownPanel found = WaitForPanel(
        [&](const ShownPanel& panel) {
            return std::find(before.begin(), before.end(), panel.processId) == before.end();
        },
        [] {
            ::Sleep(50);
            return true;
        });
    if (found.window == nullptr)
        return;
    m_process.hProcess =
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                      found.processId);
    m_process.dwProcessId = found.processId;
    m_window = m_process.hProcess ? found.window : nullptr;
}

std::vector<DWORD> PanelsShowing() {
    std::vector<DWORD> processes;
    for (const ShownPanel& panel : ShownPanels())
        processes.push_back(panel.processId);
    return processes;
}

PanelProcess::~PanelProcess() {
    Stop(m_process);
}

bool PanelProcess::WaitForExit(DWORD milliseconds) {
    return m_process.hProcess != nullptr &&
           ::WaitForSingleObject(m_process.hProcess, milliseconds) == WAIT_OBJECT_0;
}

// Each handle of the program is copied into this process and asked what it is. Asking a pipe's
// name can hang on Windows; these tests run under Wine, where it answers.
std::vector<std::wstring> PanelProcess::OpenPorts() const {
    std::vector<std::wstring> ports;
    HANDLE process = ::OpenProcess(PROCESS_DUP_HANDLE, FALSE, m_process.dwProcessId);
    if (process == nullptr)
        return ports;
    for (ULONG_PTR value = 4; value <= LAST_HANDLE_LOOKED_AT; value += 4) {
        HANDLE copy = nullptr;
        if (!::DuplicateHandle(process, reinterpret_cast<HANDLE>(value), ::GetCurrentProcess(),
                               &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            continue;
        if (ObjectText(copy, ObjectTypeInformation) == L"File") {
            const std::wstring name = ObjectText(copy, ObjectNameInformation);
            if (name.rfind(L"\\Device\\Serial", 0) == 0 || name.rfind(L"\\??\\Z:\\dev\\", 0) == 0)
                ports.push_back(name);
        }
        ::CloseHandle(copy);
    }
    ::CloseHandle(process);
    return ports;
}

DWORD PanelProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

std::vector<monitor_sim::CableEvent> Cable::Events() {
    return TestCable().events();
}

size_t Cable::Count(const std::string& kind, const std::string& details) {
    return TestCable().count(kind, details);
}

bool Cable::Pull() {
    std::string error;
    monitor_sim::Cable cable = TestCable();
    return cable.available() && cable.pull(error);
}

bool Cable::Plug() {
    std::string error;
    monitor_sim::Cable cable = TestCable();
    return cable.available() && cable.plug(error);
}
