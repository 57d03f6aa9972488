// Control objects that a dialog attaches to its child windows (DDX_Control).
//   CButton    a push button, radio button or check box
//   CComboBox  a combo box
#pragma once

#include "framework/Wnd.h"

class CButton : public CWnd {};

class CComboBox : public CWnd {
public:
    // The index of the selected entry, CB_ERR (-1) when none is selected.
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    // Selects an entry without raising CBN_SELCHANGE.
    int SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, nSelect)); }
};
