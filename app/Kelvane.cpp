#include "app/Kelvane.h"
#include <iterator>
#include "framework/ObjectFactory.h"
#include "framework/Ole.h"
#include "panel/KelvaneDlg.h"
#include "res/resource.h"

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
