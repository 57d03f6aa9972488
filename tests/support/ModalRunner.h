// Running modal dialogs inside a test: the test's body runs from within the dialog's own modal
// loop, the way an operator's clicks would arrive.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include "framework/Dialog.h"

// Runs the dialog modally, calls body once its window is up, then ends the dialog with IDCANCEL
// unless body ended it. Returns what DoModal returned.
INT_PTR RunModal(CDialog& dialog, const std::function<void()>& body);

// Runs the dialog modally and calls body once its window is up, then lets the dialog run until
// something ends it; gives up after giveUpMs of real time and ends it with -2 (so a dialog that
// refuses to close fails its test instead of hanging it). Returns what DoModal returned.
INT_PTR RunModalUntilEnded(CDialog& dialog, const std::function<void()>& body,
                           DWORD giveUpMs = 10000);

// Calls onWindow with the first visible top-level dialog captioned so, as soon as one exists,
// from within whatever message loop is running then (a nested modal run included). Stops looking
// when the returned guard goes.
class WhenDialogAppears {
public:
    WhenDialogAppears(std::wstring caption, std::function<void(HWND)> onWindow);
    ~WhenDialogAppears();
    WhenDialogAppears(const WhenDialogAppears&) = delete;
    WhenDialogAppears& operator=(const WhenDialogAppears&) = delete;

    bool Seen() const { return m_seen; }

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);
    std::wstring m_caption;
    std::function<void(HWND)> m_onWindow;
    UINT_PTR m_timer;
    bool m_seen = false;
};
