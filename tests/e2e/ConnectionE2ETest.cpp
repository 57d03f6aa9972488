// Connecting the real program to the simulated monitor over the cable and leaving it, the way an
// operator does it.
#include <gtest/gtest.h>
#include "res/resource.h"
#include "tests/e2e/RunningPanel.h"

namespace {

const std::wstring NO_ANSWER =
    L"Monitor is not respond. Please check serial cable or monitor power status!";

// The shortest time between two frames: the drain's last empty read and the wait for the answer
// (300 ms), less what Wine's reads may end early.
constexpr ULONGLONG MIN_FRAME_SPACING_MS = 280;

class ConnectionOverTheCable : public RunningPanel {};

TEST_F(ConnectionOverTheCable, AConnectReadsTheFourValuesOneFrameAfterAnother) {
    SimulatorProcess monitor(L"--unit-id 3 --source VGA --firmware 2.05");
    ASSERT_TRUE(monitor.Running());

    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    ASSERT_TRUE(panel.finished());
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Disconnect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
    EXPECT_EQ(panel.Text(IDC_UNIT_ID), L"3");
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{3});
    EXPECT_EQ(panel.Text(IDC_SIGNAL_STATUS), L"Signal OK");
    EXPECT_EQ(panel.Text(IDC_FIRMWARE_VERSION), L"2.05");

    std::vector<SimulatorProcess::Event> frames;
    for (const auto& event : monitor.Log())
        if (event.kind == "RX")
            frames.push_back(event);
    ASSERT_EQ(frames.size(), 4u);
    const char* expected[] = {"@@0UIG000", "@@3SSG000", "@@3SIG000", "@@3FVSENA"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i].details, expected[i]);
        if (i > 0) {
            EXPECT_GE(frames[i].time - frames[i - 1].time, MIN_FRAME_SPACING_MS);
        }
    }

    panel.Click(IDC_CHECK_SIGNAL);
    EXPECT_EQ(monitor.Frames().back(), "@@3SIG000");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Current input signal status is updated");
    Exit();
}

TEST_F(ConnectionOverTheCable, ASilentMonitorGetsOneFrameAndTheOperatorIsToldItDoesNotRespond) {
    SimulatorProcess monitor(L"--silent");
    ASSERT_TRUE(monitor.Running());

    const size_t closes = Cable::Count("close", "panel");
    const std::vector<SeenBox> boxes = panel.Click(IDC_CONNECT);
    ASSERT_TRUE(panel.finished());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].text, NO_ANSWER);
    EXPECT_TRUE(boxes[0].ownedByPanel);
    EXPECT_EQ(monitor.Frames(), std::vector<std::string>{"@@0UIG000"});
    EXPECT_TRUE(PanelOperator::WaitUntil(
        [&] { return Cable::Count("close", "panel") == closes + 1; }, 5000))
        << "the panel let go of its end of the cable";
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Ready .....");
    Exit();
}

TEST_F(ConnectionOverTheCable, APortWithNothingBehindItDoesNotOpenAndTheNextTryOnTheCableWorks) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    panel.Choose(IDC_COM_PORT, 4); // COM5 leads nowhere

    const std::vector<SeenBox> boxes = panel.Click(IDC_CONNECT);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Cannot open serial port. Please check your system configuration!");
    EXPECT_TRUE(monitor.Frames().empty());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Ready .....");

    panel.Choose(IDC_COM_PORT, 0);
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
    Exit();
}

TEST_F(ConnectionOverTheCable, ConnectPressedAgainUnderTheChannelsOwnerlessBoxChangesNothing) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    const size_t opens = Cable::Count("open", "panel");
    panel.Choose(IDC_COM_PORT, 1); // COM2 opens, but its line settings cannot be read

    // The channel's box has no owner, so the panel still takes clicks under it: the operator
    // picks the cable's port and presses Connect again before closing the box.
    const std::vector<SeenBox> boxes = panel.Click(IDC_CONNECT, 30000, [&](const SeenBox& box) {
        if (box.text == L"GetCommState Error") {
            panel.Choose(IDC_COM_PORT, 0);
            panel.Press(IDC_CONNECT);
        }
        ::PostMessageW(::FindWindowW(L"#32770", L"Error"), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       0);
    });
    ASSERT_TRUE(panel.finished());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"GetCommState Error");
    EXPECT_FALSE(boxes[0].ownedByPanel);
    EXPECT_EQ(boxes[1].text, L"Cannot Configure Communication Port");
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Ready .....");
    EXPECT_EQ(Cable::Count("open", "panel"), opens) << "the second Connect opened nothing";
    EXPECT_TRUE(monitor.Frames().empty());
    Exit();
}

TEST_F(ConnectionOverTheCable, ExitPressedUnderTheChannelsOwnerlessBoxIsIgnored) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    panel.Choose(IDC_COM_PORT, 1); // COM2 opens, but its line settings cannot be read

    // The channel's box has no owner, so the panel still takes clicks under it: the operator
    // presses Exit while the box shows, with COM2 open behind it, and then closes the box.
    std::vector<std::wstring> openUnderTheBox;
    const std::vector<SeenBox> boxes = panel.Click(IDC_CONNECT, 30000, [&](const SeenBox& box) {
        if (box.text == L"GetCommState Error") {
            openUnderTheBox = program.OpenPorts();
            panel.Press(IDCANCEL);
        }
        ::PostMessageW(::FindWindowW(L"#32770", L"Error"), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       0);
    });
    ASSERT_TRUE(panel.finished());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"GetCommState Error");
    EXPECT_EQ(boxes[1].text, L"Cannot Configure Communication Port");
    EXPECT_EQ(openUnderTheBox.size(), 1u);
    EXPECT_TRUE(program.OpenPorts().empty());
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");

    // The operator's next click reaches the panel through its modal loop after one more message:
    // a run that Exit had ended would stop at that message, and the program with it.
    panel.Choose(IDC_COM_PORT, 0);
    const HWND window = program.Window();
    ::PostMessageW(window, WM_NULL, 0, 0);
    ::PostMessageW(::GetDlgItem(window, IDC_CONNECT), BM_CLICK, 0, 0);
    EXPECT_TRUE(PanelOperator::WaitUntil(
        [&] { return program.WaitForExit(0) || panel.Text(IDC_CONNECT) == L"Disconnect"; }, 15000));
    ASSERT_FALSE(program.WaitForExit(0)) << "Exit under the box ended the panel";
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
    Exit();
}

TEST_F(ConnectionOverTheCable, DisconnectResetsThePanelAndAMonitorThatStopsAnsweringIsReported) {
    SimulatorProcess monitor(L"--unit-id 2 --drop-after 5");
    ASSERT_TRUE(monitor.Running());
    panel.Click(IDC_CONNECT);
    ASSERT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");

    // The fifth frame is answered, then the monitor is gone: the next query hears nothing.
    panel.Click(IDC_CHECK_SOURCE);
    const std::vector<SeenBox> boxes = panel.Click(IDC_CHECK_SIGNAL);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Communication Error! Please try again.");
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Disconnect") << "a silent link does not disconnect";

    const size_t closes = Cable::Count("close", "panel");
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    EXPECT_TRUE(PanelOperator::WaitUntil(
        [&] { return Cable::Count("close", "panel") == closes + 1; }, 5000));
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Disconnected.");
    EXPECT_EQ(panel.Text(IDC_UNIT_ID), L"");
    EXPECT_EQ(panel.Text(IDC_SIGNAL_STATUS), L"");
    EXPECT_EQ(panel.Text(IDC_FIRMWARE_VERSION), L"");
    EXPECT_TRUE(panel.CheckedSources().empty());
    Exit();
}

} // namespace
