#include "framework/CmdTarget.h"
#include <iterator>

namespace {

int g_waitCursorDepth = 0;
HCURSOR g_cursorBeforeWait = nullptr;

template <class Map>
const Map* BaseOf(const Map* map) {
    return map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr;
}

} // namespace

CCmdTarget::CCmdTarget() : m_xDispatch(*this) {
}

const CRuntimeClass* CCmdTarget::GetThisClass() {
    static constexpr CRuntimeClass record{"CCmdTarget", nullptr, nullptr};
    return &record;
}

const CRuntimeClass* CCmdTarget::GetRuntimeClass() const {
    return GetThisClass();
}

bool CCmdTarget::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

void CCmdTarget::OnFinalRelease() {
    delete this;
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static constexpr AFX_MSGMAP map{nullptr, nullptr, 0};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_DISPMAP* CCmdTarget::GetThisDispatchMap() {
    static constexpr AFX_DISPMAP map{nullptr};
    return &map;
}

const AFX_DISPMAP* CCmdTarget::GetDispatchMap() const {
    return GetThisDispatchMap();
}

const AFX_INTERFACEMAP* CCmdTarget::GetThisInterfaceMap() {
    static constexpr AFX_INTERFACEMAP_ENTRY entries[] = {
        InterfacePart<&CCmdTarget::DispatchPart>(IID_IDispatch),
    };
    static constexpr AFX_INTERFACEMAP map{nullptr, entries, std::size(entries)};
    return &map;
}

const AFX_INTERFACEMAP* CCmdTarget::GetInterfaceMap() const {
    return GetThisInterfaceMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindMessageEntry(UINT message, UINT code, UINT id) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr; map = BaseOf(map)) {
        for (size_t i = 0; i < map->nCount; ++i) {
            const AFX_MSGMAP_ENTRY& entry = map->lpEntries[i];
            if (entry.nMessage != message)
                continue;
            if (message == WM_COMMAND && (entry.nCode != code || entry.nID != id))
                continue;
            return &entry;
        }
    }
    return nullptr;
}

void CCmdTarget::EnableAutomation() {
    m_bAutomation = true;
}

IUnknown* CCmdTarget::DispatchPart() {
    return m_bAutomation ? &m_xDispatch : nullptr;
}

IUnknown* CCmdTarget::GetInterface(REFIID iid) {
    const bool anyInterface = ::IsEqualIID(iid, IID_IUnknown) != FALSE;
    for (const AFX_INTERFACEMAP* map = GetInterfaceMap(); map != nullptr; map = BaseOf(map)) {
        for (size_t i = 0; i < map->nCount; ++i) {
            const AFX_INTERFACEMAP_ENTRY& entry = map->lpEntries[i];
            if (!anyInterface && !::IsEqualIID(iid, *entry.piid))
                continue;
            if (IUnknown* part = entry.pfnGetInterface(*this))
                return part;
        }
    }
    return nullptr;
}

ULONG CCmdTarget::InternalAddRef() {
    return static_cast<ULONG>(::InterlockedIncrement(&m_dwRef));
}

ULONG CCmdTarget::InternalRelease() {
    const LONG count = ::InterlockedDecrement(&m_dwRef);
    if (count == 0)
        OnFinalRelease();
    return static_cast<ULONG>(count);
}

HRESULT CCmdTarget::InternalQueryInterface(REFIID iid, void** ppvObject) {
    if (ppvObject == nullptr)
        return E_POINTER;
    IUnknown* part = GetInterface(iid);
    *ppvObject = part;
    if (part == nullptr)
        return E_NOINTERFACE;
    InternalAddRef();
    return S_OK;
}

void CCmdTarget::BeginWaitCursor() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (g_waitCursorDepth++ == 0)
        g_cursorBeforeWait = previous;
}

void CCmdTarget::EndWaitCursor() {
    if (g_waitCursorDepth == 0)
        return;
    if (--g_waitCursorDepth == 0)
        SetCursor(g_cursorBeforeWait);
}

// No type library describes the members, so there is no type information to hand out.
HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

// The objects offer no members: every name is unknown, and no DISPID leads anywhere.
HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames,
                                                               UINT cNames, LCID,
                                                               DISPID* rgDispId) {
    if (!::IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0)
        return S_OK;
    if (rgszNames == nullptr || rgDispId == nullptr || rgszNames[0] == nullptr)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE CCmdTarget::XDispatch::Invoke(DISPID, REFIID riid, LCID, WORD,
                                                        DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    if (!::IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return DISP_E_MEMBERNOTFOUND;
}
