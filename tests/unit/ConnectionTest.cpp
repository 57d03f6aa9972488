// Connecting to a monitor, disconnecting and closing the panel, on the fake port.
#include <gtest/gtest.h>
#include <optional>
#include "protocol/OperatorTexts.h"
#include "res/resource.h"
#include "tests/support/ModalRunner.h"
#include "tests/support/PanelOnFakePort.h"

namespace {

const wchar_t* const CANNOT_OPEN =
    L"Cannot open serial port. Please check your system configuration!";
const std::vector<bool> ALL_ENABLED(10, true);
const std::vector<bool> ALL_DISABLED(10, false);

class Connection : public PanelOnFakePort {};

TEST_F(Connection, ACompletedConnectOpensTheSelectedPortReadsTheFourValuesAndSaysSo) {
    WithPanel([&] {
        ::SendMessageW(Item(IDC_COM_PORT), CB_SETCURSEL, 11, 0);
        ::SetWindowTextW(Item(IDC_COM_PORT), L"COM7"); // typed text is not the port
        QueueConnectAnswers();
        Click(IDC_CONNECT);

        EXPECT_EQ(port.paths, std::vector<std::string>{"//./COM12"});
        EXPECT_EQ(port.appliedDcb.BaudRate, 19200u);
        EXPECT_EQ(port.appliedDcb.ByteSize, 8);
        EXPECT_EQ(port.appliedDcb.Parity, NOPARITY);
        EXPECT_EQ(port.appliedDcb.StopBits, ONESTOPBIT);
        EXPECT_EQ(port.appliedDcb.fParity, 0u);
        EXPECT_EQ(port.appliedTimeouts.ReadIntervalTimeout, MAXDWORD);
        EXPECT_EQ(port.appliedTimeouts.ReadTotalTimeoutMultiplier, 100u);
        EXPECT_EQ(port.appliedTimeouts.ReadTotalTimeoutConstant, 0u);
        EXPECT_EQ(port.appliedTimeouts.WriteTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(port.appliedTimeouts.WriteTotalTimeoutConstant, 0u);
        EXPECT_EQ(Frames(),
                  (std::vector<std::string>{"@@0UIG000", "@@1SSG000", "@@1SIG000", "@@1FVSENA"}));

        EXPECT_EQ(g_bConnected, 1);
        EXPECT_EQ(Text(IDC_CONNECT), L"Disconnect");
        EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
        EXPECT_EQ(Text(IDC_UNIT_ID), L"1");
        EXPECT_EQ(CheckedSources(), std::vector<int>{1});
        EXPECT_EQ(Text(IDC_SIGNAL_STATUS), L"Signal OK");
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"1.02");
        EXPECT_EQ(panel.m_nUnitId, 1);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(callsWithoutWaitCursor, 0);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW)) << "the hourglass is gone";
        EXPECT_EQ(port.handlesOpen, 1);
    });
}

// One way a connect attempt fails, the boxes the operator sees, and what the attempt leaves.
struct FailedConnect {
    const char* name;
    std::function<void(FakeSerialApi&)> arrange;
    std::vector<Box> boxes;
    int closes;            // CloseHandle calls: the port is released exactly once if opened
    const wchar_t* status; // the status line afterwards
    size_t frames;         // frames sent
};

void PrintTo(const FailedConnect& row, std::ostream* os) {
    *os << row.name;
}

bool IsChannelBox(const std::wstring& text) {
    return text == L"GetCommState Error" || text == L"SetCommState Error" ||
           text == L"StCommTimeouts function failed";
}

class FailingConnect : public PanelOnFakePort,
                       public ::testing::WithParamInterface<FailedConnect> {};

TEST_P(FailingConnect, ShowsItsBoxesReleasesThePortOnceAndLeavesNoConnection) {
    const FailedConnect& row = GetParam();
    WithPanel([&] {
        row.arrange(port);
        Click(IDC_CONNECT);

        EXPECT_EQ(Boxes(), row.boxes);
        // The panel's own boxes are modal to it; the channel's have no owner window.
        for (const MessageBoxCall& box : boxes.boxes)
            EXPECT_EQ(box.owner, IsChannelBox(box.text) ? nullptr : panel.m_hWnd) << box.text;
        EXPECT_EQ(port.Count("CloseHandle"), row.closes);
        EXPECT_EQ(port.handlesOpen, 0);
        EXPECT_EQ(port.frames.size(), row.frames);
        EXPECT_EQ(g_bConnected, 0);
        EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
        EXPECT_EQ(Text(IDC_STATUS), row.status);
        EXPECT_EQ(callsWithoutWaitCursor, 0);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));

        // The next click tries again from the start.
        port.openFails = false;
        port.getCommStateFails = port.setCommStateFails = false;
        port.getCommTimeoutsFails = port.setCommTimeoutsFails = false;
        port.failingWrites.clear();
        port.answers.clear();
        QueueConnectAnswers();
        Click(IDC_CONNECT);
        EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
    });
}

Box ChannelBox(const wchar_t* text, const wchar_t* caption) {
    return {text, caption, MB_ICONHAND};
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, FailingConnect,
    ::testing::Values(FailedConnect{"PortDoesNotOpen",
                                    [](FakeSerialApi& p) { p.openFails = true; },
                                    {ErrorBox(CANNOT_OPEN)},
                                    0,
                                    L"Ready .....",
                                    0},
                      FailedConnect{"LineSettingsCannotBeRead",
                                    [](FakeSerialApi& p) { p.getCommStateFails = true; },
                                    {ChannelBox(L"GetCommState Error", L"Error"),
                                     ErrorBox(L"Cannot Configure Communication Port")},
                                    1,
                                    L"Ready .....",
                                    0},
                      FailedConnect{"LineSettingsRefused",
                                    [](FakeSerialApi& p) { p.setCommStateFails = true; },
                                    {ChannelBox(L"SetCommState Error", L"Error"),
                                     ErrorBox(L"Cannot Configure Communication Port")},
                                    1,
                                    L"Ready .....",
                                    0},
                      FailedConnect{"TimeoutsCannotBeRead",
                                    [](FakeSerialApi& p) { p.getCommTimeoutsFails = true; },
                                    {ErrorBox(L"Cannot Configure Communication Timeouts")},
                                    1,
                                    L"Ready .....",
                                    0},
                      FailedConnect{
                          "TimeoutsRefused",
                          [](FakeSerialApi& p) { p.setCommTimeoutsFails = true; },
                          {ChannelBox(L"StCommTimeouts function failed", L"Com Port Error"),
                           ErrorBox(L"Cannot Configure Communication Timeouts")},
                          1,
                          L"Ready .....",
                          0},
                      FailedConnect{"MonitorIsSilent",
                                    [](FakeSerialApi&) {},
                                    {ErrorBox(TEXT_NO_ANSWER)},
                                    1,
                                    L"Ready .....",
                                    1},
                      FailedConnect{"UnitIdQueryCannotBeWritten",
                                    [](FakeSerialApi& p) { p.failingWrites = {4}; },
                                    {ErrorBox(TEXT_SEND_FAILED)},
                                    1,
                                    L"Disconnected.",
                                    0},
                      // Each frame is nine writes: the 10th, 19th and 28th are the first bytes of
                      // the second, third and fourth queries.
                      FailedConnect{"SourceQueryCannotBeWritten",
                                    [](FakeSerialApi& p) {
                                        p.failingWrites = {10};
                                        p.answers.push_back({"001!"});
                                    },
                                    {ErrorBox(TEXT_SEND_FAILED)},
                                    1,
                                    L"Disconnected.",
                                    1},
                      FailedConnect{"SignalQueryCannotBeWritten",
                                    [](FakeSerialApi& p) {
                                        p.failingWrites = {19};
                                        p.answers.push_back({"001!"});
                                        p.answers.push_back({"HD2!"});
                                    },
                                    {ErrorBox(TEXT_SEND_FAILED)},
                                    1,
                                    L"Disconnected.",
                                    2},
                      FailedConnect{"FirmwareQueryCannotBeWritten",
                                    [](FakeSerialApi& p) {
                                        p.failingWrites = {28};
                                        p.answers.push_back({"001!"});
                                        p.answers.push_back({"HD2!"});
                                        p.answers.push_back({"SOK!"});
                                    },
                                    {ErrorBox(TEXT_SEND_FAILED)},
                                    1,
                                    L"Disconnected.",
                                    3}),
    [](const ::testing::TestParamInfo<FailedConnect>& info) { return info.param.name; });

TEST_F(Connection, WithNoPortSelectedTheAttemptIsAPortThatDoesNotOpenAndNothingIsOpened) {
    WithPanel([&] {
        ::SendMessageW(Item(IDC_COM_PORT), CB_SETCURSEL, WPARAM(-1), 0);
        ::SetWindowTextW(Item(IDC_COM_PORT), L"COM3");
        Click(IDC_CONNECT);
        EXPECT_EQ(Boxes(), std::vector<Box>{ErrorBox(CANNOT_OPEN)});
        EXPECT_EQ(port.Count("CreateFileA"), 0);
        EXPECT_TRUE(port.calls.empty());
        EXPECT_EQ(Text(IDC_STATUS), L"Ready .....");
        EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
        EXPECT_EQ(g_bConnected, 0);
    });
}

TEST_F(Connection, AQueryThatFailsAfterTheUnitIdKeepsTheConnectionAndTheOthersStillRun) {
    WithPanel([&] {
        port.answers.push_back({"001!"});
        port.answers.push_back({"HD2"}); // no acknowledge: a link error, reported
        port.answers.push_back({"SOK!"});
        port.answers.push_back({"FV1.02!"});
        Click(IDC_CONNECT);
        EXPECT_EQ(Boxes(), std::vector<Box>{ErrorBox(TEXT_LINK_ERROR)});
        EXPECT_EQ(port.frames.size(), 4u);
        EXPECT_EQ(Text(IDC_CONNECT), L"Disconnect");
        EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
    });
}

TEST_F(Connection, DisconnectClosesThePortOnceAndResetsThePanelButKeepsTheUnitId) {
    WithPanel([&] {
        ::SendMessageW(Item(IDC_MODEL), CB_SETCURSEL, 2, 0);
        ::SendMessageW(Item(IDC_COM_PORT), CB_SETCURSEL, 0, 0);
        Connect();
        const size_t callsBefore = port.calls.size();
        Click(IDC_CONNECT);

        EXPECT_EQ(port.CallsSince(callsBefore),
                  (std::vector<std::string>{"SetCommMask", "FlushFileBuffers", "CloseHandle"}));
        EXPECT_TRUE(Frames().empty());
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ(g_bConnected, 0);
        EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
        EXPECT_EQ(Text(IDC_STATUS), L"Disconnected.");
        EXPECT_EQ(Text(IDC_UNIT_ID), L"");
        EXPECT_EQ(Text(IDC_SIGNAL_STATUS), L"");
        EXPECT_EQ(Text(IDC_FIRMWARE_VERSION), L"");
        EXPECT_TRUE(CheckedSources().empty());
        EXPECT_EQ(panel.m_nSource, -1);
        EXPECT_EQ(panel.m_nUnitId, 1) << "kept until the next unit-ID query";
        EXPECT_EQ(Text(IDC_MODEL), L"PX-210");
        EXPECT_EQ(Text(IDC_COM_PORT), L"COM1");
    });
}

TEST_F(Connection, DisconnectEndsTheDiagnosticLockoutWhileThePX400KeepsHdmi3AndVgaOff) {
    WithPanel([&] {
        Connect();
        panel.EnableControls(TRUE);
        EXPECT_EQ(OperationButtons(), ALL_DISABLED);
        Click(IDC_CONNECT);
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);

        Connect();
        panel.EnableControls(TRUE);
        ::SendMessageW(Item(IDC_MODEL), CB_SETCURSEL, 4, 0);
        Click(IDC_CONNECT);
        EXPECT_EQ(OperationButtons(), (std::vector<bool>{true, true, false, false, true, true, true,
                                                         true, true, true}));
    });
}

TEST_F(Connection, AConnectAfterADisconnectAsksTheUnitIdAtAddressZeroAgain) {
    WithPanel([&] {
        Connect();
        Click(IDC_CONNECT);
        port.answers.push_back({"003!"});
        port.answers.push_back({"VGA!"});
        port.answers.push_back({"NOS!"});
        port.answers.push_back({"FV2.00!"});
        Click(IDC_CONNECT);
        EXPECT_EQ(Frames(),
                  (std::vector<std::string>{"@@0UIG000", "@@3SSG000", "@@3SIG000", "@@3FVSENA"}));
        EXPECT_EQ(port.Count("CloseHandle"), 1);
        EXPECT_EQ(port.handlesOpen, 1);
    });
}

// How the operator leaves the panel.
struct Leaving {
    const char* name;
    std::function<void(HWND panel)> leave;
    INT_PTR result;
};

void PrintTo(const Leaving& way, std::ostream* os) {
    *os << way.name;
}

class LeavingThePanel : public PanelOnFakePort, public ::testing::WithParamInterface<Leaving> {};

TEST_P(LeavingThePanel, WhileConnectedDrainsAndClosesThePortOnceAndEndsThePanel) {
    size_t callsBefore = 0;
    const INT_PTR result = RunModalUntilEnded(panel, [&] {
        Connect();
        port.Arrive(clock.Now(), "stale");
        callsBefore = port.calls.size();
        GetParam().leave(panel.m_hWnd);
    });
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(g_bConnected, 0);
    EXPECT_EQ(port.Count("CloseHandle"), 1);
    EXPECT_EQ(port.handlesOpen, 0);
    // The five stale bytes and then a quiet read drain the line; only then does the port close.
    std::vector<std::string> drainThenClose(6, "ReadFile");
    drainThenClose.insert(drainThenClose.end(), {"SetCommMask", "FlushFileBuffers", "CloseHandle"});
    EXPECT_EQ(port.CallsSince(callsBefore), drainThenClose);
    EXPECT_TRUE(Boxes().empty());
}

// Ends the dialog with -3 from its modal loop at the loop's next turn, unless the run ends before:
// a run that ends with -3 was still going when the test's body returned.
class EndAtTheLoopsNextTurn {
public:
    explicit EndAtTheLoopsNextTurn(CDialog& dialog) {
        s_dialog = &dialog;
        m_timer = ::SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
            ::KillTimer(nullptr, id);
            s_dialog->EndDialog(-3);
        });
    }
    ~EndAtTheLoopsNextTurn() { ::KillTimer(nullptr, m_timer); }

private:
    static inline CDialog* s_dialog = nullptr;
    UINT_PTR m_timer;
};

TEST_P(LeavingThePanel, WhileAnOperationRunsIsIgnored) {
    std::optional<EndAtTheLoopsNextTurn> ending;
    const INT_PTR result = RunModalUntilEnded(panel, [&] {
        QueueConnectAnswers();
        // The serial channel's boxes have no owner, so the panel takes the operator's input while
        // the connect still runs: here the operator leaves as the line settings are applied.
        bool left = false;
        port.onCall = [&](const std::string& call) {
            if (call != "SetCommState" || left)
                return;
            left = true;
            GetParam().leave(panel.m_hWnd);
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!::IsDialogMessageW(panel.m_hWnd, &msg))
                    ::DispatchMessageW(&msg);
            }
        };
        Click(IDC_CONNECT);
        port.onCall = nullptr;
        EXPECT_TRUE(left);
        EXPECT_TRUE(::IsWindowVisible(panel.m_hWnd));
        EXPECT_EQ(Text(IDC_STATUS), L"Connection is completed.");
        EXPECT_EQ(port.handlesOpen, 1);
        ending.emplace(panel);
    });
    EXPECT_EQ(result, -3) << "the panel stayed until the test ended it";
}

TEST_P(LeavingThePanel, WhileAnAutomationClientHoldsThePanelOnlyHidesIt) {
    const INT_PTR result = RunModalUntilEnded(
        panel,
        [&] {
            Connect();
            // Any non-null value marks a client; the panel never follows the pointer here.
            panel.m_pAutoProxy = reinterpret_cast<CKelvaneDlgAutoProxy*>(&panel);
            GetParam().leave(panel.m_hWnd);
            // Let a close request's follow-up commands arrive before looking.
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!::IsDialogMessageW(panel.m_hWnd, &msg))
                    ::DispatchMessageW(&msg);
            }
            EXPECT_FALSE(::IsWindowVisible(panel.m_hWnd));
            EXPECT_EQ(g_bConnected, 1);
            EXPECT_EQ(port.handlesOpen, 1);
            EXPECT_EQ(port.Count("CloseHandle"), 0);
            panel.m_pAutoProxy = nullptr;
            panel.EndDialog(-3);
        },
        5000);
    EXPECT_EQ(result, -3) << "the panel stayed until the test ended it";
}

INSTANTIATE_TEST_SUITE_P(
    EachWay, LeavingThePanel,
    ::testing::Values(
        Leaving{"ExitButton",
                [](HWND panel) { ::SendMessageW(::GetDlgItem(panel, IDCANCEL), BM_CLICK, 0, 0); },
                IDCANCEL},
        // The dialog manager turns Escape on any control into the cancel command.
        Leaving{"EscapeKey",
                [](HWND panel) {
                    ::PostMessageW(::GetDlgItem(panel, IDC_CONNECT), WM_KEYDOWN, VK_ESCAPE, 0);
                },
                IDCANCEL},
        // The close request asks CanExit, then becomes the cancel command, which asks again.
        Leaving{"CloseButton",
                [](HWND panel) { ::SendMessageW(panel, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
        Leaving{
            "AcceptCommand",
            [](HWND panel) { ::SendMessageW(panel, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); },
            IDOK}),
    [](const ::testing::TestParamInfo<Leaving>& info) { return info.param.name; });

TEST_F(Connection, LeavingWithoutAConnectionTouchesNoPort) {
    const INT_PTR result = RunModalUntilEnded(
        panel, [&] { ::SendMessageW(panel.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(port.calls.empty());
}

TEST_F(Connection, OpeningAChannelThatStillHoldsAPortReleasesThatPortFirst) {
    ASSERT_EQ(panel.m_serial.Open("COM1"), 1);
    EXPECT_EQ(panel.m_serial.Open("COM2"), 1);
    EXPECT_EQ(port.Count("CloseHandle"), 1);
    EXPECT_EQ(port.handlesOpen, 1);
}

} // namespace
