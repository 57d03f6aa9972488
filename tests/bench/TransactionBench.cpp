// Times "SIG" query transactions against the simulated monitor over the null-modem cable and
// prints the median wall time, the protocol's own minimum for it, their ratio and the CPU time
// the program used. Run by scripts/bench.sh, which lays the cable.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include "core/ProtocolRules.h"
#include "panel/KelvaneDlg.h"
#include "protocol/Transaction.h"
#include "tests/e2e/OpenAsConnect.h"
#include "tests/e2e/SimulatorProcess.h"

namespace {

constexpr int TRANSACTIONS = 50;

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(ticks) / double(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// User and kernel time of this process, in milliseconds.
double CpuMilliseconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

} // namespace

int main() {
    const CablePorts ports = GetCablePorts();
    if (ports.panel.empty() || ports.monitor.empty()) {
        std::fprintf(stderr, "no cable: run scripts/bench.sh\n");
        return 2;
    }
    SimulatorProcess monitor(L"--unit-id 1");
    if (!monitor.Running()) {
        std::fprintf(stderr, "the simulated monitor did not start on %s\n", ports.monitor.c_str());
        return 1;
    }
    CKelvaneDlg panel;
    if (!OpenAsConnectDoes(panel, ports.panel)) {
        std::fprintf(stderr, "cannot open %s\n", ports.panel.c_str());
        return 1;
    }
    const CommandFrame frame = MakeFrame('1', "SIG", "000");
    panel.SendCommand(TRUE, frame); // the first exchange pays for Wine's start-up of the port

    std::vector<double> wall;
    int failures = 0;
    const double cpuBefore = CpuMilliseconds();
    const LONGLONG started = Now();
    for (int i = 0; i < TRANSACTIONS; ++i) {
        const LONGLONG t0 = Now();
        if (panel.SendCommand(TRUE, frame) != CMD_ACK || std::memcmp(g_reply, "SOK", 3) != 0)
            ++failures;
        wall.push_back(Milliseconds(Now() - t0));
    }
    const double total = Milliseconds(Now() - started);
    const double cpu = CpuMilliseconds() - cpuBefore;
    g_bConnected = 0;
    panel.m_serial.Close();

    std::sort(wall.begin(), wall.end());
    const double median = (wall[TRANSACTIONS / 2 - 1] + wall[TRANSACTIONS / 2]) / 2;
    // The drain's final empty read, the frame on the line, the answer wait.
    const double minimum = protocol::ExchangeFloorMs();
    std::printf("transactions:            %d \"SIG\" queries, %d failed\n", TRANSACTIONS, failures);
    std::printf("median wall time:        %.1f ms (fastest %.1f, slowest %.1f)\n", median,
                wall.front(), wall.back());
    std::printf(
        "protocol minimum:        %.1f ms (%u ms quiet read + %u bytes at %u baud + %u ms)\n",
        minimum, unsigned(protocol::READ_TIMEOUT_MS), unsigned(FRAME_SIZE), protocol::BAUD_RATE,
        unsigned(protocol::ANSWER_WAIT_MS));
    std::printf(
        "ratio:                   %.3f (aim: at most 1.05; a pty does not pace the bytes at\n"
        "                         19200 baud and Wine's quiet read can end a few ms early)\n",
        median / minimum);
    std::printf("CPU per transaction:     %.2f ms, %.2f%% of wall time (aim: under 2%%)\n",
                cpu / TRANSACTIONS, 100.0 * cpu / total);
    return failures == 0 ? 0 : 1;
}
