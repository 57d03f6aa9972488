// Switching the monitor's input source, against a fake monitor on the virtual clock.
#include <gtest/gtest.h>
#include "protocol/OperatorTexts.h"
#include "res/resource.h"
#include "tests/support/PanelOnFakePort.h"

namespace {

using Answer = FakeSerialApi::Answer;

const wchar_t* const NOT_AVAILABLE = L"This input source is not avaliable in this monitor !!!";

// A frame's own wait for its answer, and the drain's empty read before the next frame.
constexpr ULONGLONG ANSWER_WAIT = 200;
constexpr ULONGLONG DRAIN = 100;

class SourceSelection : public PanelOnFakePort {
protected:
    // The signal-query answer that follows an acknowledged switch.
    void QueueSignal(const char* answer = "SOK!") { port.answers.push_back({answer}); }
    void ExpectNoWaitWithoutTheHourglass() {
        EXPECT_EQ(callsWithoutWaitCursor, 0);
        EXPECT_EQ(sleepsWithoutWaitCursor, 0);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
    }
};

TEST_F(SourceSelection, AnAcknowledgedSwitchWaitsThreeSecondsRecordsTheSourceAndRereadsTheSignal) {
    struct Row {
        int source;
        const char* frame;
        const wchar_t* status;
    };
    const Row rows[] = {
        {0, "@@1SSSHD1", L"Input source has been changed successfully. (HDMI1)"},
        {1, "@@1SSSHD2", L"Input source has been changed successfully. (HDMI2)"},
        {2, "@@1SSSHD3", L"Input source has been changed successfully. (HDMI3)"},
        {3, "@@1SSSVGA", L"Input source has been changed successfully. (VGA)"},
        {3, "@@1SSSVGA", L"Input source has been changed successfully. (VGA)"}, // again
    };
    WithPanel([&] {
        Connect();
        for (const Row& row : rows) {
            const size_t before = Frames().size();
            port.answers.push_back({"!"});
            QueueSignal("NOS!");
            Click(SOURCE_BUTTONS[row.source]);

            const std::vector<std::string> frames = Frames();
            ASSERT_EQ(frames.size(), before + 2);
            EXPECT_EQ(frames[before], row.frame);
            EXPECT_EQ(frames[before + 1], "@@1SIG000");
            EXPECT_EQ(FrameTimes()[before + 1] - FrameTimes()[before], ANSWER_WAIT + 3000 + DRAIN);
            EXPECT_EQ(panel.m_nSource, row.source);
            EXPECT_EQ(CheckedSources(), std::vector<int>{row.source});
            EXPECT_EQ(Text(IDC_SIGNAL_STATUS), L"No Signal");
            EXPECT_EQ(Text(IDC_STATUS), row.status);
        }
        EXPECT_TRUE(Boxes().empty());
        ExpectNoWaitWithoutTheHourglass();
    });
}

TEST_F(SourceSelection, TheAddressIsTakenFromTheUnitIdAtTheTimeOfTheSwitch) {
    WithPanel([&] {
        Connect();
        panel.m_nUnitId = 4;
        port.answers.push_back({"!"});
        QueueSignal();
        Click(IDC_SOURCE_HDMI1);
        EXPECT_EQ(Frames(), (std::vector<std::string>{"@@4SSSHD1", "@@4SIG000"}));
    });
}

TEST_F(SourceSelection, ASourceRefusedTwiceGetsTwoIdenticalFramesTwoSecondsApartAndAWord) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"?"});
        port.answers.push_back({"?"});
        Click(IDC_SOURCE_HDMI3);

        EXPECT_EQ(Frames(), (std::vector<std::string>{"@@1SSSHD3", "@@1SSSHD3"}));
        EXPECT_EQ(FrameTimes()[1] - FrameTimes()[0], ANSWER_WAIT + 2000 + DRAIN)
            << "2000 ms between the first answer and the second frame";
        EXPECT_EQ(Boxes(), std::vector<Box>{InformationBox(NOT_AVAILABLE)});
        EXPECT_EQ(boxes.boxes.back().owner, panel.m_hWnd);
        EXPECT_EQ(panel.m_nSource, 1);
        EXPECT_EQ(CheckedSources(), std::vector<int>{1}) << "the mark goes back to HDMI 2";
        EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
        EXPECT_EQ(g_bConnected, 1);
        ExpectNoWaitWithoutTheHourglass();

        // The firmware query takes the checked button: it is the source the monitor has.
        port.answers.push_back({"FV1.02!"});
        Click(IDC_CHECK_FIRMWARE);
        EXPECT_EQ(panel.m_nSource, 1);
    });
}

TEST_F(SourceSelection, ASourceRefusedOnceAndAcceptedOnTheResendIsASwitchLikeAnyOther) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"?"});
        port.answers.push_back({"!"});
        QueueSignal();
        Click(IDC_SOURCE_VGA);

        EXPECT_EQ(Frames(), (std::vector<std::string>{"@@1SSSVGA", "@@1SSSVGA", "@@1SIG000"}));
        EXPECT_EQ(FrameTimes()[2] - FrameTimes()[1], ANSWER_WAIT + 3000 + DRAIN);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(panel.m_nSource, 3);
        EXPECT_EQ(CheckedSources(), std::vector<int>{3});
        EXPECT_EQ(Text(IDC_STATUS), L"Input source has been changed successfully. (VGA)");
    });
}

// A switch that does not go through, and what the operator is told.
struct FailedSwitch {
    const char* name;
    std::function<void(FakeSerialApi&)> arrange;
    size_t frames;
    Box box;
    bool disconnects;
};

void PrintTo(const FailedSwitch& row, std::ostream* os) {
    *os << row.name;
}

class FailingSwitch : public SourceSelection, public ::testing::WithParamInterface<FailedSwitch> {};

TEST_P(FailingSwitch, IsReportedAndLeavesTheSourceTheMonitorHas) {
    const FailedSwitch& row = GetParam();
    WithPanel([&] {
        Connect();
        row.arrange(port);
        Click(IDC_SOURCE_HDMI1);

        EXPECT_EQ(Frames().size(), row.frames);
        EXPECT_EQ(Boxes(), std::vector<Box>{row.box});
        EXPECT_TRUE(boxes.boxes.back().waitCursor);
        EXPECT_TRUE(ReplyCleared());
        const std::vector<DWORD> sleeps = Sleeps();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 3000u), 0) << "no success steps";
        ExpectNoWaitWithoutTheHourglass();
        if (row.disconnects) {
            EXPECT_EQ(g_bConnected, 0);
            EXPECT_EQ(Text(IDC_STATUS), L"Disconnected.");
            EXPECT_TRUE(CheckedSources().empty());
            EXPECT_EQ(port.handlesOpen, 0);
        } else {
            EXPECT_EQ(g_bConnected, 1);
            EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
            EXPECT_EQ(panel.m_nSource, 1);
            EXPECT_EQ(CheckedSources(), std::vector<int>{1});
        }
    });
}

// Each frame is nine single-byte writes; the connect wrote four frames.
constexpr int FIRST_WRITE_OF_SWITCH = 37;
constexpr int FIRST_WRITE_OF_RESEND = 46;

INSTANTIATE_TEST_SUITE_P(
    EachOutcome, FailingSwitch,
    ::testing::Values(
        FailedSwitch{"NoAcknowledge", [](FakeSerialApi&) {}, 1, ErrorBox(TEXT_LINK_ERROR), false},
        FailedSwitch{"SwitchCannotBeWritten",
                     [](FakeSerialApi& p) { p.failingWrites = {FIRST_WRITE_OF_SWITCH + 3}; }, 0,
                     ErrorBox(TEXT_SEND_FAILED), true},
        FailedSwitch{"RefusedThenNoAcknowledge",
                     [](FakeSerialApi& p) { p.answers.push_back({"?"}); }, 2,
                     ErrorBox(TEXT_LINK_ERROR), false},
        FailedSwitch{"RefusedThenTheResendCannotBeWritten",
                     [](FakeSerialApi& p) {
                         p.answers.push_back({"?"});
                         p.failingWrites = {FIRST_WRITE_OF_RESEND};
                     },
                     1, ErrorBox(TEXT_SEND_FAILED), true}),
    [](const ::testing::TestParamInfo<FailedSwitch>& info) { return info.param.name; });

TEST_F(SourceSelection, AFailingSignalQueryAfterTheSwitchIsReportedButTheSwitchStillIsConfirmed) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"!"});
        port.answers.push_back({"SOK"}); // no acknowledge
        Click(IDC_SOURCE_HDMI2);
        EXPECT_EQ(Boxes(), std::vector<Box>{ErrorBox(TEXT_LINK_ERROR)});
        EXPECT_EQ(Text(IDC_STATUS), L"Input source has been changed successfully. (HDMI2)");
        EXPECT_EQ(CheckedSources(), std::vector<int>{1});

        // The signal frame cannot be written: the switch was taken, the connection is gone.
        port.answers.push_back({"!"});
        port.failingWrites = {port.Count("WriteFile") + 10};
        Click(IDC_SOURCE_HDMI1);
        EXPECT_EQ(Boxes().back(), ErrorBox(TEXT_SEND_FAILED));
        EXPECT_EQ(g_bConnected, 0);
        EXPECT_EQ(Text(IDC_STATUS), L"Input source has been changed successfully. (HDMI1)");
        EXPECT_TRUE(CheckedSources().empty());
    });
}

} // namespace
