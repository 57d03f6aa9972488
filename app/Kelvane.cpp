#include "app/Kelvane.h"
#include <iterator>
#include "app/AutoProxy.h"
#include "framework/ObjectFactory.h"
#include "framework/Ole.h"
#include "panel/KelvaneDlg.h"
#include "res/resource.h"

// Static objects of one source file are constructed in the order they stand and destroyed in
// the reverse order; across files the order is not defined. So the class factory stands here,
// ahead of the application object: it joins the factory list before theApp exists and leaves it
// after theApp is gone.
COleObjectFactory CKelvaneDlgAutoProxy::factory(CLSID_KelvaneApplication,
                                                CKelvaneDlgAutoProxy::GetThisClass(), TRUE,
                                                L"Kelvane.Application");
CKelvaneApp theApp;

const AFX_MSGMAP* CKelvaneApp::GetThisMessageMap() {
    static constexpr AFX_MSGMAP_ENTRY entries[] = {
        OnCommand<&CWinApp::OnHelp>(0, ID_HELP),
    };
    static constexpr AFX_MSGMAP map{&CWinApp::GetThisMessageMap, entries, std::size(entries)};
    return &map;
}

const AFX_MSGMAP* CKelvaneApp::GetMessageMap() const {
    return GetThisMessageMap();
}

BOOL CKelvaneApp::InitInstance() {
    if (!AfxOleInit()) {
        AfxMessageBox(IDP_OLE_INIT_FAILED);
        return FALSE;
    }
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    if (RunEmbedded() || RunAutomated())
        COleObjectFactory::RegisterAll();
    else
        COleObjectFactory::UpdateRegistryAll(TRUE);

    CKelvaneDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}
