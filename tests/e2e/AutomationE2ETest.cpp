// The real program as an automation server: its registry entries after a stand-alone start, and
// real clients (this test program through OLE, a copy of it that dies, Wine's cscript) that make
// OLE start Kelvane.exe for them.
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include "app/AutoProxy.h"
#include "res/resource.h"
#include "tests/e2e/PanelOperator.h"
#include "tests/e2e/SimulatorProcess.h"
#include "tests/support/Registry.h"

namespace {

const std::wstring PROGID_KEY = L"Kelvane.Application";
const std::wstring CLASS_KEY = L"CLSID\\{DB904469-253D-4D41-972B-F51EFC0E8E78}";
const std::wstring CLSID_TEXT = L"{DB904469-253D-4D41-972B-F51EFC0E8E78}";

// Far beyond what a start or an end takes under Wine; only a failure waits this long.
constexpr DWORD PROGRAM_WAIT_MS = 15000;

std::wstring ShortProgramPath() {
    const std::wstring path = ProgramFolder() + L"\\Kelvane.exe";
    wchar_t shortPath[MAX_PATH] = {};
    return ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH) ? shortPath : path;
}

// Runs the program stand-alone and closes it, as an operator would: it records its entries.
void StartStandAloneAndExit() {
    PanelProcess program;
    ASSERT_NE(program.Window(), nullptr) << "the panel did not open";
    ::PostMessageW(::GetDlgItem(program.Window(), IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.WaitForExit(PROGRAM_WAIT_MS));
}

// The entries a stand-alone start of this build leaves under the two keys.
std::map<std::wstring, std::wstring> ExpectedProgIdTree() {
    return {{L"", L"Kelvane.Application"}, {L"CLSID", CLSID_TEXT}};
}
std::map<std::wstring, std::wstring> ExpectedClassTree() {
    return {{L"", L"Kelvane.Application"},
            {L"ProgID", L"Kelvane.Application"},
            {L"InprocHandler32", L"ole32.dll"},
            {L"LocalServer32", ShortProgramPath()}};
}

// Tests in this suite write the prefix's real HKEY_CLASSES_ROOT; each leaves the entries of a
// fresh stand-alone start behind, which the client tests rely on.
class ServerRegistry : public ::testing::Test {
protected:
    void SetUp() override { Remove(); }
    void TearDown() override {
        Remove();
        StartStandAloneAndExit();
    }
    static void Remove() {
        DeleteTree(HKEY_CLASSES_ROOT, PROGID_KEY);
        DeleteTree(HKEY_CLASSES_ROOT, CLASS_KEY);
    }
};

TEST_F(ServerRegistry, AStandAloneStartWritesExactlyTheSixEntries) {
    StartStandAloneAndExit();
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, PROGID_KEY), ExpectedProgIdTree());
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, CLASS_KEY), ExpectedClassTree());
}

TEST_F(ServerRegistry, ASecondStartKeepsTheTwoNamesAndRewritesTheFourOthers) {
    StartStandAloneAndExit();
    SetDefaultValue(HKEY_CLASSES_ROOT, PROGID_KEY, L"named by the administrator");
    SetDefaultValue(HKEY_CLASSES_ROOT, CLASS_KEY, L"described by the administrator");
    SetDefaultValue(HKEY_CLASSES_ROOT, PROGID_KEY + L"\\CLSID", L"stale");
    for (const wchar_t* sub : {L"\\ProgID", L"\\InprocHandler32", L"\\LocalServer32"})
        SetDefaultValue(HKEY_CLASSES_ROOT, CLASS_KEY + sub, L"stale");

    StartStandAloneAndExit();
    auto progIdTree = ExpectedProgIdTree();
    progIdTree[L""] = L"named by the administrator";
    auto classTree = ExpectedClassTree();
    classTree[L""] = L"described by the administrator";
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, PROGID_KEY), progIdTree);
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, CLASS_KEY), classTree);
}

// A client of this process: it asks OLE for the object and finds the program OLE started.
struct ServedObject {
    HRESULT result = E_FAIL;
    IDispatch* object = nullptr;
    std::unique_ptr<PanelProcess> program;

    // Gives the object back; the call returns once the program has handled it.
    void Release() {
        if (object != nullptr)
            object->Release();
        object = nullptr;
    }
};

ServedObject Create(REFCLSID clsid) {
    ServedObject served;
    const std::vector<DWORD> before = PanelsShowing();
    served.result = ::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(&served.object));
    if (SUCCEEDED(served.result))
        served.program = std::make_unique<PanelProcess>(PanelProcess::StartedForAClient{before});
    return served;
}

class ClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartStandAloneAndExit(); }
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override { ::CoUninitialize(); }

    // The program ends, and ends well, once its client has let go.
    static void ExpectEnds(PanelProcess& program) {
        EXPECT_TRUE(program.WaitForExit(PROGRAM_WAIT_MS))
            << "panel window " << (::IsWindow(program.Window()) ? "still there" : "gone")
            << (::IsWindowVisible(program.Window()) ? ", visible" : "");
        EXPECT_EQ(program.ExitCode(), 0u);
    }
};

class AutomationClient : public ClientTest {};

TEST_F(AutomationClient, CreatedByClassIdGetsTheEmptyDispatchInterfaceAndItsProgramEndsOnRelease) {
    ServedObject served = Create(CLSID_KelvaneApplication);
    ASSERT_HRESULT_SUCCEEDED(served.result);
    ASSERT_NE(served.program->Window(), nullptr) << "the panel shows while the client holds it";

    IUnknown* other = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch}) {
        EXPECT_EQ(served.object->QueryInterface(*iid, reinterpret_cast<void**>(&other)), S_OK);
        if (other)
            other->Release();
    }
    // The object answers its own dispatch interface identifier too (the unit tests ask it in
    // its process), but nothing registers a proxy and stub for that identifier, so OLE cannot
    // carry it to another process: a client outside works through IDispatch.
    // IClassFactory and the others the object does not answer at all.
    for (const IID* iid : {&IID_IKelvane, &IID_IClassFactory, &IID_IPersist, &IID_IOleObject}) {
        EXPECT_EQ(served.object->QueryInterface(*iid, reinterpret_cast<void**>(&other)),
                  E_NOINTERFACE);
    }
    for (const wchar_t* name : {L"Visible", L"Quit", L"Connect"}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        EXPECT_EQ(served.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
                  DISP_E_UNKNOWNNAME)
            << name;
    }
    UINT count = 7;
    EXPECT_EQ(served.object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    DISPPARAMS none{};
    EXPECT_EQ(served.object->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                    nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    EXPECT_TRUE(::IsWindowVisible(served.program->Window()));
    served.Release();
    ExpectEnds(*served.program);
}

TEST_F(AutomationClient, EachClientGetsAProgramOfItsOwnAlsoByProgId) {
    CLSID byName{};
    ASSERT_HRESULT_SUCCEEDED(::CLSIDFromProgID(L"Kelvane.Application", &byName));
    EXPECT_TRUE(::IsEqualCLSID(byName, CLSID_KelvaneApplication));

    ServedObject first = Create(CLSID_KelvaneApplication);
    ServedObject second = Create(byName);
    ASSERT_HRESULT_SUCCEEDED(first.result);
    ASSERT_HRESULT_SUCCEEDED(second.result);
    ASSERT_NE(first.program->Window(), nullptr);
    ASSERT_NE(second.program->Window(), nullptr);
    EXPECT_NE(first.program->ProcessId(), second.program->ProcessId()) << "single use";

    first.Release();
    ExpectEnds(*first.program);
    EXPECT_FALSE(second.program->WaitForExit(0)) << "the other client's program stays";
    EXPECT_TRUE(::IsWindowVisible(second.program->Window()));
    second.Release();
    ExpectEnds(*second.program);
}

TEST_F(AutomationClient, AStandAloneProgramIsNotAskedAndKeepsRunning) {
    PanelProcess standAlone;
    ASSERT_NE(standAlone.Window(), nullptr);
    ServedObject served = Create(CLSID_KelvaneApplication);
    ASSERT_HRESULT_SUCCEEDED(served.result);
    ASSERT_NE(served.program->Window(), nullptr);
    EXPECT_NE(served.program->ProcessId(), standAlone.ProcessId());

    served.Release();
    ExpectEnds(*served.program);
    EXPECT_FALSE(standAlone.WaitForExit(0));
    EXPECT_TRUE(::IsWindowVisible(standAlone.Window()));
    ::PostMessageW(::GetDlgItem(standAlone.Window(), IDCANCEL), BM_CLICK, 0, 0);
    ExpectEnds(standAlone);
}

// Wine's OLE does not run down the objects of a client that died, as Windows does after some
// minutes: the program keeps its object and stays. What matters is that it neither crashes nor
// stands in the way of the next client.
TEST_F(AutomationClient, AClientThatDiesWithoutReleasingDoesNotBringTheProgramDown) {
    const std::string eventName =
        "Local\\KelvaneObjectHeld-" + std::to_string(::GetCurrentProcessId());
    HANDLE created = ::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    const std::vector<DWORD> before = PanelsShowing();
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = "\"" + std::string(self) + "\" --hold-object " + eventName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION client{};
    ASSERT_TRUE(::CreateProcessA(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &client));
    const HANDLE waits[] = {created, client.hProcess};
    EXPECT_EQ(::WaitForMultipleObjects(2, waits, FALSE, PROGRAM_WAIT_MS), WAIT_OBJECT_0)
        << "the client did not get its object";
    PanelProcess orphan(PanelProcess::StartedForAClient{before});
    ::TerminateProcess(client.hProcess, 9);
    ::WaitForSingleObject(client.hProcess, PROGRAM_WAIT_MS);
    ::CloseHandle(client.hThread);
    ::CloseHandle(client.hProcess);
    ::CloseHandle(created);
    ASSERT_NE(orphan.Window(), nullptr);

    // The program answers its window and serves nobody new: the next client gets its own.
    ServedObject next = Create(CLSID_KelvaneApplication);
    ASSERT_HRESULT_SUCCEEDED(next.result);
    EXPECT_NE(next.program->ProcessId(), orphan.ProcessId());
    DWORD_PTR answer = 0;
    EXPECT_TRUE(::SendMessageTimeoutW(orphan.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer));
    EXPECT_FALSE(orphan.WaitForExit(0)) << "exit code " << orphan.ExitCode();
    next.Release();
    ExpectEnds(*next.program);
}

// Wine's cscript as the client, the way a user would script the program. Wine's WScript.Sleep
// ends the script, so the script holds its object in a busy loop, for the moment the test needs.
TEST_F(AutomationClient, AScriptStartsTheProgramForItsObjectAndReleasingItEndsTheProgram) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base =
        std::wstring(temp) + L"kelvane-client-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring script = base + L".vbs", hold = base + L".hold", held = base + L".held";
    {
        std::ofstream out{std::filesystem::path(script)};
        out << "Set files = CreateObject(\"Scripting.FileSystemObject\")\r\n"
               "Set panel = CreateObject(\"Kelvane.Application\")\r\n"
               "files.CreateTextFile(WScript.Arguments(1)).Close\r\n"
               "Do While files.FileExists(WScript.Arguments(0))\r\n"
               "Loop\r\n"
               "Set panel = Nothing\r\n";
        std::ofstream{std::filesystem::path(hold)} << "hold";
    }
    ::DeleteFileW(held.c_str());
    // An automation start registers instead of recording: an entry it would rewrite stays.
    SetDefaultValue(HKEY_CLASSES_ROOT, CLASS_KEY + L"\\ProgID", L"left alone");

    const std::vector<DWORD> before = PanelsShowing();
    std::wstring commandLine =
        L"cscript.exe //nologo \"" + script + L"\" \"" + hold + L"\" \"" + held + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION cscript{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &cscript));
    PanelProcess program(PanelProcess::StartedForAClient{before});
    EXPECT_NE(program.Window(), nullptr) << "the panel shows for the script";
    EXPECT_TRUE(PanelOperator::WaitUntil(
        [&] { return ::GetFileAttributesW(held.c_str()) != INVALID_FILE_ATTRIBUTES; },
        PROGRAM_WAIT_MS))
        << "the script got its object";
    EXPECT_FALSE(program.WaitForExit(0)) << "the object is held";
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, CLASS_KEY)[L"ProgID"], L"left alone");

    ::DeleteFileW(hold.c_str());
    EXPECT_EQ(::WaitForSingleObject(cscript.hProcess, PROGRAM_WAIT_MS), WAIT_OBJECT_0);
    DWORD scriptExit = 1;
    ::GetExitCodeProcess(cscript.hProcess, &scriptExit);
    EXPECT_EQ(scriptExit, 0u);
    ExpectEnds(program);

    ::CloseHandle(cscript.hThread);
    ::CloseHandle(cscript.hProcess);
    ::DeleteFileW(script.c_str());
    ::DeleteFileW(held.c_str());
    SetDefaultValue(HKEY_CLASSES_ROOT, CLASS_KEY + L"\\ProgID", L"Kelvane.Application");
}

// A client holds the panel of the program OLE started for it, connected to the simulated
// monitor over the cable.
class HeldPanel : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        const CablePorts ports = GetCablePorts();
        ASSERT_FALSE(ports.panel.empty() || ports.monitor.empty())
            << "run the end-to-end tests through scripts/test.sh, which lays the cable";
        served = Create(CLSID_KelvaneApplication);
        ASSERT_HRESULT_SUCCEEDED(served.result);
        ASSERT_NE(served.program->Window(), nullptr);
        panel = std::make_unique<PanelOperator>(served.program->Window());
    }
    void TearDown() override {
        served.Release();
        ClientTest::TearDown();
    }

    ServedObject served;
    std::unique_ptr<PanelOperator> panel;
};

TEST_F(HeldPanel, ExitEscapeAndCloseOnlyHideThePanelAndTheConnectionStaysUp) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    panel->Click(IDC_CONNECT);
    ASSERT_EQ(panel->Text(IDC_STATUS), L"Connection is completed.");
    const size_t closes = Cable::Count("close", "panel");
    const HWND window = served.program->Window();

    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Exit",
         [&] {
             panel->Click(IDCANCEL, 10000);
         }},
        {"Escape",
         [&] {
             ::PostMessageW(::GetDlgItem(window, IDC_CONNECT), WM_KEYDOWN, VK_ESCAPE, 0);
         }},
        {"close button",
         [&] {
             panel->Command(WM_SYSCOMMAND, SC_CLOSE);
         }},
    };
    for (const auto& [name, close] : ways) {
        ::ShowWindow(window, SW_SHOW);
        ASSERT_TRUE(panel->Visible());
        close();
        EXPECT_TRUE(PanelOperator::WaitUntil([&] { return !panel->Visible(); }, 10000)) << name;
        EXPECT_FALSE(served.program->WaitForExit(0)) << name;
        EXPECT_EQ(panel->Text(IDC_CONNECT), L"Disconnect") << name;
    }
    EXPECT_EQ(Cable::Count("close", "panel"), closes) << "the port stayed open";

    // The hidden panel still talks to the monitor.
    panel->Command(WM_COMMAND, MAKEWPARAM(IDC_CHECK_SIGNAL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, IDC_CHECK_SIGNAL)));
    EXPECT_EQ(monitor.Frames().back(), "@@1SIG000");

    served.Release();
    ExpectEnds(*served.program);
}

TEST_F(HeldPanel, AReleaseDuringAMonitorOperationWaitsForItAndThenEndsTheProgram) {
    SimulatorProcess monitor(L"");
    ASSERT_TRUE(monitor.Running());
    std::thread operatorClicks([&] { panel->Click(IDC_CONNECT); });
    const bool started =
        PanelOperator::WaitUntil([&] { return !monitor.Frames().empty(); }, PROGRAM_WAIT_MS);
    served.Release();
    const ULONGLONG releasedAt = ::GetTickCount64();
    operatorClicks.join();
    ASSERT_TRUE(started);

    // The program is single-threaded: the release was served only after the whole connect.
    const std::vector<LogEvent> log = monitor.Log();
    std::vector<std::string> frames;
    ULONGLONG lastFrameAt = 0;
    for (const LogEvent& event : log) {
        if (event.kind == "RX") {
            frames.push_back(event.details);
            lastFrameAt = event.time;
        }
    }
    EXPECT_EQ(frames,
              (std::vector<std::string>{"@@0UIG000", "@@1SSG000", "@@1SIG000", "@@1FVSENA"}));
    EXPECT_GE(releasedAt, lastFrameAt);
    ExpectEnds(*served.program);
}

TEST_F(HeldPanel, WithABoxOpenTheLastReleaseLeavesTheProgramWithTheOperator) {
    SimulatorProcess monitor(L"--silent");
    ASSERT_TRUE(monitor.Running());
    const HWND window = served.program->Window();
    bool panelStayed = false;
    const std::vector<SeenBox> boxes = panel->Click(IDC_CONNECT, 30000, [&](const SeenBox&) {
        served.Release();
        panelStayed = ::IsWindow(window) != FALSE;
        ::PostMessageW(::FindWindowW(L"#32770", L"Error"), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       0);
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_TRUE(panelStayed) << "released while the box was open";
    EXPECT_TRUE(panel->Visible());
    EXPECT_FALSE(served.program->WaitForExit(0));

    // Now the operator's Exit closes the panel as in a stand-alone start.
    panel->Click(IDCANCEL, 10000);
    ExpectEnds(*served.program);
}

} // namespace
