// Windows as objects.
//   CWnd  a thin wrapper over one HWND: the calls the program makes on a window, data exchange,
//         and the platform's default handling of a message
#pragma once

#include <windows.h>
#include <string>
#include "framework/CmdTarget.h"
#include "framework/Menu.h"

class CDataExchange;

// A window, or no window at all (a null handle) for objects that only want a message box.
class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}

    const CRuntimeClass* GetRuntimeClass() const override;
    static const CRuntimeClass* GetThisClass();

    // The application's main window never points at an object that is gone: a main window
    // whose object goes takes the pointer with it, also when its window never existed.
    ~CWnd() override;

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Shows a modal box owned by this window (by no window when there is none).
    int MessageBox(const wchar_t* text, const wchar_t* caption = nullptr, UINT type = MB_OK) const;

    // The child window with the identifier; a CWnd with a null handle when there is none.
    CWnd GetDlgItem(int nID) const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL ShowWindow(int nCmdShow);
    BOOL DestroyWindow();
    void SetWindowText(const wchar_t* text);
    void GetWindowText(std::wstring& text) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    // The window's system menu; its m_hMenu is null when the window has none.
    CMenu GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);

    // Moves the bound fields into their controls (FALSE) or the controls' values into the
    // fields (TRUE) through DoDataExchange. Nothing here validates, so it always succeeds.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX);

    HWND m_hWnd = nullptr;

protected:
    // Asks for the platform's default handling of the message being handled. In a dialog that
    // handling runs once the dialog procedure returns FALSE, so this marks the message and the
    // default runs as soon as the handler returns.
    LRESULT Default();

private:
    friend class CDialog;
    bool m_bDefaultRequested = false;
};
