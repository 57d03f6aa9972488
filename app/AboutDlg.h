// The about box.
//   CAboutDlg  the program's name, version and copyright, opened from the panel's system menu
#pragma once

#include "framework/Dialog.h"

class CAboutDlg : public CDialog {
public:
    // Without a parent: the panel, as the main window, owns it.
    CAboutDlg();

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
