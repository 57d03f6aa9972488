// The panel's state after start, its data exchange and its enabling rules.
#include <gtest/gtest.h>
#include <climits>
#include "panel/KelvaneDlg.h"
#include "res/resource.h"
#include "tests/support/DialogReading.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalRunner.h"
#include "tests/support/PanelOnFakePort.h"
#include "tests/support/VirtualClock.h"

namespace {

constexpr int OTHER_CONTROLS[] = {
    IDC_CONNECT,       IDC_COM_PORT,         IDC_MODEL,  IDCANCEL, IDC_STATUS,
    IDC_SIGNAL_STATUS, IDC_FIRMWARE_VERSION, IDC_UNIT_ID};

class PanelState : public ::testing::Test {
protected:
    // Runs body inside the panel's modal run.
    void WithPanel(const std::function<void()>& body) { RunModal(panel, body); }

    HWND Item(int id) const { return ::GetDlgItem(panel.m_hWnd, id); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    bool Checked(int id) const {
        return ::SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    std::vector<int> CheckedSources() const {
        std::vector<int> checked;
        for (int i = 0; i < 4; ++i)
            if (Checked(SOURCE_BUTTONS[i]))
                checked.push_back(i);
        return checked;
    }
    // What the operator's choice in the model list does: select, then the list's notification.
    void ChooseModel(int index) {
        ::SendMessageW(Item(IDC_MODEL), CB_SETCURSEL, index, 0);
        ::SendMessageW(panel.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_MODEL, CBN_SELCHANGE),
                       LPARAM(Item(IDC_MODEL)));
    }
    // The enabled state of the ten operation buttons, HDMI 3 and VGA at 2 and 3.
    std::vector<bool> OperationButtons() const {
        std::vector<bool> enabled;
        for (int id : OPERATION_BUTTONS)
            enabled.push_back(Enabled(id));
        return enabled;
    }

    CKelvaneDlg panel;
};

const std::vector<bool> ALL_ENABLED(10, true);
const std::vector<bool> ALL_DISABLED(10, false);
const std::vector<bool> NO_HDMI3_NO_VGA = {true, true, false, false, true,
                                           true, true, true,  true,  true};

TEST_F(PanelState, RightAfterStartThePanelIsReadyAndEverythingIsEnabled) {
    WithPanel([&] {
        EXPECT_EQ(TextOf(Item(IDC_STATUS)), L"Ready .....");
        EXPECT_EQ(TextOf(Item(IDC_UNIT_ID)), L"");
        EXPECT_EQ(TextOf(Item(IDC_SIGNAL_STATUS)), L"");
        EXPECT_EQ(TextOf(Item(IDC_FIRMWARE_VERSION)), L"");
        EXPECT_TRUE(CheckedSources().empty());
        EXPECT_EQ(TextOf(Item(IDC_COM_PORT)), L"COM1");
        EXPECT_EQ(TextOf(Item(IDC_MODEL)), L"PX-100");
        EXPECT_EQ(TextOf(Item(IDC_CONNECT)), L"Connect");
        for (HWND child : ChildrenInTabOrder(panel.m_hWnd))
            EXPECT_TRUE(::IsWindowEnabled(child)) << ::GetDlgCtrlID(child);
        EXPECT_EQ(::GetFocus(), Item(IDC_CONNECT)) << "the first tab stop has the focus";

        EXPECT_EQ(panel.m_nUnitId, 0);
        EXPECT_EQ(panel.m_nSource, -1);
        EXPECT_EQ(panel.m_strStatus, L"Ready .....");
        EXPECT_EQ(panel.m_pAutoProxy, nullptr);
        EXPECT_EQ(panel.m_cbModel.m_hWnd, Item(IDC_MODEL)) << "controls attached at the start";
        EXPECT_EQ(panel.m_cbComPort.m_hWnd, Item(IDC_COM_PORT));
        EXPECT_EQ(panel.m_btnConnect.m_hWnd, Item(IDC_CONNECT));
    });
}

TEST_F(PanelState, LoadingTheSourceChecksThatButtonAloneOrNoneOutsideZeroToThree) {
    WithPanel([&] {
        const std::pair<int, std::vector<int>> cases[] = {
            {0, {0}}, {1, {1}}, {2, {2}}, {3, {3}}, {-1, {}}, {4, {}}, {7, {}}, {INT_MIN, {}}};
        for (const auto& [source, checked] : cases) {
            ::SendMessageW(Item(IDC_SOURCE_VGA), BM_SETCHECK, BST_CHECKED, 0);
            panel.m_nSource = source;
            panel.UpdateData(FALSE);
            EXPECT_EQ(CheckedSources(), checked) << "m_nSource " << source;
        }
    });
}

TEST_F(PanelState, SavingTheSourceTakesTheCheckedButtonTheLastOneWhenSeveral) {
    WithPanel([&] {
        panel.m_nSource = 2;
        panel.UpdateData(FALSE);
        for (int id : SOURCE_BUTTONS)
            ::SendMessageW(Item(id), BM_SETCHECK, BST_UNCHECKED, 0);
        panel.UpdateData(TRUE);
        EXPECT_EQ(panel.m_nSource, -1) << "none checked";

        ::SendMessageW(Item(IDC_SOURCE_HDMI2), BM_SETCHECK, BST_CHECKED, 0);
        panel.UpdateData(TRUE);
        EXPECT_EQ(panel.m_nSource, 1);

        ::SendMessageW(Item(IDC_SOURCE_VGA), BM_SETCHECK, BST_CHECKED, 0);
        panel.UpdateData(TRUE);
        EXPECT_EQ(panel.m_nSource, 3) << "the later checked button wins";
    });
}

TEST_F(PanelState, TextFieldsMoveBothWaysAndAreLeftAloneWhenTheyAlreadyAgree) {
    WithPanel([&] {
        panel.m_strSignal = L"Signal OK";
        panel.m_strFirmware = L"1.02";
        panel.m_strUnitId = L"7";
        panel.m_strStatus = L"Unit ID is updated.";
        panel.UpdateData(FALSE);
        EXPECT_EQ(TextOf(Item(IDC_SIGNAL_STATUS)), L"Signal OK");
        EXPECT_EQ(TextOf(Item(IDC_FIRMWARE_VERSION)), L"1.02");
        EXPECT_EQ(TextOf(Item(IDC_UNIT_ID)), L"7");
        EXPECT_EQ(TextOf(Item(IDC_STATUS)), L"Unit ID is updated.");

        // Setting an edit field's text clears its modified flag: a field whose text already
        // equals its value keeps the flag, so it was not set again.
        ::SendMessageW(Item(IDC_STATUS), EM_SETMODIFY, TRUE, 0);
        ::SendMessageW(Item(IDC_UNIT_ID), EM_SETMODIFY, TRUE, 0);
        panel.m_strUnitId = L"8";
        panel.UpdateData(FALSE);
        EXPECT_TRUE(::SendMessageW(Item(IDC_STATUS), EM_GETMODIFY, 0, 0));
        EXPECT_FALSE(::SendMessageW(Item(IDC_UNIT_ID), EM_GETMODIFY, 0, 0));

        ::SetWindowTextW(Item(IDC_FIRMWARE_VERSION), L"typed");
        panel.UpdateData(TRUE);
        EXPECT_EQ(panel.m_strFirmware, L"typed");
        EXPECT_EQ(panel.m_strUnitId, L"8");
    });
}

TEST_F(PanelState, EnableControlsSetsTheTenOperationButtonsByDiagnosticModeAndModel) {
    WithPanel([&] {
        struct Row {
            int model;
            BOOL diagnosticRunning;
            std::vector<bool> expected;
        };
        const Row rows[] = {
            {0, FALSE, ALL_ENABLED}, {4, FALSE, NO_HDMI3_NO_VGA}, {3, FALSE, ALL_ENABLED},
            {0, TRUE, ALL_DISABLED}, {4, TRUE, ALL_DISABLED},
        };
        for (const Row& row : rows) {
            // Selected without the notification, so only EnableControls decides.
            ::SendMessageW(Item(IDC_MODEL), CB_SETCURSEL, row.model, 0);
            panel.EnableControls(row.diagnosticRunning);
            EXPECT_EQ(OperationButtons(), row.expected)
                << "model " << row.model << ", diagnostic mode " << row.diagnosticRunning;
            for (int id : OTHER_CONTROLS)
                EXPECT_TRUE(Enabled(id)) << id << " is not an operation button";
        }
    });
}

TEST_F(PanelState, ChoosingThePX400DisablesHdmi3AndVgaAtOnceAndAnotherModelEnablesThem) {
    WithPanel([&] {
        ChooseModel(4);
        EXPECT_EQ(OperationButtons(), NO_HDMI3_NO_VGA);
        ChooseModel(1);
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);

        // During diagnostic mode's lockout the model alone decides for HDMI 3 and VGA.
        panel.EnableControls(TRUE);
        ChooseModel(2);
        EXPECT_EQ(OperationButtons(), (std::vector<bool>{false, false, true, true, false, false,
                                                         false, false, false, false}));
        ChooseModel(4);
        EXPECT_EQ(OperationButtons(), ALL_DISABLED);
    });
}

TEST_F(PanelState, AModelChoiceRefreshesTheControlsFromTheFields) {
    WithPanel([&] {
        ::SendMessageW(Item(IDC_SOURCE_HDMI2), BM_SETCHECK, BST_CHECKED, 0);
        panel.m_strStatus = L"changed";
        ChooseModel(3);
        EXPECT_TRUE(CheckedSources().empty()) << "the check mark goes back to m_nSource";
        EXPECT_EQ(TextOf(Item(IDC_STATUS)), L"changed");
    });
}

TEST_F(PanelState, WithoutAConnectionTheOperationButtonsDoNothing) {
    VirtualClock clock;
    FakeSerialApi port{clock};
    MessageBoxRecorder boxes;
    WithPanel([&] {
        for (int id : {IDC_CHECK_UNIT_ID, IDC_CHECK_SOURCE, IDC_CHECK_SIGNAL, IDC_CHECK_FIRMWARE,
                       IDC_DEFAULT_SETTING, IDC_DIAGNOSTIC})
            ::SendMessageW(Item(id), BM_CLICK, 0, 0);
        ::SendMessageW(Item(IDC_SOURCE_HDMI3), BM_CLICK, 0, 0);

        EXPECT_TRUE(port.calls.empty());
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_TRUE(clock.sleeps.empty());
        EXPECT_EQ(TextOf(Item(IDC_STATUS)), L"Ready .....");
        EXPECT_EQ(TextOf(Item(IDC_CONNECT)), L"Connect");
        EXPECT_EQ(CheckedSources(), std::vector<int>{2}) << "the click only moves the mark";
        EXPECT_EQ(panel.m_nSource, -1);
        EXPECT_EQ(OperationButtons(), ALL_ENABLED);
    });
}

TEST(PanelWaitCursor, NestedPairsKeepTheHourglassUntilTheOutermostEnds) {
    CKelvaneDlg panel;
    const HCURSOR arrow = ::LoadCursorW(nullptr, IDC_ARROW);
    const HCURSOR wait = ::LoadCursorW(nullptr, IDC_WAIT);
    ::SetCursor(arrow);
    panel.BeginWaitCursor();
    EXPECT_EQ(::GetCursor(), wait);
    panel.BeginWaitCursor();
    panel.EndWaitCursor();
    EXPECT_EQ(::GetCursor(), wait) << "the inner pair's end keeps it";
    panel.EndWaitCursor();
    EXPECT_EQ(::GetCursor(), arrow);
}

} // namespace
