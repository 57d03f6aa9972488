// The application.
//   CKelvaneApp  start-up: OLE, the automation switches, the class factory, the panel's run
//   theApp       the one application object (after the class factory, app/Kelvane.cpp)
#pragma once

#include "framework/WinApp.h"

class CKelvaneApp : public CWinApp {
public:
    CKelvaneApp() = default;

    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Initialises OLE, registers the class factory (automation start) or records it in the
    // registry (stand-alone start), runs the panel, and answers FALSE so that the program ends
    // with the panel.
    BOOL InitInstance() override;
};

extern CKelvaneApp theApp;
