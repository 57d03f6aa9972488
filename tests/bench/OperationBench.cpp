// Times the panel's operations in the real Kelvane.exe against the simulated monitor over the
// null-modem cable, clicked the way an operator clicks them, and prints each one's median wall
// time against its protocol floor: the exchanges it cannot do without and the waits it must keep.
// Run by scripts/bench.sh, which lays the cable and the display.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <iterator>
#include <vector>
#include "core/MonitorProtocol.h"
#include "core/ProtocolRules.h"
#include "res/resource.h"
#include "tests/e2e/PanelOperator.h"
#include "tests/e2e/SimulatorProcess.h"

namespace {

constexpr int RUNS = 5;

// The pauses the diagnostic sequence keeps between its frames.
constexpr std::uint32_t DiagnosticWaitsMs() {
    std::uint32_t waits = 0;
    for (const protocol::DiagnosticFrame& frame : protocol::DIAGNOSTIC_FRAMES)
        waits += frame.waitAfterMs;
    return waits;
}

struct Figure {
    const char* name;
    int exchanges;
    std::uint32_t waitsMs; // the waits the operation must keep besides its exchanges
    std::vector<double> wall = {};
    int failures = 0;

    // The exchanges the operation cannot do without, each at its quickest, and its waits.
    double FloorMs() const { return exchanges * protocol::ExchangeFloorMs() + waitsMs; }
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
    char floorText[64];
    if (figure.waitsMs == 0)
        std::snprintf(floorText, sizeof floorText, "%d exchanges", figure.exchanges);
    else
        std::snprintf(floorText, sizeof floorText, "%d exchanges + %u ms", figure.exchanges,
                      unsigned(figure.waitsMs));
    std::printf("%-18s median %6.0f ms, floor %6.0f ms (%s): ratio %.3f, %d failed\n", figure.name,
                median, figure.FloorMs(), floorText, median / figure.FloorMs(), figure.failures);
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
    // The connect's four queries; the switch and the signal re-check; the reset, a first poll
    // that finds the signal and the four queries read afresh; the diagnostic sequence.
    Figure figures[] = {
        {"connect", int(std::size(CONNECT_QUERIES)), 0},
        {"change source", 2, protocol::SWITCH_WAIT_MS},
        {"default setting", 2 + int(std::size(RESET_REREADS)), protocol::SETTLE_WAIT_MS},
        {"diagnostic mode", int(std::size(protocol::DIAGNOSTIC_FRAMES)), DiagnosticWaitsMs()},
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
