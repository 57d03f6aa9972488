// The panel in its modal run, with a fake monitor behind a fake port on the virtual clock and a
// stand-in operator who answers every box with OK: the fixture of the monitor operations' tests.
#pragma once

#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "panel/KelvaneDlg.h"
#include "res/resource.h"
#include "tests/support/FakeSerialApi.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/VirtualClock.h"

// The source buttons in index order, and the ten buttons diagnostic mode locks, sources first.
inline constexpr int SOURCE_BUTTONS[] = {IDC_SOURCE_HDMI1, IDC_SOURCE_HDMI2, IDC_SOURCE_HDMI3,
                                         IDC_SOURCE_VGA};
inline constexpr int OPERATION_BUTTONS[] = {
    IDC_SOURCE_HDMI1,    IDC_SOURCE_HDMI2,  IDC_SOURCE_HDMI3, IDC_SOURCE_VGA,     IDC_CHECK_SOURCE,
    IDC_DEFAULT_SETTING, IDC_CHECK_UNIT_ID, IDC_CHECK_SIGNAL, IDC_CHECK_FIRMWARE, IDC_DIAGNOSTIC};

// A box as the operator reads it.
struct Box {
    std::wstring text;
    std::wstring caption;
    UINT type;
    bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* os);

// The stop-icon error box and the information box the operations show.
Box ErrorBox(const wchar_t* text);
Box InformationBox(const wchar_t* text);

class PanelOnFakePort : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs body inside the panel's modal run.
    void WithPanel(const std::function<void()>& body);

    HWND Item(int id) const { return ::GetDlgItem(panel.m_hWnd, id); }
    std::wstring Text(int id) const;
    // Clicks the control as the operator does: a disabled one takes no click.
    void Click(int id) const;
    // The source buttons that show checked, 0 HDMI 1 to 3 VGA.
    std::vector<int> CheckedSources() const;
    // The enabled state of the ten operation buttons (source buttons first).
    std::vector<bool> OperationButtons() const;

    // The answers of a healthy monitor with unit ID 1 to the four queries of a connect.
    void QueueConnectAnswers();
    // Connects to a healthy monitor with unit ID 1 showing HDMI 2 with a signal, firmware 1.02;
    // then forgets what the connect did, so the test sees only its own frames, boxes and sleeps.
    void Connect();

    // What the operation under test did, since Connect or the start.
    std::vector<std::string> Frames() const;
    std::vector<ULONGLONG> FrameTimes() const;
    std::vector<Box> Boxes() const;
    std::vector<DWORD> Sleeps() const;
    // The port calls and sleeps made without the hourglass showing, since Connect or the start.
    int callsWithoutWaitCursor = 0;
    int sleepsWithoutWaitCursor = 0;

    // Whether the first six bytes of the reply buffer are zero, as every query leaves them.
    static bool ReplyCleared();

    VirtualClock clock;
    FakeSerialApi port{clock};
    MessageBoxRecorder boxes;
    CKelvaneDlg panel;

private:
    size_t m_framesBefore = 0;
    size_t m_boxesBefore = 0;
    size_t m_sleepsBefore = 0;
};

// The frame of a command for the unit with that address character.
std::string FrameOf(char address, const char* command, const char* argument);
