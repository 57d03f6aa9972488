// The application object and the framework's entry into the program.
//   CWinApp     the program: its display name, command line, main window and start-up
//   AfxWinMain  runs the application's InitInstance once; the program ends when it returns
//   AfxGetApp, AfxGetMainWnd, AfxGetResourceHandle, AfxMessageBox
#pragma once

#include <windows.h>
#include <string>
#include "framework/CmdTarget.h"

class CWnd;

// The help command of the framework's command range.
constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
public:
    // The one application object of the program registers itself here. Without a name the
    // display name is the executable's file name without its extension.
    explicit CWinApp(const wchar_t* pszAppName = nullptr);
    ~CWinApp() override;

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Called once after the framework's start-up. FALSE ends the program; this framework runs
    // no message loop of the application's own, so TRUE ends it as well.
    virtual BOOL InitInstance();

    // Whether the command line holds "Embedding" / "Automation" right after a "-" or "/"
    // (anywhere, case-sensitively). A match is removed from m_strCmdLine and the application
    // is no longer under the user's control.
    BOOL RunEmbedded();
    BOOL RunAutomated();

    // Kept so that start-up reads as it always has; common controls have had their
    // three-dimensional look on their own since Windows 95, so there is nothing to switch on.
    BOOL Enable3dControlsStatic() { return TRUE; }

    // The help command. The program ships no help file, so nothing opens.
    void OnHelp() {}

    std::wstring m_strAppName; // the display name: caption of the framework's message boxes
    std::wstring m_strCmdLine; // the command line after the program's own name
    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr; // cleared when that window or its object goes
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The module whose resources the program uses: the executable itself.
HINSTANCE AfxGetResourceHandle();

// Shows the string resource in a box owned by the main window, captioned with the display name.
// Without an icon in nType the box gets the exclamation mark.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK);

int AfxWinMain(HINSTANCE hInstance, LPWSTR lpCmdLine, int nCmdShow);
