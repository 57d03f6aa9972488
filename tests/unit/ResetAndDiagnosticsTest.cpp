// Restoring the monitor's defaults and starting its diagnostic mode, against a fake monitor on the
// virtual clock.
#include <gtest/gtest.h>
#include "protocol/OperatorTexts.h"
#include "res/resource.h"
#include "tests/support/PanelOnFakePort.h"

namespace {

using Answer = FakeSerialApi::Answer;

const wchar_t* const OLD_FIRMWARE =
    L"This monitor has old firmware so this mode can't be executed.";
const std::vector<bool> ALL_ENABLED(10, true);
const std::vector<bool> ALL_DISABLED(10, false);

constexpr ULONGLONG ANSWER_WAIT = 200;
constexpr ULONGLONG DRAIN = 100;
// Each frame is nine single-byte writes; the connect wrote four frames.
constexpr int WRITES_OF_CONNECT = 36;

class ResetAndDiagnostics : public PanelOnFakePort {
protected:
    // What the monitor answers to the four queries after a reset: now unit 2 on HDMI 1.
    void QueueQueriesAfterReset() {
        for (const char* answer : {"HD1!", "SOK!", "002!", "FV1.10!"})
            port.answers.push_back({answer});
    }
    void ExpectTheHourglassThroughout() {
        EXPECT_EQ(callsWithoutWaitCursor, 0);
        EXPECT_EQ(sleepsWithoutWaitCursor, 0);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
    }
};

TEST_F(ResetAndDiagnostics, AnAcknowledgedResetPollsForTheSignalWaitsAndReadsTheFourValuesAfresh) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"!"});
        port.answers.push_back({"SOK!"});
        QueueQueriesAfterReset();
        Click(IDC_DEFAULT_SETTING);

        EXPECT_EQ(Frames(), (std::vector<std::string>{"@@1DSSEXE", "@@1SIG000", "@@1SSG000",
                                                      "@@1SIG000", "@@0UIG000", "@@2FVSENA"}))
            << "one poll, then source, signal, unit ID and firmware, the last at the new address";
        EXPECT_EQ(FrameTimes()[2] - FrameTimes()[1], ANSWER_WAIT + 2500 + DRAIN);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(Text(IDC_STATUS), L"Default setting is done.");
        EXPECT_EQ(CheckedSources(), std::vector<int>{0});
        EXPECT_EQ(Text(IDC_UNIT_ID), L"2");
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"1.10");
        EXPECT_TRUE(ReplyCleared());
        ExpectTheHourglassThroughout();
    });
}

TEST_F(ResetAndDiagnostics, AMonitorWithoutASignalIsPolledFiveTimesAndTheResetGoesOnSilently) {
    WithPanel([&] {
        Connect();
        port.answers.push_back({"!"});
        // Polls that find no signal, get no answer, part of one or a refusal count alike.
        for (Answer poll :
             {Answer{"NOS!"}, Answer{""}, Answer{"SO"}, Answer{"sok!"}, Answer{"NOS?"}})
            port.answers.push_back(poll);
        QueueQueriesAfterReset();
        Click(IDC_DEFAULT_SETTING);

        const std::vector<std::string> frames = Frames();
        ASSERT_EQ(frames.size(), 10u);
        EXPECT_EQ(std::count(frames.begin() + 1, frames.begin() + 6, "@@1SIG000"), 5);
        EXPECT_EQ(frames[6], "@@1SSG000");
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(Text(IDC_STATUS), L"Default setting is done.");
        ExpectTheHourglassThroughout();
    });
}

// A reset the monitor does not take: the operator is told, nothing more is sent, and the status
// line never claims the reset was done.
struct FailedReset {
    const char* name;
    std::function<void(FakeSerialApi&)> arrange;
    Box box;
    const wchar_t* status;
};

void PrintTo(const FailedReset& row, std::ostream* os) {
    *os << row.name;
}

class FailingReset : public ResetAndDiagnostics,
                     public ::testing::WithParamInterface<FailedReset> {};

TEST_P(FailingReset, IsReportedAndNotCalledDone) {
    const FailedReset& row = GetParam();
    WithPanel([&] {
        Connect();
        row.arrange(port);
        Click(IDC_DEFAULT_SETTING);
        EXPECT_LE(Frames().size(), 1u);
        EXPECT_EQ(Boxes(), std::vector<Box>{row.box});
        EXPECT_TRUE(boxes.boxes.back().waitCursor) << "shown while the hourglass is up";
        EXPECT_EQ(Text(IDC_STATUS), row.status);
        ExpectTheHourglassThroughout();
    });
}

INSTANTIATE_TEST_SUITE_P(
    EachOutcome, FailingReset,
    ::testing::Values(FailedReset{"Refused", [](FakeSerialApi& p) { p.answers.push_back({"?"}); },
                                  ErrorBox(TEXT_LINK_ERROR_OR_NAK), L"Connection is completed."},
                      FailedReset{"NoAcknowledge", [](FakeSerialApi&) {},
                                  ErrorBox(TEXT_LINK_ERROR_OR_NAK), L"Connection is completed."},
                      FailedReset{
                          "CannotBeWritten",
                          [](FakeSerialApi& p) { p.failingWrites = {WRITES_OF_CONNECT + 1}; },
                          ErrorBox(TEXT_SEND_FAILED), L"Disconnected."}),
    [](const ::testing::TestParamInfo<FailedReset>& info) { return info.param.name; });

TEST_F(ResetAndDiagnostics, ACompletedDiagnosticSequenceLocksTheOperationButtonsUntilDisconnect) {
    WithPanel([&] {
        Connect();
        for (int i = 0; i < 3; ++i)
            port.answers.push_back({"!"});
        Click(IDC_DIAGNOSTIC);

        EXPECT_EQ(Frames(), (std::vector<std::string>{"@@1DCSPON", "@@1KESFAC", "@@1KESPLS"}));
        EXPECT_EQ(FrameTimes()[1] - FrameTimes()[0], ANSWER_WAIT + 2000 + DRAIN);
        EXPECT_EQ(FrameTimes()[2] - FrameTimes()[1], ANSWER_WAIT + 1000 + DRAIN);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(Text(IDC_STATUS), L"Diagnostic mode is running...");
        EXPECT_EQ(OperationButtons(), ALL_DISABLED);
        for (int id : {IDC_CONNECT, IDC_COM_PORT, IDC_MODEL, IDCANCEL})
            EXPECT_TRUE(::IsWindowEnabled(Item(id))) << id;
        ExpectTheHourglassThroughout();

        // The model list still decides HDMI 3 and VGA alone.
        ::SendMessageW(Item(IDC_MODEL), CB_SETCURSEL, 2, 0);
        ::SendMessageW(panel.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_MODEL, CBN_SELCHANGE),
                       LPARAM(Item(IDC_MODEL)));
        EXPECT_EQ(OperationButtons(), (std::vector<bool>{false, false, true, true, false, false,
                                                         false, false, false, false}));

        Click(IDC_CONNECT);
        EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);
    });
}

// A diagnostic sequence that stops: which frame, how, and what the operator is told.
struct FailedDiagnostic {
    const char* name;
    std::function<void(FakeSerialApi&)> arrange;
    size_t frames;
    Box box;
    bool disconnects;
};

void PrintTo(const FailedDiagnostic& row, std::ostream* os) {
    *os << row.name;
}

class FailingDiagnostic : public ResetAndDiagnostics,
                          public ::testing::WithParamInterface<FailedDiagnostic> {};

TEST_P(FailingDiagnostic, StopsWithItsBoxAndLeavesThePanelUnlocked) {
    const FailedDiagnostic& row = GetParam();
    WithPanel([&] {
        Connect();
        row.arrange(port);
        Click(IDC_DIAGNOSTIC);

        EXPECT_EQ(Frames().size(), row.frames);
        EXPECT_EQ(Boxes(), std::vector<Box>{row.box});
        EXPECT_FALSE(boxes.boxes.back().waitCursor) << "the hourglass ends before the box";
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
        EXPECT_EQ(g_bConnected, row.disconnects ? 0 : 1);
        EXPECT_EQ(Text(IDC_STATUS),
                  row.disconnects ? L"Disconnected." : L"Connection is completed.");
        EXPECT_EQ(Text(IDC_CONNECT), row.disconnects ? L"Connect" : L"Disconnect");
    });
}

Answer Ack() {
    return {"!"};
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, FailingDiagnostic,
    ::testing::Values(FailedDiagnostic{"OldFirmwareRefusesTheFirstFrame",
                                       [](FakeSerialApi& p) { p.answers = {{"?"}}; }, 1,
                                       ErrorBox(OLD_FIRMWARE), false},
                      FailedDiagnostic{"NoAcknowledgeToTheFirstFrame", [](FakeSerialApi&) {}, 1,
                                       ErrorBox(TEXT_SEND_FAILED), true},
                      FailedDiagnostic{
                          "FirstFrameCannotBeWritten",
                          [](FakeSerialApi& p) { p.failingWrites = {WRITES_OF_CONNECT + 1}; }, 0,
                          ErrorBox(TEXT_SEND_FAILED), true},
                      FailedDiagnostic{"SecondFrameRefused",
                                       [](FakeSerialApi& p) {
                                           p.answers = {Ack(), {"?"}};
                                       },
                                       2, ErrorBox(TEXT_LINK_ERROR_OR_NAK), false},
                      FailedDiagnostic{"NoAcknowledgeToTheSecondFrame",
                                       [](FakeSerialApi& p) { p.answers = {Ack()}; }, 2,
                                       ErrorBox(TEXT_LINK_ERROR_OR_NAK), false},
                      FailedDiagnostic{"SecondFrameCannotBeWritten",
                                       [](FakeSerialApi& p) {
                                           p.answers = {Ack()};
                                           p.failingWrites = {WRITES_OF_CONNECT + 10};
                                       },
                                       1, ErrorBox(TEXT_LINK_ERROR_OR_NAK), false},
                      FailedDiagnostic{"ThirdFrameRefused",
                                       [](FakeSerialApi& p) {
                                           p.answers = {Ack(), Ack(), {"?"}};
                                       },
                                       3, ErrorBox(TEXT_LINK_ERROR_OR_NAK), false},
                      FailedDiagnostic{"ThirdFrameCannotBeWritten",
                                       [](FakeSerialApi& p) {
                                           p.answers = {Ack(), Ack()};
                                           p.failingWrites = {WRITES_OF_CONNECT + 19};
                                       },
                                       2, ErrorBox(TEXT_LINK_ERROR_OR_NAK), false}),
    [](const ::testing::TestParamInfo<FailedDiagnostic>& info) { return info.param.name; });

TEST_F(ResetAndDiagnostics, WithoutAConnectionNeitherButtonSendsShowsOrChangesAnything) {
    WithPanel([&] {
        Click(IDC_DEFAULT_SETTING);
        Click(IDC_DIAGNOSTIC);
        EXPECT_TRUE(port.calls.empty());
        EXPECT_TRUE(Boxes().empty());
        EXPECT_TRUE(clock.sleeps.empty());
        EXPECT_EQ(Text(IDC_STATUS), L"Ready .....");
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);
    });
}

} // namespace
