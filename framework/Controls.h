// Control objects that a dialog attaches to its child windows (DDX_Control).
//   CButton    a push button, radio button or check box
//   CComboBox  a combo box
#pragma once

#include <string>
#include "framework/Wnd.h"

class CButton : public CWnd {};

class CComboBox : public CWnd {
public:
    // The index of the selected entry, CB_ERR (-1) when none is selected.
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    // Selects an entry without raising CBN_SELCHANGE.
    int SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, nSelect)); }
    // The text of the entry at the index, as the list stores it.
    void GetLBText(int nIndex, std::wstring& text) const {
        const LRESULT length = SendMessage(CB_GETLBTEXTLEN, nIndex);
        text.assign(length > 0 ? size_t(length) + 1 : 1, L'\0');
        const LRESULT copied =
            SendMessage(CB_GETLBTEXT, nIndex, reinterpret_cast<LPARAM>(text.data()));
        text.resize(copied > 0 ? size_t(copied) : 0);
    }
};
