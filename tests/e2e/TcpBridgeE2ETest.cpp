// The real program on a COM port that reaches the monitor through a TCP bridge (a serial device
// server, here the cable's far end served on 127.0.0.1). tests/e2e/test_tcp_bridge.py sets up the
// server and the relay behind the port, runs each of these tests on its own and reads the trace.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include "core/ProtocolRules.h"
#include "res/resource.h"
#include "tests/e2e/RunningPanel.h"

namespace {

const std::wstring NO_ANSWER =
    L"Monitor is not respond. Please check serial cable or monitor power status!";
const std::wstring CANNOT_OPEN =
    L"Cannot open serial port. Please check your system configuration!";
const std::wstring QUERY_FAILED = L"Communication Error! Please try again.";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Whether the file holds the text; the relay writes the trace line by line as it goes.
bool FileHolds(const std::string& path, const std::string& text) {
    return ReadSharedFile(std::wstring(path.begin(), path.end())).find(text) != std::string::npos;
}

class PanelOverTcp : public RunningPanel {
protected:
    void SetUp() override {
        bridge = Environment("KELVANE_BRIDGE_PORT");
        if (bridge.size() < 4 || bridge.compare(0, 3, "COM") != 0)
            GTEST_SKIP() << "run through tests/e2e/test_tcp_bridge.py, which sets up the bridge";
        ASSERT_NE(program.Window(), nullptr) << "the panel did not open";
        // The list holds COM1 to COM15 in order.
        panel.Choose(IDC_COM_PORT, std::stoi(bridge.substr(3)) - 1);
    }

    std::string bridge;
};

TEST_F(PanelOverTcp, ConnectsAndReadsTheMonitor) {
    SimulatorProcess monitor(L"--unit-id 4 --source HD2");
    ASSERT_TRUE(monitor.Running());

    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    ASSERT_TRUE(panel.finished());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Disconnect");
    EXPECT_EQ(panel.Text(IDC_UNIT_ID), L"4");
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{1});
    Exit();
}

TEST_F(PanelOverTcp, AServerThatIsNotListeningIsAMonitorThatDoesNotAnswer) {
    const std::vector<SeenBox> boxes = panel.Click(IDC_CONNECT, 20000);
    ASSERT_TRUE(panel.finished()) << "the panel hung";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_TRUE(boxes[0].text == NO_ANSWER || boxes[0].text == CANNOT_OPEN)
        << boxes[0].text.c_str();
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");
    Exit();
}

TEST_F(PanelOverTcp, AServerThatHangsUpMakesTheNextQueryFail) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    ASSERT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");

    // The server hangs up after the connect's four frames; the relay notes it in the trace.
    const std::string trace = Environment("KELVANE_LINE_TRACE");
    ASSERT_TRUE(
        PanelOperator::WaitUntil([&] { return FileHolds(trace, "closed the connection"); }, 15000))
        << "the server did not hang up";

    const std::vector<SeenBox> boxes = panel.Click(IDC_CHECK_SIGNAL, 20000);
    ASSERT_TRUE(panel.finished()) << "the panel hung";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].text, QUERY_FAILED);
    Exit();
}

TEST_F(PanelOverTcp, ALateRefusalOfASwitchIsARefusal) {
    // The monitor lacks HDMI 3, and its "?" comes halfway through the panel's wait for a late
    // acknowledge of a command: after the first acknowledge read, before the second.
    const std::uint32_t refusalMs =
        protocol::ANSWER_WAIT_MS + protocol::READ_TIMEOUT_MS + protocol::LATE_ACK_WAIT_MS / 2;
    SimulatorProcess monitor(L"--sources HD1,HD2,VGA --late-ack " + std::to_wstring(refusalMs));
    ASSERT_TRUE(monitor.Running());
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    ASSERT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");

    const std::vector<SeenBox> boxes = panel.Click(IDC_SOURCE_HDMI3);
    ASSERT_TRUE(panel.finished()) << "the panel hung";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"This input source is not avaliable in this monitor !!!");
    // The monitor got the frame twice, the resend wait apart after the first exchange (which
    // lasted until the refusal came, at least); the upper bound leaves a busy machine its slack.
    std::vector<LogEvent> switches;
    for (const LogEvent& event : monitor.Log())
        if (event.kind == "RX" && event.details == "@@1SSSHD3")
            switches.push_back(event);
    ASSERT_EQ(switches.size(), 2u);
    const ULONGLONG gap = switches[1].time - switches[0].time;
    EXPECT_GE(gap, protocol::RESEND_WAIT_MS + refusalMs);
    EXPECT_LT(gap, protocol::RESEND_WAIT_MS + protocol::COMMAND_LIMIT_MS + 1500);
    Exit();
}

} // namespace
