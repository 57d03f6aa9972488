// The automation object, its class factory and the framework's OLE layer under them, in one
// process: the factory's IClassFactory called directly, the panel run modally as at start-up.
#include <gtest/gtest.h>
#include <string>
#include "app/AutoProxy.h"
#include "app/Kelvane.h"
#include "framework/Ole.h"
#include "panel/KelvaneDlg.h"
#include "res/resource.h"
#include "tests/support/ModalRunner.h"
#include "tests/support/Registry.h"

namespace {

// {3A7F9C2E-6D1B-4E58-A0C4-2B9E5D7F1A63}: an interface no object of the program offers.
constexpr IID IID_INotOffered = {
    0x3a7f9c2e, 0x6d1b, 0x4e58, {0xa0, 0xc4, 0x2b, 0x9e, 0x5d, 0x7f, 0x1a, 0x63}};

// What a client gets from the program's factory: a new object's interface, or null.
template <class Interface>
Interface* Create(REFIID iid, HRESULT* result = nullptr) {
    IClassFactory* factory = nullptr;
    CKelvaneDlgAutoProxy::factory.InternalQueryInterface(IID_IClassFactory,
                                                         reinterpret_cast<void**>(&factory));
    Interface* object = nullptr;
    const HRESULT hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&object));
    factory->Release();
    if (result)
        *result = hr;
    return object;
}

class AutomationObject : public ::testing::Test {
protected:
    void TearDown() override {
        theApp.m_pMainWnd = nullptr;
        AfxOleSetUserCtrl(TRUE);
    }

    // Runs body in the panel's modal run, the panel being the main window as at start-up.
    void WithPanel(const std::function<void()>& body) {
        theApp.m_pMainWnd = &panel;
        RunModal(panel, body);
    }

    CKelvaneDlg panel;
};

TEST_F(AutomationObject, AnswersIUnknownIDispatchAndItsOwnInterfaceAsOneObjectAndNothingElse) {
    IUnknown* object = Create<IUnknown>(IID_IUnknown);
    ASSERT_NE(object, nullptr);
    IUnknown* same = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IKelvane}) {
        EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&same)), S_OK);
        EXPECT_EQ(same, object) << "every interface is the one dispatch implementation";
        if (same)
            same->Release();
    }
    for (const IID* iid : {&IID_INotOffered, &IID_IClassFactory, &IID_IPersist}) {
        same = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&same)), E_NOINTERFACE);
        EXPECT_EQ(same, nullptr);
    }
    EXPECT_EQ(object->Release(), 0u) << "the client's reference was the only one";
}

TEST_F(AutomationObject, HasNoMembersAndNoTypeInformation) {
    IDispatch* object = Create<IDispatch>(IID_IKelvane);
    ASSERT_NE(object, nullptr);
    UINT count = 7;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ITypeInfo* info = nullptr;
    EXPECT_HRESULT_FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    EXPECT_EQ(info, nullptr);

    for (const wchar_t* name : {L"Visible", L"Quit", L"", L"Connect"}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
                  DISP_E_UNKNOWNNAME)
            << name;
        EXPECT_EQ(id, DISPID_UNKNOWN);
    }
    DISPPARAMS none{};
    VARIANT result;
    ::VariantInit(&result);
    for (DISPID id : {DISPID(0), DISPID(1), DISPID(DISPID_VALUE), DISPID(DISPID_NEWENUM)})
        EXPECT_EQ(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result,
                                 nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
    object->Release();
}

TEST_F(AutomationObject, IsNotAggregatedAndGoesAtOnceWhenTheInterfaceIsNotOffered) {
    WithPanel([&] {
        HRESULT hr = S_OK;
        EXPECT_EQ(Create<IUnknown>(IID_INotOffered, &hr), nullptr);
        EXPECT_EQ(hr, E_NOINTERFACE);
        EXPECT_EQ(panel.m_pAutoProxy, nullptr) << "the object made for the request is gone";

        IClassFactory* factory = nullptr;
        CKelvaneDlgAutoProxy::factory.InternalQueryInterface(IID_IClassFactory,
                                                             reinterpret_cast<void**>(&factory));
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                          reinterpret_cast<void**>(&object)),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(object, nullptr);
        factory->Release();
    });
}

TEST_F(AutomationObject, HoldsThePanelWhileItLivesAndLetsGoWhenReleased) {
    WithPanel([&] {
        IDispatch* object = Create<IDispatch>(IID_IDispatch);
        ASSERT_NE(panel.m_pAutoProxy, nullptr);
        EXPECT_EQ(panel.m_pAutoProxy->m_pDialog, &panel);
        EXPECT_EQ(panel.m_pAutoProxy->GetInterface(IID_IDispatch), object);
        object->Release();
        EXPECT_EQ(panel.m_pAutoProxy, nullptr);
        EXPECT_NE(panel.m_hWnd, nullptr) << "a stand-alone start keeps its panel";
    });
}

TEST_F(AutomationObject, TheLastReleaseOfAnAutomationStartClosesThePanelOnceWithoutAsking) {
    WithPanel([&] {
        AfxOleSetUserCtrl(FALSE);
        IDispatch* first = Create<IDispatch>(IID_IDispatch);
        IDispatch* second = Create<IDispatch>(IID_IDispatch);
        EXPECT_EQ(second->Release(), 0u);
        EXPECT_NE(panel.m_hWnd, nullptr) << "one object is still live";
        EXPECT_EQ(first->Release(), 0u);
        EXPECT_EQ(panel.m_hWnd, nullptr) << "destroyed, and its modal run ends";
        EXPECT_TRUE(AfxOleGetUserCtrl()) << "from now on the operator has the program";
        EXPECT_EQ(AfxGetMainWnd(), nullptr);
    });
}

TEST_F(AutomationObject, AServerLockKeepsAnAutomationStartAliveAfterTheLastObject) {
    WithPanel([&] {
        AfxOleSetUserCtrl(FALSE);
        IClassFactory* factory = nullptr;
        CKelvaneDlgAutoProxy::factory.InternalQueryInterface(IID_IClassFactory,
                                                             reinterpret_cast<void**>(&factory));
        factory->LockServer(TRUE);
        Create<IDispatch>(IID_IDispatch)->Release();
        EXPECT_NE(panel.m_hWnd, nullptr);
        factory->LockServer(FALSE);
        EXPECT_EQ(panel.m_hWnd, nullptr);
        factory->Release();
    });
}

TEST_F(AutomationObject, WithABoxOverThePanelTheLastReleaseLeavesTheProgramToTheOperator) {
    WithPanel([&] {
        AfxOleSetUserCtrl(FALSE);
        IDispatch* object = Create<IDispatch>(IID_IDispatch);
        bool released = false;
        WhenDialogAppears whileAboutIsOpen(L"Orvanta information", [&](HWND about) {
            EXPECT_FALSE(::IsWindowEnabled(panel.m_hWnd));
            object->Release();
            released = true;
            EXPECT_NE(panel.m_hWnd, nullptr) << "a disabled panel stays";
            EXPECT_EQ(panel.m_pAutoProxy, nullptr);
            ::PostMessageW(about, WM_COMMAND, IDOK, 0);
        });
        ::SendMessageW(panel.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        ASSERT_TRUE(released);
        EXPECT_TRUE(::IsWindowEnabled(panel.m_hWnd));
        EXPECT_TRUE(AfxOleGetUserCtrl());

        // It happened once: a later object coming and going leaves the panel alone.
        Create<IDispatch>(IID_IDispatch)->Release();
        EXPECT_NE(panel.m_hWnd, nullptr);
    });
}

TEST_F(AutomationObject, ASecondObjectLeavesThePanelToTheFirst) {
    WithPanel([&] {
        IDispatch* first = Create<IDispatch>(IID_IDispatch);
        CKelvaneDlgAutoProxy* holder = panel.m_pAutoProxy;
        IDispatch* second = Create<IDispatch>(IID_IDispatch);
        EXPECT_EQ(panel.m_pAutoProxy, holder);
        second->Release();
        EXPECT_EQ(panel.m_pAutoProxy, holder) << "the second never held the panel";
        first->Release();
        EXPECT_EQ(panel.m_pAutoProxy, nullptr);
    });
}

TEST_F(AutomationObject, OutlivesThePanelWithoutReachingBackIntoIt) {
    IDispatch* object = nullptr;
    CKelvaneDlgAutoProxy* proxy = nullptr;
    {
        CKelvaneDlg shortLived;
        theApp.m_pMainWnd = &shortLived;
        RunModal(shortLived, [&] {
            object = Create<IDispatch>(IID_IDispatch);
            proxy = shortLived.m_pAutoProxy;
        });
    }
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->m_pDialog, nullptr);
    EXPECT_EQ(AfxGetMainWnd(), nullptr) << "the main window went with its object";
    EXPECT_EQ(object->Release(), 0u);
}

TEST(AutomationClasses, RecordTheirNameBaseAndWhetherTheyAreCreatable) {
    const CRuntimeClass* proxy = CKelvaneDlgAutoProxy::GetThisClass();
    EXPECT_STREQ(proxy->m_lpszClassName, "CKelvaneDlgAutoProxy");
    EXPECT_EQ(proxy->m_pfnGetBaseClass(), CCmdTarget::GetThisClass());
    CCmdTarget* made = proxy->CreateObject();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetRuntimeClass(), proxy);
    made->InternalRelease();

    const CRuntimeClass* panel = CKelvaneDlg::GetThisClass();
    EXPECT_STREQ(panel->m_lpszClassName, "CKelvaneDlg");
    EXPECT_EQ(panel->m_pfnGetBaseClass(), CDialog::GetThisClass());
    EXPECT_EQ(panel->CreateObject(), nullptr);
    CKelvaneDlg dlg;
    EXPECT_TRUE(dlg.IsKindOf(CDialog::GetThisClass()));
    EXPECT_TRUE(dlg.IsKindOf(CCmdTarget::GetThisClass()));
    EXPECT_FALSE(dlg.IsKindOf(proxy));
}

TEST(AutomationClasses, AMainWindowWhoseModalRunNeverStartedLeavesNoPointerBehind) {
    {
        CDialog missing(9999); // no such template
        theApp.m_pMainWnd = &missing;
        EXPECT_EQ(missing.DoModal(), -1);
    }
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

TEST(AutomationDispatch, IsOfferedOnlyOnceAutomationIsEnabled) {
    CCmdTarget plain;
    EXPECT_EQ(plain.GetInterface(IID_IDispatch), nullptr);
    EXPECT_EQ(plain.GetInterface(IID_IUnknown), nullptr) << "no interface at all";
    void* out = nullptr;
    EXPECT_EQ(plain.InternalQueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
}

// The registry entries, written into a scratch HKEY_CLASSES_ROOT of this process.
class AutomationRegistry : public ::testing::Test {
protected:
    std::map<std::wstring, std::wstring> ProgIdTree() const {
        return ReadTree(HKEY_CLASSES_ROOT, L"Kelvane.Application");
    }
    std::map<std::wstring, std::wstring> ClassTree() const {
        return ReadTree(HKEY_CLASSES_ROOT, CLASS_KEY);
    }
    static std::wstring ShortExePath() {
        wchar_t path[MAX_PATH] = {}, shortPath[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        return ::GetShortPathNameW(path, shortPath, MAX_PATH) ? shortPath : path;
    }

    static constexpr const wchar_t* CLSID_TEXT = L"{DB904469-253D-4D41-972B-F51EFC0E8E78}";
    static constexpr const wchar_t* CLASS_KEY = L"CLSID\\{DB904469-253D-4D41-972B-F51EFC0E8E78}";
    ScratchClassesRoot classesRoot;
};

TEST_F(AutomationRegistry, AFirstRecordingWritesExactlyTheSixEntries) {
    EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(TRUE));
    const std::map<std::wstring, std::wstring> progId = {{L"", L"Kelvane.Application"},
                                                         {L"CLSID", CLSID_TEXT}};
    const std::map<std::wstring, std::wstring> classEntries = {{L"", L"Kelvane.Application"},
                                                               {L"ProgID", L"Kelvane.Application"},
                                                               {L"InprocHandler32", L"ole32.dll"},
                                                               {L"LocalServer32", ShortExePath()}};
    EXPECT_EQ(ProgIdTree(), progId);
    EXPECT_EQ(ClassTree(), classEntries);
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, L"CLSID").size(), 4u) << "nothing beside the class";
}

TEST_F(AutomationRegistry, KeepsTheTwoNamesThatAreThereAndRewritesTheFourOthers) {
    SetDefaultValue(HKEY_CLASSES_ROOT, L"Kelvane.Application", L"named by the administrator");
    SetDefaultValue(HKEY_CLASSES_ROOT, CLASS_KEY, L"described by the administrator");
    SetDefaultValue(HKEY_CLASSES_ROOT, L"Kelvane.Application\\CLSID", L"stale");
    for (const wchar_t* sub : {L"\\ProgID", L"\\InprocHandler32", L"\\LocalServer32"})
        SetDefaultValue(HKEY_CLASSES_ROOT, std::wstring(CLASS_KEY) + sub, L"stale");

    EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(TRUE));
    EXPECT_EQ(ProgIdTree()[L""], L"named by the administrator");
    EXPECT_EQ(ProgIdTree()[L"CLSID"], CLSID_TEXT);
    auto classEntries = ClassTree();
    EXPECT_EQ(classEntries[L""], L"described by the administrator");
    EXPECT_EQ(classEntries[L"ProgID"], L"Kelvane.Application");
    EXPECT_EQ(classEntries[L"InprocHandler32"], L"ole32.dll");
    EXPECT_EQ(classEntries[L"LocalServer32"], ShortExePath());
}

TEST_F(AutomationRegistry, AKeyWithoutAValueCountsAsThere) {
    DenyWrites(HKEY_CLASSES_ROOT, L"Kelvane.Application");
    EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(TRUE)) << "its value was not written";
    EXPECT_EQ(ProgIdTree()[L""], L"");
}

TEST_F(AutomationRegistry, StopsAtTheFirstEntryThatCannotBeWritten) {
    DenyWrites(HKEY_CLASSES_ROOT, std::wstring(CLASS_KEY) + L"\\ProgID");
    EXPECT_FALSE(COleObjectFactory::UpdateRegistryAll(TRUE));
    EXPECT_EQ(ProgIdTree()[L"CLSID"], CLSID_TEXT) << "the third entry was written";
    const auto classEntries = ClassTree();
    EXPECT_EQ(classEntries.count(L"InprocHandler32"), 0u);
    EXPECT_EQ(classEntries.count(L"LocalServer32"), 0u);
}

TEST_F(AutomationRegistry, RegistersForThisRunWhileOleIsUpAndRevokesBeforeItGoes) {
    ASSERT_TRUE(AfxOleInit());
    EXPECT_TRUE(COleObjectFactory::RegisterAll());
    EXPECT_TRUE(CKelvaneDlgAutoProxy::factory.IsRegistered());
    EXPECT_TRUE(COleObjectFactory::RegisterAll()) << "a registered factory is left as it is";

    // The process's own registration answers a request for a local server.
    IClassFactory* found = nullptr;
    EXPECT_EQ(::CoGetClassObject(CLSID_KelvaneApplication, CLSCTX_LOCAL_SERVER, nullptr,
                                 IID_IClassFactory, reinterpret_cast<void**>(&found)),
              S_OK);
    if (found)
        found->Release();

    AfxOleTerm();
    EXPECT_FALSE(CKelvaneDlgAutoProxy::factory.IsRegistered());
}

} // namespace
