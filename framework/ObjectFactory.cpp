#include "framework/ObjectFactory.h"
#include <iterator>
#include "framework/Ole.h"

namespace {

// Constant-initialised, so factories constructed during static initialisation find it ready.
COleObjectFactory* g_pFirstFactory = nullptr;

struct RegistryEntry {
    const wchar_t* key;
    const wchar_t* value;
    bool onlyWhenMissing;
};

// A dispatch object's entries: %1 the class identifier in braces, %2 the class name (ProgID),
// %3 the executable's path, %4 the short and %5 the long type name.
constexpr RegistryEntry DISPATCH_OBJECT_ENTRIES[] = {
    {L"%2", L"%5", true},
    {L"CLSID\\%1", L"%5", true},
    {L"%2\\CLSID", L"%1", false},
    {L"CLSID\\%1\\ProgID", L"%2", false},
    {L"CLSID\\%1\\InprocHandler32", L"ole32.dll", false},
    {L"CLSID\\%1\\LocalServer32", L"%3", false},
};

// Replaces %1 to %5 with the arguments.
std::wstring Fill(const wchar_t* pattern, const std::wstring (&args)[5]) {
    std::wstring text;
    for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
        if (p[0] == L'%' && p[1] >= L'1' && p[1] <= L'5') {
            text += args[p[1] - L'1'];
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The short form of the path; the path itself when it has none. A short path has no spaces, so
// OLE can append its switch to the LocalServer32 command line without quoting.
std::wstring ShortPath(const std::wstring& path) {
    const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0)
        return path;
    std::wstring shortPath(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortPath.data(), needed);
    if (length == 0 || length >= needed)
        return path;
    shortPath.resize(length);
    return shortPath;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, int(std::size(text)));
    return text;
}

// Writes the entries of a server of the dispatch-object kind under HKEY_CLASSES_ROOT, in their
// order; the first two only when reading the key's value fails (the key is not there yet), the
// others always. Stops at the first failure and answers FALSE.
BOOL RegisterServerClass(REFCLSID clsid, const wchar_t* lpszClassName,
                         const wchar_t* lpszShortTypeName, const wchar_t* lpszLongTypeName) {
    const std::wstring args[5] = {GuidText(clsid), lpszClassName, ShortPath(ModulePath()),
                                  lpszShortTypeName, lpszLongTypeName};
    for (const RegistryEntry& entry : DISPATCH_OBJECT_ENTRIES) {
        const std::wstring key = Fill(entry.key, args);
        if (entry.onlyWhenMissing) {
            // Asking only for the size reads the value without caring how long it is.
            LONG size = 0;
            if (::RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &size) == ERROR_SUCCESS)
                continue;
        }
        const std::wstring value = Fill(entry.value, args);
        if (::RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                           DWORD(value.size() * sizeof(wchar_t))) != ERROR_SUCCESS)
            return FALSE;
    }
    return TRUE;
}

} // namespace

COleObjectFactory::COleObjectFactory(REFCLSID clsid, const CRuntimeClass* pRuntimeClass,
                                     BOOL bMultiInstance, const wchar_t* lpszProgID)
    : m_clsid(clsid), m_pRuntimeClass(pRuntimeClass), m_bMultiInstance(bMultiInstance),
      m_lpszProgID(lpszProgID), m_xClassFactory(*this), m_pNextFactory(g_pFirstFactory) {
    g_pFirstFactory = this;
}

COleObjectFactory::~COleObjectFactory() {
    Revoke();
    for (COleObjectFactory** link = &g_pFirstFactory; *link != nullptr;
         link = &(*link)->m_pNextFactory) {
        if (*link == this) {
            *link = m_pNextFactory;
            break;
        }
    }
}

void COleObjectFactory::OnFinalRelease() {
}

const AFX_INTERFACEMAP* COleObjectFactory::GetThisInterfaceMap() {
    static constexpr AFX_INTERFACEMAP_ENTRY entries[] = {
        InterfacePart<&COleObjectFactory::ClassFactoryPart>(IID_IClassFactory),
    };
    static constexpr AFX_INTERFACEMAP map{&CCmdTarget::GetThisInterfaceMap, entries,
                                          std::size(entries)};
    return &map;
}

const AFX_INTERFACEMAP* COleObjectFactory::GetInterfaceMap() const {
    return GetThisInterfaceMap();
}

BOOL COleObjectFactory::Register() {
    DWORD cookie = 0;
    const HRESULT hr =
        ::CoRegisterClassObject(m_clsid, &m_xClassFactory, CLSCTX_LOCAL_SERVER,
                                m_bMultiInstance ? REGCLS_SINGLEUSE : REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr))
        return FALSE;
    m_dwRegister = cookie;
    return TRUE;
}

void COleObjectFactory::Revoke() {
    if (m_dwRegister == 0)
        return;
    ::CoRevokeClassObject(m_dwRegister);
    m_dwRegister = 0;
}

BOOL COleObjectFactory::UpdateRegistry(BOOL bRegister) {
    if (!bRegister)
        return FALSE;
    return RegisterServerClass(m_clsid, m_lpszProgID, m_lpszProgID, m_lpszProgID);
}

BOOL COleObjectFactory::RegisterAll() {
    BOOL bResult = TRUE;
    for (COleObjectFactory* factory = g_pFirstFactory; factory != nullptr;
         factory = factory->m_pNextFactory) {
        if (factory->IsRegistered() || ::IsEqualCLSID(factory->m_clsid, CLSID_NULL))
            continue;
        if (!factory->Register())
            bResult = FALSE;
    }
    return bResult;
}

void COleObjectFactory::RevokeAll() {
    for (COleObjectFactory* factory = g_pFirstFactory; factory != nullptr;
         factory = factory->m_pNextFactory)
        factory->Revoke();
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
    for (COleObjectFactory* factory = g_pFirstFactory; factory != nullptr;
         factory = factory->m_pNextFactory) {
        if (!factory->UpdateRegistry(bRegister))
            return FALSE;
    }
    return TRUE;
}

// The object comes with one reference, its creator's; handing out the interface adds the
// client's, and giving back the creator's leaves the client as the only holder. An object that
// does not offer the interface goes again at once.
HRESULT STDMETHODCALLTYPE COleObjectFactory::XClassFactory::CreateInstance(IUnknown* pUnkOuter,
                                                                           REFIID riid,
                                                                           void** ppvObject) {
    if (ppvObject == nullptr)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr)
        return CLASS_E_NOAGGREGATION;
    CCmdTarget* object =
        m_factory.m_pRuntimeClass ? m_factory.m_pRuntimeClass->CreateObject() : nullptr;
    if (object == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = object->InternalQueryInterface(riid, ppvObject);
    object->InternalRelease();
    return hr;
}

HRESULT STDMETHODCALLTYPE COleObjectFactory::XClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        AfxOleLockApp();
    else
        AfxOleUnlockApp();
    return S_OK;
}
