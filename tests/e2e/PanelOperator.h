// The panel of a running Kelvane.exe as an operator works it: through window messages, from
// another process, waiting for what the panel shows rather than for a fixed time.
//   SeenBox        a message box the panel showed, as the operator read it
//   PanelOperator  clicks, reads the controls, answers the boxes
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    bool ownedByPanel;  // owned by the panel, which is disabled while it shows
    ULONGLONG shownAt;  // GetTickCount64 when it was first seen
    ULONGLONG closedAt; // when it was seen gone, or 0 if the operation did not end
};

class PanelOperator {
public:
    explicit PanelOperator(HWND panel);

    // Clicks the control and stays with the panel until the click's operation has run to its end,
    // answering every box it shows with OK (or with answer, when given); returns the boxes in
    // order. Gives up after timeoutMs and then reports finished() false. A disabled control, or
    // a disabled panel, takes no click, as with the operator's mouse.
    std::vector<SeenBox> Click(int id, DWORD timeoutMs = 30000,
                               const std::function<void(const SeenBox&)>& answer = {});
    // Clicks the control and comes back as soon as the panel has taken the click, without staying
    // for an operation: for a click made while another operation is still under way.
    void Press(int id);
    // Chooses a command of the panel's system menu (WM_SYSCOMMAND) and stays with the panel as
    // Click does.
    std::vector<SeenBox> SystemCommand(UINT command, DWORD timeoutMs = 30000,
                                       const std::function<void(const SeenBox&)>& answer = {});
    // Whether the last Click's operation ran to its end within its time.
    bool finished() const { return m_finished; }
    // When the last Click was made and when its operation ended (GetTickCount64).
    ULONGLONG clickedAt() const { return m_clickedAt; }
    ULONGLONG endedAt() const { return m_endedAt; }

    // Chooses a list entry the way the operator does: the selection, then the list's notification.
    void Choose(int listId, int index);
    // Sends a command or a system command to the panel and waits until it has been handled.
    void Command(UINT message, WPARAM wParam, LPARAM lParam = 0);

    std::wstring Text(int id) const;
    bool Checked(int id) const;
    bool Enabled(int id) const;
    bool Visible() const;
    // The source buttons that show checked, 0 HDMI 1 to 3 VGA.
    std::vector<int> CheckedSources() const;

    // Waits until condition holds; false when it still does not after timeoutMs.
    static bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

private:
    HWND Item(int id) const { return ::GetDlgItem(m_panel, id); }
    // Sends the message from a thread of its own and answers boxes until the panel has handled it.
    std::vector<SeenBox> Operate(HWND target, UINT message, WPARAM wParam, DWORD timeoutMs,
                                 const std::function<void(const SeenBox&)>& answer);
    // The visible top-level dialog of the panel's thread other than the panel, or null.
    HWND FindBox() const;
    SeenBox Read(HWND box) const;

    HWND m_panel;
    DWORD m_thread;
    bool m_finished = false;
    ULONGLONG m_clickedAt = 0;
    ULONGLONG m_endedAt = 0;
};
