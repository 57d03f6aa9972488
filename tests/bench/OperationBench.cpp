// Times the panel's operations in the real Kelvane.exe against the simulated monitor over the
// null-modem cable, clicked the way an operator clicks them, and prints each one's median wall
// time against its protocol floor: the exchanges it cannot do without and the waits it must keep.
// Run by scripts/bench.sh, which lays the cable and the display.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <vector>
#include "res/resource.h"
#include "tests/e2e/PanelOperator.h"
#include "tests/e2e/SimulatorProcess.h"

namespace {

constexpr int RUNS = 5;
// One answered exchange at its quickest: the drain's final empty read (100 ms), nine bytes of ten
// bits at 19200 baud, the 200 ms answer wait.
constexpr double EXCHANGE_MS = 100.0 + 9 * 10 * 1000.0 / 19200 + 200.0;

struct Figure {
    const char* name;
    const char* floorText;
    double floorMs;
    std::vector<double> wall;
    int failures = 0;
};

// Clicks the control and records the operation's time, boxes aside; a box, or a status other than
// the one expected, is a failure.
void Time(PanelOperator& panel, int id, const wchar_t* status, Figure& figure) {
    const std::vector<SeenBox> boxes = panel.Click(id);
    if (!panel.finished() || !boxes.empty() || panel.Text(IDC_STATUS) != status) {
        ++figure.failures;
        return;
    }
    figure.wall.push_back(double(panel.endedAt() - panel.clickedAt()));
}

void Print(Figure& figure) {
    if (figure.wall.empty()) {
        std::printf("%-18s every run failed\n", figure.name);
        return;
    }
    std::sort(figure.wall.begin(), figure.wall.end());
    const double median = figure.wall[figure.wall.size() / 2];
    std::printf("%-18s median %6.0f ms, floor %6.0f ms (%s): ratio %.3f, %d failed\n", figure.name,
                median, figure.floorMs, figure.floorText, median / figure.floorMs, figure.failures);
}

} // namespace

int main() {
    const CablePorts ports = GetCablePorts();
    if (ports.panel.empty() || ports.monitor.empty()) {
        std::fprintf(stderr, "no cable: run scripts/bench.sh\n");
        return 2;
    }
    SimulatorProcess monitor(L"--unit-id 1");
    PanelProcess program;
    if (!monitor.Running() || program.Window() == nullptr) {
        std::fprintf(stderr, "the simulated monitor or the panel did not start\n");
        return 1;
    }
    PanelOperator panel(program.Window());
    Figure figures[] = {
        {"connect", "4 exchanges", 4 * EXCHANGE_MS, {}},
        {"change source", "2 exchanges + 3000 ms", 2 * EXCHANGE_MS + 3000, {}},
        {"default setting", "6 exchanges + 2500 ms", 6 * EXCHANGE_MS + 2500, {}},
        {"diagnostic mode", "3 exchanges + 3000 ms", 3 * EXCHANGE_MS + 3000, {}},
    };
    const wchar_t* const connected = L"Connection is completed.";
    // The first connect pays for Wine's start-up of the port.
    panel.Click(IDC_CONNECT);
    panel.Click(IDC_CONNECT);
    for (int run = 0; run < RUNS; ++run) {
        Time(panel, IDC_CONNECT, connected, figures[0]);
        Time(panel, run % 2 ? IDC_SOURCE_HDMI1 : IDC_SOURCE_HDMI2,
             run % 2 ? L"Input source has been changed successfully. (HDMI1)"
                     : L"Input source has been changed successfully. (HDMI2)",
             figures[1]);
        Time(panel, IDC_DEFAULT_SETTING, L"Default setting is done.", figures[2]);
        // The diagnostic mode holds the buttons until the disconnect.
        Time(panel, IDC_DIAGNOSTIC, L"Diagnostic mode is running...", figures[3]);
        panel.Click(IDC_CONNECT);
    }
    panel.Click(IDCANCEL);
    program.WaitForExit(10000);

    std::printf("operations:         %d runs of each, the real panel clicked\n", RUNS);
    int failures = 0;
    for (Figure& figure : figures) {
        Print(figure);
        failures += figure.failures;
    }
    std::printf("                    (aim: at most 1.05 each)\n");
    return failures == 0 ? 0 : 1;
}
