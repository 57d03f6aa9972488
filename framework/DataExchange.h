// Dialog data exchange: moving values between a dialog's fields and its controls.
//   CDataExchange  the direction of one exchange and the dialog it runs on
//   DDX_Control    attaches a control object to a child window
//   DDX_Radio      a radio group and the index of its checked button
//   DDX_Text       an edit field (or any window text) and a string
#pragma once

#include <windows.h>
#include <string>
#include "framework/Wnd.h"

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    // The dialog's child window with the identifier.
    HWND PrepareCtrl(int nIDC) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

    BOOL m_bSaveAndValidate; // TRUE: controls to fields; FALSE: fields to controls
    CWnd* m_pDlgWnd;
};

// Attaches the control object on the first exchange; later exchanges leave it as it is.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// The group starts at nIDC and runs in tab order up to the next control with WS_GROUP; only radio
// buttons count and get the indices 0, 1, 2... Loading checks the button of value and clears the
// others (all of them when no button has that index). Saving gives the index of the checked
// button, of the last one when several are checked, and -1 when none is.
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);

// Loading leaves the control alone when its text already equals the field, so it neither
// flickers nor loses its caret; saving reads the whole text.
void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value);
