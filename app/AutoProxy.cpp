#include "app/AutoProxy.h"
#include <iterator>
#include "framework/Ole.h"
#include "framework/WinApp.h"
#include "panel/KelvaneDlg.h"

CKelvaneDlgAutoProxy::CKelvaneDlgAutoProxy() : m_pDialog(nullptr) {
    EnableAutomation();
    AfxOleLockApp();
    // Requests are served only inside the panel's modal run, so the main window is the panel;
    // the check keeps the object from taking anything else for it. A panel can stand for one
    // object at a time: a second object made by the same factory leaves it to the first.
    CWnd* pMainWnd = AfxGetMainWnd();
    if (pMainWnd != nullptr && pMainWnd->IsKindOf(CKelvaneDlg::GetThisClass())) {
        auto* pDialog = static_cast<CKelvaneDlg*>(pMainWnd);
        if (pDialog->m_pAutoProxy == nullptr) {
            m_pDialog = pDialog;
            m_pDialog->m_pAutoProxy = this;
        }
    }
}

const CRuntimeClass* CKelvaneDlgAutoProxy::GetThisClass() {
    static constexpr CRuntimeClass record{"CKelvaneDlgAutoProxy", &CCmdTarget::GetThisClass,
                                          &CreateObjectOf<CKelvaneDlgAutoProxy>};
    return &record;
}

const CRuntimeClass* CKelvaneDlgAutoProxy::GetRuntimeClass() const {
    return GetThisClass();
}

CKelvaneDlgAutoProxy::~CKelvaneDlgAutoProxy() {
    if (m_pDialog != nullptr)
        m_pDialog->m_pAutoProxy = nullptr;
    AfxOleUnlockApp();
}

// Nothing of its own to let go before the object is deleted.
void CKelvaneDlgAutoProxy::OnFinalRelease() {
    CCmdTarget::OnFinalRelease();
}

const AFX_MSGMAP* CKelvaneDlgAutoProxy::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CKelvaneDlgAutoProxy::GetMessageMap() const {
    return GetThisMessageMap();
}

// No methods and no properties: a client can create the object, hold it and release it.
const AFX_DISPMAP* CKelvaneDlgAutoProxy::GetThisDispatchMap() {
    static constexpr AFX_DISPMAP map{&CCmdTarget::GetThisDispatchMap};
    return &map;
}

const AFX_DISPMAP* CKelvaneDlgAutoProxy::GetDispatchMap() const {
    return GetThisDispatchMap();
}

// The program's own dispatch interface is the same implementation as the IDispatch the base
// offers.
const AFX_INTERFACEMAP* CKelvaneDlgAutoProxy::GetThisInterfaceMap() {
    static constexpr AFX_INTERFACEMAP_ENTRY entries[] = {
        InterfacePart<&CKelvaneDlgAutoProxy::DispatchPart>(IID_IKelvane),
    };
    static constexpr AFX_INTERFACEMAP map{&CCmdTarget::GetThisInterfaceMap, entries,
                                          std::size(entries)};
    return &map;
}

const AFX_INTERFACEMAP* CKelvaneDlgAutoProxy::GetInterfaceMap() const {
    return GetThisInterfaceMap();
}
