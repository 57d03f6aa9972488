// The application's start-up: OLE, the automation switches, the class factories, the panel.
#include <gtest/gtest.h>
#include "app/AutoProxy.h"
#include "app/Kelvane.h"
#include "framework/ObjectFactory.h"
#include "framework/Ole.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/ModalRunner.h"
#include "tests/support/Registry.h"

namespace {

constexpr const wchar_t* PANEL_CAPTION = L"Orvanta V1.2";

// {5E0C3D7A-0B1F-4C42-9D35-6A8E2F417B90}: a class of the tests' own.
constexpr CLSID CLSID_Counting = {
    0x5e0c3d7a, 0x0b1f, 0x4c42, {0x9d, 0x35, 0x6a, 0x8e, 0x2f, 0x41, 0x7b, 0x90}};

// A factory that only counts what start-up asks of it.
class CountingFactory : public COleObjectFactory {
public:
    CountingFactory() : COleObjectFactory(CLSID_Counting, nullptr, TRUE, L"Kelvane.Counting") {}
    BOOL Register() override {
        ++registrations;
        return TRUE;
    }
    BOOL UpdateRegistry(BOOL bRegister) override {
        recordings += bRegister ? 1 : 0;
        return TRUE;
    }
    int registrations = 0;
    int recordings = 0;
};

class AppStartup : public ::testing::Test {
protected:
    void TearDown() override {
        theApp.m_strCmdLine.clear();
        theApp.m_pMainWnd = nullptr;
        AfxOleSetUserCtrl(TRUE);
        AfxSetOleInitializeFunction(nullptr);
        // Takes back the program's own factory registration and the OLE start-up.
        AfxOleTerm();
    }

    // Runs InitInstance with the command line; the panel, if it opens, is closed by "Exit".
    BOOL Start(const std::wstring& commandLine) {
        theApp.m_strCmdLine = commandLine;
        WhenDialogAppears closer(PANEL_CAPTION, [&](HWND panel) {
            panelShown = true;
            mainWindowWasThePanel = AfxGetMainWnd() && AfxGetMainWnd()->m_hWnd == panel;
            ::PostMessageW(panel, WM_COMMAND, IDCANCEL, 0);
        });
        return theApp.InitInstance();
    }

    // The program's own factory records itself as well: into a scratch key.
    ScratchClassesRoot classesRoot;
    CountingFactory factory;
    bool panelShown = false;
    bool mainWindowWasThePanel = false;
};

TEST_F(AppStartup, AStandAloneStartRecordsTheFactoriesAndRunsThePanel) {
    EXPECT_FALSE(Start(L""));
    EXPECT_TRUE(panelShown);
    EXPECT_TRUE(mainWindowWasThePanel);
    EXPECT_EQ(factory.recordings, 1);
    EXPECT_EQ(factory.registrations, 0);
    EXPECT_TRUE(AfxOleGetUserCtrl());
    EXPECT_EQ(AfxGetMainWnd(), nullptr) << "the panel is gone with its run";
}

TEST_F(AppStartup, AnAutomationStartRegistersTheFactoriesAndRunsThePanelAllTheSame) {
    EXPECT_FALSE(Start(L"/Automation"));
    EXPECT_TRUE(panelShown);
    EXPECT_EQ(factory.registrations, 1);
    EXPECT_EQ(factory.recordings, 0);
    EXPECT_FALSE(AfxOleGetUserCtrl());
}

TEST_F(AppStartup, TheSwitchInLowerCaseIsNotRecognised) {
    EXPECT_FALSE(Start(L"/automation"));
    EXPECT_TRUE(panelShown);
    EXPECT_EQ(factory.recordings, 1);
    EXPECT_EQ(factory.registrations, 0);
    EXPECT_TRUE(AfxOleGetUserCtrl());
}

TEST_F(AppStartup, AtTheEndTheFactoryIsRevokedWhileOleIsUpAndThenOleIsUninitialised) {
    // The test's own hold on COM keeps this thread's apartment up past the program's end, where a
    // registration left behind would still be found.
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK)
        << "nothing else holds COM on this thread";
    ASSERT_FALSE(CKelvaneDlgAutoProxy::factory.IsRegistered()) << "an earlier start revoked it";
    WhenDialogAppears closer(PANEL_CAPTION, [&](HWND panel) {
        panelShown = true;
        ::PostMessageW(panel, WM_COMMAND, IDCANCEL, 0);
    });
    std::wstring commandLine = L"/Automation";
    EXPECT_EQ(AfxWinMain(::GetModuleHandleW(nullptr), commandLine.data(), SW_SHOWNORMAL), 0);
    EXPECT_TRUE(panelShown);
    EXPECT_FALSE(CKelvaneDlgAutoProxy::factory.IsRegistered());

    // A class registered in this apartment cannot be registered again; once the program's
    // registration is gone, the class is free.
    IUnknown* standIn = nullptr;
    factory.InternalQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&standIn));
    DWORD cookie = 0;
    EXPECT_EQ(::CoRegisterClassObject(CLSID_KelvaneApplication, standIn, CLSCTX_LOCAL_SERVER,
                                      REGCLS_SINGLEUSE, &cookie),
              S_OK)
        << "the program's registration was revoked before OLE went";
    if (cookie != 0)
        ::CoRevokeClassObject(cookie);
    standIn->Release();

    ::CoUninitialize();
    const HRESULT afterwards = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ::CoUninitialize();
    EXPECT_EQ(afterwards, S_OK) << "the program's own hold on OLE was given back";
}

HRESULT WINAPI FailingOleInitialize(LPVOID) {
    return E_OUTOFMEMORY;
}

TEST_F(AppStartup, WhenOleCannotStartTheKoreanMessageShowsAndNoPanelIsCreated) {
    MessageBoxRecorder boxes;
    AfxSetOleInitializeFunction(&FailingOleInitialize);
    EXPECT_FALSE(Start(L""));
    EXPECT_FALSE(panelShown);
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(factory.recordings + factory.registrations, 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              L"OLE 초기화에 실패하였습니다. OLE 라이브러리의 버전이 올바른지 확인하십시오.");
    EXPECT_EQ(boxes.boxes[0].caption, L"kelvane_tests") << "the executable's name";
    EXPECT_EQ(boxes.boxes[0].type, UINT(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
}

struct Switch {
    const wchar_t* commandLine;
    bool embedding;
    bool automation;
    const wchar_t* rest; // the command line once the tests took their switch
};

class AppSwitches : public ::testing::TestWithParam<Switch> {
protected:
    void TearDown() override {
        theApp.m_strCmdLine.clear();
        AfxOleSetUserCtrl(TRUE);
    }
};

// RunEmbedded first; RunAutomated only when it found nothing, as start-up asks them.
TEST_P(AppSwitches, AreFoundAfterADashOrSlashAnywhereCaseSensitively) {
    const Switch& s = GetParam();
    theApp.m_strCmdLine = s.commandLine;
    const bool embedding = theApp.RunEmbedded();
    const bool automation = !embedding && theApp.RunAutomated();
    EXPECT_EQ(embedding, s.embedding);
    EXPECT_EQ(automation, s.automation);
    EXPECT_EQ(theApp.m_strCmdLine, s.rest);
    EXPECT_EQ(AfxOleGetUserCtrl(), !(s.embedding || s.automation));
}

INSTANTIATE_TEST_SUITE_P(
    Table, AppSwitches,
    ::testing::Values(Switch{L"", false, false, L""}, Switch{L"-Embedding", true, false, L""},
                      Switch{L"/Embedding", true, false, L""},
                      Switch{L"/Automation", false, true, L""},
                      Switch{L"-Automation", false, true, L""},
                      Switch{L"/automation", false, false, L"/automation"},
                      Switch{L"-EMBEDDING", false, false, L"-EMBEDDING"},
                      Switch{L"Embedding", false, false, L"Embedding"},
                      Switch{L"x -Embedding y", true, false, L"x  y"},
                      Switch{L"foo/Automationbar", false, true, L"foobar"},
                      Switch{L"/Embeddingly", true, false, L"ly"},
                      Switch{L"-Embed", false, false, L"-Embed"},
                      Switch{L"/Automation -Embedding", true, false, L"/Automation "}));

} // namespace
