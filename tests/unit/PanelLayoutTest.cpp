// The panel as the dialog manager creates it from its template, and the resources around it.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include "framework/WinApp.h"
#include "panel/KelvaneDlg.h"
#include "res/resource.h"
#include "tests/support/DialogReading.h"
#include "tests/support/ModalRunner.h"

namespace {

struct ControlRow {
    int id;
    const wchar_t* className;
    const wchar_t* caption; // null: not a fixed caption (edit fields, combo boxes)
    DWORD style;            // besides WS_CHILD | WS_VISIBLE
    int x, y, width, height;
};

constexpr DWORD RO_EDIT = ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER;

const ControlRow PANEL_CONTROLS[] = {
    {IDC_CONNECT, L"Button", L"Connect", BS_PUSHBUTTON | WS_TABSTOP, 7, 7, 86, 20},
    {IDC_COM_PORT, L"ComboBox", nullptr, CBS_DROPDOWN | WS_TABSTOP, 299, 7, 65, 199},
    {IDC_CHECK_UNIT_ID, L"Button", L"Check Unit ID", BS_PUSHBUTTON | WS_TABSTOP, 174, 103, 125, 15},
    {IDC_SOURCE_HDMI1, L"Button", L"HDMI 1", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 24, 54, 41,
     10},
    {IDC_SOURCE_HDMI2, L"Button", L"HDMI 2", BS_AUTORADIOBUTTON | WS_TABSTOP, 81, 54, 41, 10},
    {IDC_SOURCE_HDMI3, L"Button", L"HDMI 3", BS_AUTORADIOBUTTON | WS_TABSTOP, 138, 54, 41, 10},
    {IDC_SOURCE_VGA, L"Button", L"VGA", BS_AUTORADIOBUTTON | WS_TABSTOP, 193, 54, 41, 10},
    {IDC_CHECK_SOURCE, L"Button", L"Check Current Source", BS_PUSHBUTTON | WS_TABSTOP, 257, 50, 85,
     14},
    {IDC_DEFAULT_SETTING, L"Button", L"Default Setting", BS_PUSHBUTTON | WS_TABSTOP, 15, 104, 145,
     48},
    {IDC_CHECK_FIRMWARE, L"Button", L"Check Firmware Version", BS_PUSHBUTTON | WS_TABSTOP, 174, 139,
     125, 14},
    {IDC_CHECK_SIGNAL, L"Button", L"Check Signal Status", BS_PUSHBUTTON | WS_TABSTOP, 174, 121, 125,
     15},
    {IDCANCEL, L"Button", L"Exit", BS_PUSHBUTTON | WS_TABSTOP, 289, 204, 75, 22},
    {IDC_STATIC, L"Button", L"Input Source", BS_GROUPBOX, 7, 36, 357, 47},
    {IDC_STATIC, L"Static", L"COM Port", SS_LEFT | WS_GROUP, 243, 10, 33, 8},
    {IDC_STATIC, L"Button", L"Special Function", BS_GROUPBOX, 7, 90, 357, 89},
    {IDC_STATUS, L"Edit", nullptr, RO_EDIT, 7, 187, 357, 12},
    {IDC_SIGNAL_STATUS, L"Edit", nullptr, RO_EDIT | WS_TABSTOP, 305, 121, 50, 14},
    {IDC_STATIC, L"Static", L"In order to change input source, press  the button for each source.",
     SS_LEFT | WS_GROUP, 23, 70, 245, 8},
    {IDC_FIRMWARE_VERSION, L"Edit", nullptr, RO_EDIT | WS_TABSTOP, 305, 139, 50, 14},
    {IDC_UNIT_ID, L"Edit", nullptr, RO_EDIT | WS_TABSTOP, 305, 104, 50, 14},
    {IDC_STATIC, L"Static", L"Monitor Model", SS_LEFT | WS_GROUP, 243, 25, 51, 8},
    {IDC_MODEL, L"ComboBox", nullptr, CBS_DROPDOWN | WS_TABSTOP, 299, 22, 65, 115},
    {IDC_DIAGNOSTIC, L"Button", L"Diagnostic Mode", BS_PUSHBUTTON | WS_TABSTOP, 15, 157, 341, 18},
};

bool SameClass(const std::wstring& actual, const wchar_t* expected) {
    return _wcsicmp(actual.c_str(), expected) == 0;
}

TEST(PanelLayout, TheTemplateHoldsTheControlsInTabOrderWithTheirIdsStylesAndPlaces) {
    const std::vector<TemplateItem> items = ReadDialogTemplate(IDD_CONTROL_PANEL);
    ASSERT_EQ(items.size(), std::size(PANEL_CONTROLS));
    for (size_t i = 0; i < items.size(); ++i) {
        const ControlRow& row = PANEL_CONTROLS[i];
        const TemplateItem& item = items[i];
        SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " (id " << row.id << ")");
        EXPECT_EQ(item.id, row.id);
        EXPECT_TRUE(SameClass(item.className, row.className));
        EXPECT_EQ(item.style, WS_CHILD | WS_VISIBLE | row.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.x, row.x);
        EXPECT_EQ(item.y, row.y);
        EXPECT_EQ(item.cx, row.width);
        EXPECT_EQ(item.cy, row.height);
        EXPECT_EQ(item.title, row.caption ? row.caption : L"");
    }
}

// The rectangles of the child windows as they are created, from a hook on window creation.
std::vector<RECT> g_created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW& cs = *reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        // Only the dialog's own children, not the edit field and list inside a combo box.
        if ((cs.style & WS_CHILD) && ClassOf(cs.hwndParent) == L"#32770")
            g_created.push_back({cs.x, cs.y, cs.x + cs.cx, cs.y + cs.cy});
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(PanelLayout, TheCreatedControlsMatchTheTemplateConvertedFromDialogUnits) {
    CKelvaneDlg panel;
    g_created.clear();
    HHOOK hook = ::SetWindowsHookExW(WH_CBT, &RecordCreation, nullptr, ::GetCurrentThreadId());
    RunModal(panel, [&] {
        ::UnhookWindowsHookEx(hook);
        const HWND dlg = panel.m_hWnd;
        const std::vector<HWND> children = ChildrenInTabOrder(dlg);
        ASSERT_EQ(children.size(), std::size(PANEL_CONTROLS));
        for (size_t i = 0; i < children.size(); ++i) {
            const ControlRow& row = PANEL_CONTROLS[i];
            const HWND child = children[i];
            SCOPED_TRACE(testing::Message() << "control #" << i + 1 << " (id " << row.id << ")");
            EXPECT_EQ(::GetDlgCtrlID(child), row.id);
            EXPECT_TRUE(SameClass(ClassOf(child), row.className));
            EXPECT_TRUE(::IsWindowEnabled(child));
            if (row.caption != nullptr) {
                EXPECT_EQ(TextOf(child), row.caption);
            }

            // What the controls change of their own accord: a radio button keeps the tab stop
            // only while checked, an edit field of a three-dimensional dialog trades WS_BORDER
            // for a sunken edge, a combo box adds the bits of its list.
            DWORD style = StyleOf(child);
            DWORD mask = ~0u;
            const bool radio = (row.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                               SameClass(row.className, L"Button");
            if (radio)
                mask &= ~DWORD(WS_TABSTOP);
            if (SameClass(row.className, L"Edit") && (ExStyleOf(child) & WS_EX_CLIENTEDGE))
                style |= WS_BORDER;
            if (SameClass(row.className, L"ComboBox"))
                mask &= 0xFFFF0000 | CBS_DROPDOWNLIST;
            const DWORD expected = WS_CHILD | WS_VISIBLE | row.style;
            EXPECT_EQ(style & mask, expected & mask)
                << std::hex << "style 0x" << style << ", expected 0x" << expected;

            // The size each control was created with; a drop-down combo box then shrinks to its
            // edit field, the template's height being the height with the list open.
            const RECT want = FromDialogUnits(dlg, row.x, row.y, row.width, row.height);
            ASSERT_LT(i, g_created.size());
            const RECT& created = g_created[i];
            EXPECT_EQ(created.left, want.left);
            EXPECT_EQ(created.top, want.top);
            EXPECT_EQ(created.right, want.right);
            EXPECT_EQ(created.bottom, want.bottom);
            const RECT now = RectInParent(child);
            EXPECT_EQ(now.left, want.left);
            EXPECT_EQ(now.top, want.top);
            EXPECT_EQ(now.right, want.right);
            if (!SameClass(row.className, L"ComboBox")) {
                EXPECT_EQ(now.bottom, want.bottom);
            }
        }
        EXPECT_EQ(::GetDlgItem(dlg, IDOK), nullptr) << "the panel has no accept button";
    });
}

TEST(PanelLayout, TheWindowIsAModalFrameWithItsCaptionFontAndSize) {
    CKelvaneDlg panel;
    RunModal(panel, [&] {
        const HWND dlg = panel.m_hWnd;
        EXPECT_EQ(TextOf(dlg), L"Orvanta V1.2");
        const DWORD style = StyleOf(dlg);
        for (DWORD bit : {DWORD(WS_POPUP), DWORD(WS_VISIBLE), DWORD(WS_CAPTION), DWORD(WS_SYSMENU),
                          DWORD(DS_MODALFRAME), DWORD(DS_SETFONT)})
            EXPECT_EQ(style & bit, bit) << std::hex << bit;
        EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD), 0u);
        EXPECT_TRUE(ExStyleOf(dlg) & WS_EX_APPWINDOW);

        RECT client;
        ::GetClientRect(dlg, &client);
        const RECT want = FromDialogUnits(dlg, 0, 0, 371, 233);
        EXPECT_EQ(client.right, want.right);
        EXPECT_EQ(client.bottom, want.bottom);

        LOGFONTW font{};
        ::GetObjectW(HFONT(::SendMessageW(dlg, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_STREQ(font.lfFaceName, L"굴림");
        const HDC screen = ::GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -::MulDiv(9, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
        ::ReleaseDC(nullptr, screen);
        EXPECT_LE(font.lfWeight, FW_NORMAL);
        EXPECT_EQ(font.lfItalic, 0);
        EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    });
}

TEST(PanelLayout, ThePortAndModelListsHoldTheirEntriesInOrder) {
    CKelvaneDlg panel;
    RunModal(panel, [&] {
        std::vector<std::wstring> ports;
        for (int n = 1; n <= 15; ++n)
            ports.push_back(L"COM" + std::to_wstring(n));
        EXPECT_EQ(ComboEntries(::GetDlgItem(panel.m_hWnd, IDC_COM_PORT)), ports);
        EXPECT_EQ(
            ComboEntries(::GetDlgItem(panel.m_hWnd, IDC_MODEL)),
            (std::vector<std::wstring>{L"PX-100", L"PX-200", L"PX-210", L"PX-300", L"PX-400"}));
    });
}

TEST(PanelLayout, ThePanelOpensCentredOnTheScreen) {
    CKelvaneDlg panel;
    RunModal(panel, [&] {
        RECT window, work;
        ::GetWindowRect(panel.m_hWnd, &window);
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        EXPECT_NEAR((window.left + window.right) / 2, (work.left + work.right) / 2, 1);
        EXPECT_NEAR((window.top + window.bottom) / 2, (work.top + work.bottom) / 2, 1);
    });
}

// Every resource of the program is in Korean.
BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(language);
    return TRUE;
}
BOOL CALLBACK CollectNames(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR out) {
    ::EnumResourceLanguagesW(module, type, name, &CollectLanguage, out);
    return TRUE;
}
BOOL CALLBACK CollectTypes(HMODULE module, LPWSTR type, LONG_PTR out) {
    ::EnumResourceNamesW(module, type, &CollectNames, out);
    return TRUE;
}

TEST(PanelResources, EveryResourceIsKorean) {
    std::vector<WORD> languages;
    ::EnumResourceTypesW(nullptr, &CollectTypes, LONG_PTR(&languages));
    ASSERT_GE(languages.size(), 8u)
        << "icons, icon group, two dialogs, list data, strings, version";
    for (WORD language : languages)
        EXPECT_EQ(language, 0x0412);
}

TEST(PanelResources, TheStringsReadExactly) {
    wchar_t text[128] = {};
    ::LoadStringW(nullptr, IDS_ABOUTBOX, text, 128);
    EXPECT_STREQ(text, L"Orvanta Information(&A)...");
    ::LoadStringW(nullptr, IDP_OLE_INIT_FAILED, text, 128);
    EXPECT_STREQ(text,
                 L"OLE 초기화에 실패하였습니다. OLE 라이브러리의 버전이 올바른지 확인하십시오.");
    EXPECT_EQ(wcslen(text), 45u);
}

TEST(PanelResources, TheIconHasSixImages) {
    HRSRC group = ::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
    ASSERT_EQ(*reinterpret_cast<const WORD*>(dir + 4), 6);
    std::vector<std::pair<int, int>> images; // (size, bits per pixel)
    for (int i = 0; i < 6; ++i) {
        const BYTE* entry = dir + 6 + i * 14; // GRPICONDIRENTRY
        images.emplace_back(entry[0], *reinterpret_cast<const WORD*>(entry + 6));
    }
    std::sort(images.begin(), images.end());
    EXPECT_EQ(images, (std::vector<std::pair<int, int>>{
                          {16, 4}, {16, 8}, {32, 4}, {32, 8}, {48, 4}, {48, 8}}));
}

std::wstring VersionString(const void* block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\041204b0\\") + name;
    if (!::VerQueryValueW(block, path.c_str(), &value, &length))
        return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST(PanelResources, TheVersionRecordNamesTheProgram) {
    HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    ASSERT_NE(resource, nullptr);
    const DWORD size = ::SizeofResource(nullptr, resource);
    std::vector<BYTE> block(size * 2);
    std::memcpy(block.data(), ::LockResource(::LoadResource(nullptr, resource)), size);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS__WINDOWS32));

    EXPECT_EQ(VersionString(block.data(), L"FileVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(VersionString(block.data(), L"ProductVersion"), L"1, 0, 0, 1");
    EXPECT_EQ(VersionString(block.data(), L"InternalName"), L"Kelvane");
    EXPECT_EQ(VersionString(block.data(), L"OriginalFilename"), L"Kelvane.EXE");
    EXPECT_EQ(VersionString(block.data(), L"ProductName"), L"Kelvane 응용 프로그램");
    EXPECT_EQ(VersionString(block.data(), L"FileDescription"), L"Kelvane MFC 응용 프로그램");
    EXPECT_EQ(VersionString(block.data(), L"CompanyName"), L"");
    EXPECT_EQ(VersionString(block.data(), L"LegalTrademarks"), L"");
    EXPECT_NE(VersionString(block.data(), L"LegalCopyright"), L"<missing>");

    struct {
        WORD language, codePage;
    }* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0412);
    EXPECT_EQ(translation->codePage, 1200);
}

} // namespace
