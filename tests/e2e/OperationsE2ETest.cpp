// Switching the input, restoring defaults and the diagnostic mode of the real program against the
// simulated monitor, checked by the frames the monitor logged and their spacing.
#include <gtest/gtest.h>
#include "res/resource.h"
#include "tests/e2e/RunningPanel.h"

namespace {

const std::wstring SEND_FAILED = L"Communication Error! Disconnect this connection and try again.";
const std::wstring LINK_ERROR_OR_NAK = L"Communication Error or NAK from monitor";

// Between an answered frame and the next one the panel waits for the answer (200 ms), then its
// own pause, then drains the line (100 ms). Wine's reads may end a few ms early, and the simulator
// stamps a frame when it reads it, so on a busy machine a late stamp of the first frame shortens
// the gap by its delay; a busy machine may add to every step, so the upper bound is generous.
constexpr ULONGLONG EARLY_MS = 60;
constexpr ULONGLONG LATE_MS = 1500;

struct Frame {
    ULONGLONG time;
    std::string bytes;
};

std::vector<Frame> FramesOf(const SimulatorProcess& monitor) {
    std::vector<Frame> frames;
    for (const LogEvent& event : monitor.Log())
        if (event.kind == "RX")
            frames.push_back({event.time, event.details});
    return frames;
}

std::vector<std::string> BytesOf(const std::vector<Frame>& frames) {
    std::vector<std::string> bytes;
    for (const Frame& frame : frames)
        bytes.push_back(frame.bytes);
    return bytes;
}

// Expects the second frame to follow the first after the answer wait, the pause and the drain.
void ExpectPause(const Frame& first, const Frame& second, ULONGLONG pauseMs) {
    const ULONGLONG gap = second.time - first.time;
    const ULONGLONG expected = 200 + pauseMs + 100;
    EXPECT_GE(gap, expected - EARLY_MS) << first.bytes << " -> " << second.bytes;
    EXPECT_LE(gap, expected + LATE_MS) << first.bytes << " -> " << second.bytes;
}

class OperationsOverTheCable : public RunningPanel {
protected:
    void TearDown() override {
        // A test that pulled the cable puts it back for the next one.
        Cable::Plug();
    }

    // Starts the monitor with the switches and connects to it.
    void ConnectTo(const std::wstring& switches) {
        monitor = std::make_unique<SimulatorProcess>(switches);
        ASSERT_TRUE(monitor->Running());
        ASSERT_TRUE(panel.Click(IDC_CONNECT).empty());
        ASSERT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
        connectFrames = monitor->Frames().size();
    }
    // The frames sent since the connect.
    std::vector<Frame> NewFrames() const {
        std::vector<Frame> frames = FramesOf(*monitor);
        frames.erase(frames.begin(), frames.begin() + long(connectFrames));
        return frames;
    }

    std::unique_ptr<SimulatorProcess> monitor;
    size_t connectFrames = 0;
};

TEST_F(OperationsOverTheCable, AnAcknowledgedSwitchIsFollowedThreeSecondsLaterByTheSignalQuery) {
    ConnectTo(L"--unit-id 1 --source HD1");
    EXPECT_TRUE(panel.Click(IDC_SOURCE_HDMI2).empty());

    const std::vector<Frame> frames = NewFrames();
    ASSERT_EQ(BytesOf(frames), (std::vector<std::string>{"@@1SSSHD2", "@@1SIG000"}));
    ExpectPause(frames[0], frames[1], 3000);
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Input source has been changed successfully. (HDMI2)");
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{1});
}

TEST_F(OperationsOverTheCable, ASourceTheMonitorLacksIsAskedForTwiceTwoSecondsApartAndRefused) {
    ConnectTo(L"--unit-id 1 --source HD1 --sources HD1,HD2,VGA");
    const std::vector<SeenBox> boxes = panel.Click(IDC_SOURCE_HDMI3);

    const std::vector<Frame> frames = NewFrames();
    ASSERT_EQ(BytesOf(frames), (std::vector<std::string>{"@@1SSSHD3", "@@1SSSHD3"}));
    ExpectPause(frames[0], frames[1], 2000);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Information");
    EXPECT_EQ(boxes[0].text, L"This input source is not avaliable in this monitor !!!");
    EXPECT_TRUE(boxes[0].ownedByPanel);
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{0}) << "HDMI 1 is what the monitor shows";
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
}

TEST_F(OperationsOverTheCable, ASwitchRefusedOnceAndAcceptedOnTheResendIsConfirmed) {
    ConnectTo(L"--unit-id 1 --source HD1");
    // The same monitor, now refusing the next frame once.
    monitor = std::make_unique<SimulatorProcess>(L"--unit-id 1 --source HD1 --nak-first 1");
    ASSERT_TRUE(monitor->Running());
    connectFrames = 0;

    EXPECT_TRUE(panel.Click(IDC_SOURCE_VGA).empty());
    const std::vector<Frame> frames = NewFrames();
    ASSERT_EQ(BytesOf(frames), (std::vector<std::string>{"@@1SSSVGA", "@@1SSSVGA", "@@1SIG000"}));
    ExpectPause(frames[0], frames[1], 2000);
    ExpectPause(frames[1], frames[2], 3000);
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Input source has been changed successfully. (VGA)");
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{3});
}

TEST_F(OperationsOverTheCable, ADefaultSettingWithASignalAtOnceReadsTheFourValuesAfterTheWait) {
    ConnectTo(L"--unit-id 1 --source HD2");
    EXPECT_TRUE(panel.Click(IDC_DEFAULT_SETTING).empty());

    const std::vector<Frame> frames = NewFrames();
    ASSERT_EQ(BytesOf(frames), (std::vector<std::string>{"@@1DSSEXE", "@@1SIG000", "@@1SSG000",
                                                         "@@1SIG000", "@@0UIG000", "@@1FVSENA"}));
    ExpectPause(frames[1], frames[2], 2500);
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Default setting is done.");
    EXPECT_EQ(panel.CheckedSources(), std::vector<int>{1});
}

TEST_F(OperationsOverTheCable, ADefaultSettingWithoutASignalPollsFiveTimesAndGoesOn) {
    ConnectTo(L"--unit-id 2 --no-signal");
    EXPECT_TRUE(panel.Click(IDC_DEFAULT_SETTING).empty());

    const std::vector<std::string> frames = BytesOf(NewFrames());
    const std::vector<std::string> expected = {"@@2DSSEXE", "@@2SIG000", "@@2SIG000", "@@2SIG000",
                                               "@@2SIG000", "@@2SIG000", "@@2SSG000", "@@2SIG000",
                                               "@@0UIG000", "@@2FVSENA"};
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(panel.Text(IDC_SIGNAL_STATUS), L"No Signal");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Default setting is done.");
}

TEST_F(OperationsOverTheCable, ACompletedDiagnosticModeLocksTheButtonsUntilDisconnect) {
    ConnectTo(L"--unit-id 1");
    EXPECT_TRUE(panel.Click(IDC_DIAGNOSTIC).empty());

    const std::vector<Frame> frames = NewFrames();
    ASSERT_EQ(BytesOf(frames), (std::vector<std::string>{"@@1DCSPON", "@@1KESFAC", "@@1KESPLS"}));
    ExpectPause(frames[0], frames[1], 2000);
    ExpectPause(frames[1], frames[2], 1000);
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Diagnostic mode is running...");
    const int locked[] = {IDC_SOURCE_HDMI1,  IDC_SOURCE_HDMI2, IDC_SOURCE_HDMI3,
                          IDC_SOURCE_VGA,    IDC_CHECK_SOURCE, IDC_DEFAULT_SETTING,
                          IDC_CHECK_UNIT_ID, IDC_CHECK_SIGNAL, IDC_CHECK_FIRMWARE,
                          IDC_DIAGNOSTIC};
    for (int id : locked)
        EXPECT_FALSE(panel.Enabled(id)) << id;
    for (int id : {IDC_CONNECT, IDC_COM_PORT, IDC_MODEL, IDCANCEL})
        EXPECT_TRUE(panel.Enabled(id)) << id;

    // The model list still switches HDMI 3 and VGA by the model alone.
    panel.Choose(IDC_MODEL, 1);
    EXPECT_TRUE(panel.Enabled(IDC_SOURCE_HDMI3));
    EXPECT_TRUE(panel.Enabled(IDC_SOURCE_VGA));
    EXPECT_FALSE(panel.Enabled(IDC_SOURCE_HDMI1));
    panel.Choose(IDC_MODEL, 4);
    EXPECT_FALSE(panel.Enabled(IDC_SOURCE_HDMI3));
    EXPECT_FALSE(panel.Enabled(IDC_SOURCE_VGA));

    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Disconnected.");
    for (int id : locked)
        EXPECT_EQ(panel.Enabled(id), id != IDC_SOURCE_HDMI3 && id != IDC_SOURCE_VGA) << id;
}

TEST_F(OperationsOverTheCable, OldFirmwareRefusesTheDiagnosticModeAndTheConnectionStays) {
    ConnectTo(L"--unit-id 1 --old-firmware");
    const std::vector<SeenBox> boxes = panel.Click(IDC_DIAGNOSTIC);

    EXPECT_EQ(BytesOf(NewFrames()), std::vector<std::string>{"@@1DCSPON"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].text, L"This monitor has old firmware so this mode can't be executed.");
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Disconnect");
    EXPECT_TRUE(panel.Enabled(IDC_DIAGNOSTIC));
}

TEST_F(OperationsOverTheCable, AResetWithTheCablePulledOutCannotBeWrittenAndDisconnects) {
    ConnectTo(L"--unit-id 1");
    ASSERT_TRUE(Cable::Pull());
    const size_t closes = Cable::Count("close", "panel");
    const std::vector<SeenBox> boxes = panel.Click(IDC_DEFAULT_SETTING);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, SEND_FAILED);
    ASSERT_TRUE(panel.finished());
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Connect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Disconnected.") << "a failed reset is never called done";
    EXPECT_EQ(Cable::Count("close", "panel"), closes);

    // While it is out the port does not open.
    const std::vector<SeenBox> again = panel.Click(IDC_CONNECT);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].text, L"Cannot open serial port. Please check your system configuration!");

    // Put back, the cable carries a new connection.
    ASSERT_TRUE(Cable::Plug());
    monitor = std::make_unique<SimulatorProcess>(L"--unit-id 1");
    ASSERT_TRUE(monitor->Running());
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
}

TEST_F(OperationsOverTheCable,
       ADiagnosticFrameAfterTheCableWasPulledIsReportedAndTheConnectionKept) {
    // The monitor answers the first diagnostic frame (the fifth), then pulls the cable out while
    // the panel waits 2000 ms before the second.
    ConnectTo(L"--unit-id 1 --pull-after 5");
    const std::vector<SeenBox> boxes = panel.Click(IDC_DIAGNOSTIC);

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, LINK_ERROR_OR_NAK);
    EXPECT_EQ(panel.Text(IDC_CONNECT), L"Disconnect");
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Connection is completed.");
    EXPECT_TRUE(panel.Enabled(IDC_DIAGNOSTIC)) << "no lockout";
    EXPECT_TRUE(panel.Click(IDC_CONNECT).empty());
    EXPECT_EQ(panel.Text(IDC_STATUS), L"Disconnected.");
}

} // namespace
