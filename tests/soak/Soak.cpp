// The soak: the real Kelvane.exe worked by a random operator against monitor-sim --random, a
// monitor that misbehaves at random, over the test cable; prints what it saw and fails when the
// panel crashed, overran an operation's time, reported as done what the monitor did not take, or
// kept its port after the exit.
//
//   kelvane_soak [--seed S] [--actions N] [--fault-rate PCT] [--log-dir DIR]
//
// The logs (the soak's journal of actions and monitor-sim's log) go to DIR, by default soak/
// beside the program's folder (build/soak).
//
// Needs the cable of scripts/test.sh or scripts/soak.sh (KELVANE_PANEL_PORT, KELVANE_MONITOR_PORT,
// KELVANE_CABLE). The same seed drives the operator and the monitor, so a run can be repeated.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "res/resource.h"
#include "tests/e2e/PanelOperator.h"
#include "tests/e2e/SimulatorProcess.h"
#include "tests/soak/SoakJudge.h"

namespace {

// How much longer than its bound an operation may take before it counts as too slow: Wine's
// own time for the serial calls, the window messages and the box windows.
constexpr ULONGLONG SLACK_MS = 1000;
// How long the operator waits for an operation past its bound before giving the run up.
constexpr DWORD GIVE_UP_AFTER_MS = 60000;
// Connect attempts to have the panel connected before the exit.
constexpr int FINAL_CONNECT_TRIES = 10;

struct Options {
    unsigned seed = 1;
    unsigned actions = 500;
    unsigned faultRate = 30;
    std::wstring logDir;
};

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool ParseNumber(const wchar_t* text, unsigned& value) {
    wchar_t* end = nullptr;
    const unsigned long number = std::wcstoul(text, &end, 10);
    if (end == text || *end != 0 || number > 999999999ul)
        return false;
    value = static_cast<unsigned>(number);
    return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (i + 1 >= argc)
            return false;
        const wchar_t* value = argv[++i];
        bool ok = true;
        if (name == L"--seed")
            ok = ParseNumber(value, options.seed);
        else if (name == L"--actions")
            ok = ParseNumber(value, options.actions);
        else if (name == L"--fault-rate")
            ok = ParseNumber(value, options.faultRate) && options.faultRate <= 100;
        else if (name == L"--log-dir")
            options.logDir = value;
        else
            ok = false;
        if (!ok)
            return false;
    }
    if (options.logDir.empty()) {
        // The build folder's soak/, beside bin/ where this program stands.
        wchar_t full[MAX_PATH] = {};
        ::GetFullPathNameW((ProgramFolder() + L"\\..\\soak").c_str(), MAX_PATH, full, nullptr);
        options.logDir = full;
        ::CreateDirectoryW(options.logDir.c_str(), nullptr);
    }
    while (!options.logDir.empty() &&
           (options.logDir.back() == L'\\' || options.logDir.back() == L'/'))
        options.logDir.pop_back();
    return true;
}

// One thing the operator does.
struct Action {
    Operation operation;
    int control = 0; // the button, or the model list
    int index = 0;   // the source (0 HDMI 1 to 3 VGA) or the model
    std::string Name() const {
        static const char* const sources[] = {"HDMI 1", "HDMI 2", "HDMI 3", "VGA"};
        if (operation == Operation::ChangeSource)
            return std::string("source ") + sources[index];
        if (operation == Operation::ChooseModel)
            return "model " + std::to_string(index);
        return OperationName(operation);
    }
};

// Picks the next action among what the panel offers now, with weights that keep the panel
// connected most of the time: without a connection the operations do nothing.
Action ChooseAction(PanelOperator& panel, HWND window, std::mt19937& dice) {
    struct Candidate {
        Action action;
        unsigned weight;
    };
    std::vector<Candidate> candidates;
    const bool connected = panel.Text(IDC_CONNECT) == L"Disconnect";
    candidates.push_back({{connected ? Operation::Disconnect : Operation::Connect, IDC_CONNECT},
                          connected ? 1u : 12u});
    const std::pair<Operation, int> buttons[] = {
        {Operation::CheckSource, IDC_CHECK_SOURCE},
        {Operation::CheckSignal, IDC_CHECK_SIGNAL},
        {Operation::CheckUnitId, IDC_CHECK_UNIT_ID},
        {Operation::CheckFirmware, IDC_CHECK_FIRMWARE},
        {Operation::DefaultSetting, IDC_DEFAULT_SETTING},
        {Operation::Diagnostic, IDC_DIAGNOSTIC},
    };
    for (const auto& [operation, control] : buttons)
        if (panel.Enabled(control))
            candidates.push_back(
                {{operation, control}, operation == Operation::Diagnostic ? 1u : 2u});
    for (int source = 0; source < 4; ++source)
        if (panel.Enabled(IDC_SOURCE_HDMI1 + source))
            candidates.push_back({{Operation::ChangeSource, IDC_SOURCE_HDMI1 + source, source}, 2});
    const int models =
        static_cast<int>(::SendMessageW(::GetDlgItem(window, IDC_MODEL), CB_GETCOUNT, 0, 0));
    if (models > 0)
        candidates.push_back(
            {{Operation::ChooseModel, IDC_MODEL, static_cast<int>(dice() % unsigned(models))}, 2});
    candidates.push_back({{Operation::AboutBox}, 1});

    unsigned total = 0;
    for (const Candidate& candidate : candidates)
        total += candidate.weight;
    unsigned roll = dice() % total;
    for (const Candidate& candidate : candidates) {
        if (roll < candidate.weight)
            return candidate.action;
        roll -= candidate.weight;
    }
    return candidates.front().action;
}

BOOL CALLBACK FindCrashDialog(HWND window, LPARAM param) {
    wchar_t caption[64] = {};
    ::GetWindowTextW(window, caption, 64);
    if (::IsWindowVisible(window) && std::wstring(caption) == L"Program Error") {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

// Wine's crash dialog (winedbg's "Program Error"), shown when a program of the prefix crashed.
HWND CrashDialog() {
    HWND found = nullptr;
    ::EnumWindows(&FindCrashDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Whether the cable is in: the last pull or plug it logged is a plug (or it never was pulled).
bool CableIn() {
    std::string last = "plug";
    for (const monitor_sim::CableEvent& event : Cable::Events())
        if (event.kind == "pull" || event.kind == "plug")
            last = event.kind;
    return last == "plug";
}

struct OperationFigures {
    unsigned count = 0;
    ULONGLONG slowestMs = 0;
};

struct Figures {
    unsigned actionsRun = 0;
    unsigned finalConnects = 0; // to have a connection for the exit, beyond the actions
    std::map<std::string, unsigned> actions;
    std::map<std::string, unsigned> boxes;
    std::map<Operation, OperationFigures> operations;
    std::vector<std::string> crashes;
    std::vector<std::string> overruns;
    unsigned sourceReports = 0;
    std::vector<std::string> sourceFalseReports;
    unsigned resetReports = 0;
    std::vector<std::string> resetFalseReports;
    bool portReleased = false;
    std::string releaseNote;
    std::string aborted;
};

class Soak {
public:
    Soak(const Options& options, SimulatorProcess& monitor, PanelProcess& program, FILE* journal)
        : m_options(options), m_monitor(monitor), m_program(program), m_panel(program.Window()),
          m_dice(options.seed), m_journal(journal) {}

    Figures Run() {
        bool triedWhileOut = false;
        for (unsigned i = 0; i < m_options.actions && m_figures.aborted.empty(); ++i) {
            // With the cable out the operator tries one thing, then waits until it is back:
            // otherwise the run would spend its actions on a panel that cannot connect.
            if (CableIn()) {
                triedWhileOut = false;
            } else if (triedWhileOut) {
                PanelOperator::WaitUntil(CableIn, 10000);
                triedWhileOut = false;
            } else {
                triedWhileOut = true;
            }
            const Action action = ChooseAction(m_panel, m_program.Window(), m_dice);
            Perform(action);
            ++m_figures.actionsRun;
            ++m_figures.actions[action.operation == Operation::ChooseModel
                                    ? OperationName(action.operation)
                                    : action.Name()];
        }
        if (m_figures.aborted.empty())
            ExitPanel();
        return m_figures;
    }

private:
    // Runs one action the way the operator does and judges it.
    void Perform(const Action& action) {
        const std::wstring statusBefore = m_panel.Text(IDC_STATUS);
        const size_t logBefore = m_monitor.Log().size();
        const DWORD timeout =
            static_cast<DWORD>(OperationBoundMs(action.operation) + SLACK_MS) + GIVE_UP_AFTER_MS;

        std::vector<SeenBox> boxes;
        ULONGLONG tookMs = 0;
        if (action.operation == Operation::ChooseModel) {
            const ULONGLONG start = ::GetTickCount64();
            m_panel.Choose(IDC_MODEL, action.index);
            tookMs = ::GetTickCount64() - start;
        } else {
            boxes = action.operation == Operation::AboutBox
                        ? m_panel.SystemCommand(IDM_ABOUTBOX, timeout)
                        : m_panel.Click(action.control, timeout);
            tookMs = m_panel.endedAt() - m_panel.clickedAt();
        }
        ULONGLONG boxMs = 0;
        std::string boxList;
        for (const SeenBox& box : boxes) {
            const std::string text =
                box.text.empty() ? "[" + Narrow(box.caption) + "]" : Narrow(box.text);
            ++m_figures.boxes[text];
            boxList += (boxList.empty() ? "" : " | ") + text;
            if (box.closedAt > box.shownAt)
                boxMs += box.closedAt - box.shownAt;
        }
        const bool finished = action.operation == Operation::ChooseModel || m_panel.finished();
        const ULONGLONG netMs = tookMs > boxMs ? tookMs - boxMs : 0;

        OperationFigures& figures = m_figures.operations[action.operation];
        ++figures.count;
        figures.slowestMs = std::max(figures.slowestMs, netMs);
        const ULONGLONG bound = OperationBoundMs(action.operation);
        if (!finished || netMs > bound + SLACK_MS)
            m_figures.overruns.push_back(action.Name() + ": " + std::to_string(netMs) +
                                         " ms, bound " + std::to_string(bound) + " ms" +
                                         (finished ? "" : ", not finished"));

        if (CheckCrash(action))
            return;
        if (!finished) {
            m_figures.aborted = "the panel did not finish " + action.Name();
            return;
        }

        const std::wstring statusAfter = m_panel.Text(IDC_STATUS);
        std::vector<LogEvent> log = m_monitor.Log();
        log.erase(log.begin(),
                  log.begin() + static_cast<std::ptrdiff_t>(std::min(logBefore, log.size())));
        const std::vector<Exchange> exchanges = ExchangesIn(log);
        std::string frames;
        for (const Exchange& exchange : exchanges)
            frames += " " + exchange.frame + "(" + exchange.fault + ")->" +
                      (exchange.answer.empty() ? "-" : exchange.answer);
        Judge(action, statusBefore, statusAfter, exchanges);

        std::fprintf(m_journal, "%u %llu %s: %llu ms (boxes %llu ms) [%s] status \"%s\";%s\n",
                     m_figures.actionsRun + 1, ::GetTickCount64(), action.Name().c_str(), tookMs,
                     boxMs, boxList.c_str(), Narrow(statusAfter).c_str(), frames.c_str());
        std::fflush(m_journal);
    }

    void Judge(const Action& action, const std::wstring& before, const std::wstring& after,
               const std::vector<Exchange>& exchanges) {
        const std::string where =
            "action " + std::to_string(m_figures.actionsRun + 1) + " (" + action.Name() + ")";
        if (action.operation == Operation::ChangeSource) {
            const Verdict verdict = JudgeSourceChange(action.index, before, after, exchanges);
            m_figures.sourceReports += verdict.reported;
            if (verdict.reported && !verdict.acknowledged)
                m_figures.sourceFalseReports.push_back(where);
        } else if (action.operation == Operation::DefaultSetting) {
            const Verdict verdict = JudgeDefaultSetting(before, after, exchanges);
            m_figures.resetReports += verdict.reported;
            if (verdict.reported && !verdict.acknowledged)
                m_figures.resetFalseReports.push_back(where);
        }
    }

    // Looks for a crash after an action; true when the run cannot go on.
    bool CheckCrash(const Action& action) {
        const std::string after = "after " + action.Name();
        if (HWND dialog = CrashDialog()) {
            m_figures.crashes.push_back("Wine's crash dialog " + after);
            ::PostMessageW(dialog, WM_CLOSE, 0, 0);
            m_figures.aborted = "a crash";
            return true;
        }
        if (m_program.WaitForExit(0)) {
            m_figures.crashes.push_back("the panel ended by itself (exit code " +
                                        std::to_string(m_program.ExitCode()) + ") " + after);
            m_figures.aborted = "a crash";
            return true;
        }
        if (!m_monitor.Alive()) {
            m_figures.aborted = "monitor-sim stopped " + after + " (see its log)";
            return true;
        }
        return false;
    }

    // Connects (so that the exit has a port to release), exits the panel and looks whether the
    // cable saw the panel's end closed.
    void ExitPanel() {
        for (int attempt = 0; attempt < FINAL_CONNECT_TRIES; ++attempt) {
            if (m_panel.Text(IDC_CONNECT) == L"Disconnect")
                break;
            PanelOperator::WaitUntil(CableIn, 10000);
            Perform({Operation::Connect, IDC_CONNECT});
            ++m_figures.finalConnects;
            if (!m_figures.aborted.empty())
                return;
        }
        const bool connected = m_panel.Text(IDC_CONNECT) == L"Disconnect";
        const size_t closes = Cable::Count("close", "panel");
        const ULONGLONG start = ::GetTickCount64();
        m_panel.Click(IDCANCEL, 30000);
        if (!m_program.WaitForExit(15000)) {
            m_figures.crashes.push_back("the panel did not end after Exit");
            return;
        }
        const ULONGLONG tookMs = ::GetTickCount64() - start;
        if (tookMs > OperationBoundMs(Operation::Exit) + SLACK_MS)
            m_figures.overruns.push_back("exit: " + std::to_string(tookMs) + " ms");
        if (m_program.ExitCode() != 0)
            m_figures.crashes.push_back("the panel's exit code after Exit was " +
                                        std::to_string(m_program.ExitCode()));
        if (CrashDialog())
            m_figures.crashes.push_back("Wine's crash dialog after Exit");
        if (connected) {
            m_figures.portReleased = PanelOperator::WaitUntil(
                [&] { return Cable::Count("close", "panel") > closes; }, 5000);
            m_figures.releaseNote = "connected at the exit; the cable saw the panel's end closed";
        } else {
            m_figures.releaseNote = "could not connect before the exit";
        }
    }

    const Options& m_options;
    SimulatorProcess& m_monitor;
    PanelProcess& m_program;
    PanelOperator m_panel;
    std::mt19937 m_dice;
    FILE* m_journal;
    Figures m_figures;
};

void PrintList(const char* title, const std::vector<std::string>& items) {
    std::printf("%-62s %zu\n", title, items.size());
    for (const std::string& item : items)
        std::printf("    %s\n", item.c_str());
}

// What the monitor's draws were over the whole run, and late answers that missed their window.
void PrintMonitorFigures(const SimulatorProcess& monitor, unsigned& lateMissing) {
    std::map<std::string, unsigned> faults;
    const std::vector<LogEvent> log = monitor.Log();
    for (const Exchange& exchange : ExchangesIn(log)) {
        lateMissing += exchange.lateAnswerMissing;
        if (!exchange.fault.empty())
            ++faults[exchange.fault.substr(0, exchange.fault.find_first_of(" ,"))];
    }
    std::printf("monitor's draws:");
    for (const auto& [fault, count] : faults)
        std::printf(" %s %u", fault.c_str(), count);
    std::printf("\n");
}

int RunSoak(const Options& options) {
    const CablePorts ports = GetCablePorts();
    const char* cable = std::getenv("KELVANE_CABLE");
    if (ports.panel.empty() || ports.monitor.empty() || cable == nullptr) {
        std::fprintf(stderr, "kelvane_soak: run it through scripts/soak.sh or scripts/test.sh, "
                             "which lay the cable\n");
        return 2;
    }
    const std::wstring seed = std::to_wstring(options.seed);
    const std::wstring monitorLog = options.logDir + L"\\monitor-sim-" + seed + L".log";
    const std::wstring journalPath = options.logDir + L"\\soak-" + seed + L".log";
    std::printf("soak: seed %u, %u actions, monitor-sim --random %u --fault-rate %u\n",
                options.seed, options.actions, options.seed, options.faultRate);
    std::printf("logs: %s, %s\n", Narrow(journalPath).c_str(), Narrow(monitorLog).c_str());
    std::fflush(stdout);

    FILE* journal = _wfopen(journalPath.c_str(), L"w");
    if (journal == nullptr) {
        std::fprintf(stderr, "kelvane_soak: cannot write %s\n", Narrow(journalPath).c_str());
        return 2;
    }
    const ULONGLONG start = ::GetTickCount64();
    SimulatorProcess monitor(L"--random " + seed + L" --fault-rate " +
                                 std::to_wstring(options.faultRate) + L" --cable \"" +
                                 Widen(cable) + L"\"",
                             monitorLog);
    if (!monitor.Running()) {
        std::fprintf(stderr, "kelvane_soak: monitor-sim did not start\n");
        return 2;
    }
    PanelProcess program;
    if (program.Window() == nullptr) {
        std::fprintf(stderr, "kelvane_soak: the panel did not open\n");
        return 2;
    }
    Soak soak(options, monitor, program, journal);
    const Figures figures = soak.Run();
    std::fclose(journal);

    std::printf("actions run:                                                    %u in %.0f s "
                "(and %u connects before the exit)\n",
                figures.actionsRun, (::GetTickCount64() - start) / 1000.0, figures.finalConnects);
    for (const auto& [name, count] : figures.actions)
        std::printf("    %-20s %u\n", name.c_str(), count);
    std::printf("boxes seen, by text:\n");
    for (const auto& [text, count] : figures.boxes)
        std::printf("    %4u  %s\n", count, text.c_str());
    std::printf("slowest operation of each kind, boxes aside (bound):\n");
    for (const auto& [operation, op] : figures.operations)
        std::printf("    %-16s %4u runs, slowest %6llu ms (%llu ms)\n", OperationName(operation),
                    op.count, op.slowestMs, OperationBoundMs(operation));
    unsigned lateMissing = 0;
    PrintMonitorFigures(monitor, lateMissing);

    PrintList("crashes (must be 0):", figures.crashes);
    PrintList("operations over their bound + 1 s (must be 0):", figures.overruns);
    std::printf("source changes reported done:                                   %u\n",
                figures.sourceReports);
    PrintList("  of them not acknowledged by the monitor (must be 0):", figures.sourceFalseReports);
    std::printf("default settings reported done:                                 %u\n",
                figures.resetReports);
    PrintList("  of them not acknowledged by the monitor (must be 0):", figures.resetFalseReports);
    std::printf("%-62s %u\n",
                "late answers that missed the panel's second read (must be 0):", lateMissing);
    std::printf("%-62s %s (%s)\n", "port released at the end:", figures.portReleased ? "yes" : "no",
                figures.releaseNote.c_str());
    if (!figures.aborted.empty())
        std::printf("run given up: %s\n", figures.aborted.c_str());

    const bool good = figures.aborted.empty() && figures.crashes.empty() &&
                      figures.overruns.empty() && figures.sourceFalseReports.empty() &&
                      figures.resetFalseReports.empty() && lateMissing == 0 && figures.portReleased;
    std::printf("soak %s: repeat with scripts/soak.sh --seed %u --actions %u\n",
                good ? "passed" : "FAILED", options.seed, options.actions);
    return good ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: kelvane_soak [--seed S] [--actions N] [--fault-rate PCT] "
                             "[--log-dir DIR]\n");
        return 2;
    }
    try {
        return RunSoak(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvane_soak: %s\n", e.what());
    }
    return 2;
}
