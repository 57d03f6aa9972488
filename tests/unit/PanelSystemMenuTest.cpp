// The panel's system menu, its about box and its icon.
#include <gtest/gtest.h>
#include "framework/WinApp.h"
#include "panel/KelvaneDlg.h"
#include "res/resource.h"
#include "tests/support/DialogReading.h"
#include "tests/support/ModalRunner.h"

namespace {

constexpr const wchar_t* ABOUT_CAPTION = L"Orvanta information";

// Sends the system command to the panel and answers whether the about box opened; it is closed
// with close (a WM_COMMAND of that identifier, or a message of the caller's).
bool SysCommandOpensAboutBox(
    HWND panel, WPARAM command, const std::function<void(HWND)>& close = [](HWND about) {
        ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    }) {
    WhenDialogAppears watch(ABOUT_CAPTION, close);
    ::SendMessageW(panel, WM_SYSCOMMAND, command, 0);
    return watch.Seen();
}

TEST(PanelSystemMenu, TheAboutItemStandsOnceBelowASeparatorAtTheEnd) {
    CKelvaneDlg panel;
    RunModal(panel, [&] {
        const HMENU menu = ::GetSystemMenu(panel.m_hWnd, FALSE);
        const int count = ::GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(::GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR,
                  UINT(MF_SEPARATOR));
        EXPECT_EQ(::GetMenuItemID(menu, count - 1), UINT(IDM_ABOUTBOX));
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, count - 1, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, L"Orvanta Information(&A)...");
        int abouts = 0;
        for (int i = 0; i < count; ++i)
            abouts += ::GetMenuItemID(menu, i) == IDM_ABOUTBOX;
        EXPECT_EQ(abouts, 1);
    });
}

TEST(PanelSystemMenu, CommandsSixteenToThirtyOneAndNoOthersOpenTheAboutBox) {
    CKelvaneDlg panel;
    RunModal(panel, [&] {
        for (WPARAM command = 0; command < 64; ++command) {
            const bool about = command >= 16 && command <= 31;
            EXPECT_EQ(SysCommandOpensAboutBox(panel.m_hWnd, command), about) << command;
        }
        EXPECT_TRUE(::IsWindowVisible(panel.m_hWnd));
    });
}

// Records the cancel command instead of ending the run, so the test can look on.
class CancelWatchingPanel : public CKelvaneDlg {
public:
    void OnCancel() override { ++cancels; }
    int cancels = 0;
};

TEST(PanelSystemMenu, TheOrdinarySystemCommandsTakeTheirDefaultCourse) {
    CancelWatchingPanel panel;
    RunModal(panel, [&] {
        ::SendMessageW(panel.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(::IsIconic(panel.m_hWnd));
        ::SendMessageW(panel.m_hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
        EXPECT_FALSE(::IsIconic(panel.m_hWnd));
        // Close comes back as WM_CLOSE, which becomes the cancel command.
        ::SendMessageW(panel.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        EXPECT_EQ(panel.cancels, 1);
    });
}

TEST(PanelSystemMenu, TheAboutBoxOpensCentredOverTheDisabledPanelAndClosesEveryWay) {
    CKelvaneDlg panel;
    // As at start-up: the panel is the main window, which owns the about box.
    AfxGetApp()->m_pMainWnd = &panel;
    RunModal(panel, [&] {
        const HWND panelWindow = panel.m_hWnd;
        ::SetWindowTextW(::GetDlgItem(panelWindow, IDC_STATUS), L"before");
        const std::function<void(HWND)> closes[] = {
            [](HWND about) { ::PostMessageW(about, WM_COMMAND, IDOK, 0); },
            [](HWND about) { ::PostMessageW(::GetDlgItem(about, IDOK), WM_KEYDOWN, VK_ESCAPE, 0); },
            [](HWND about) { ::PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); },
        };
        for (const auto& close : closes) {
            bool checked = false;
            const bool opened = SysCommandOpensAboutBox(panelWindow, IDM_ABOUTBOX, [&](HWND about) {
                checked = true;
                EXPECT_EQ(::GetWindow(about, GW_OWNER), panelWindow);
                EXPECT_FALSE(::IsWindowEnabled(panelWindow)) << "the owner is disabled";
                RECT a, p;
                ::GetWindowRect(about, &a);
                ::GetWindowRect(panelWindow, &p);
                EXPECT_NEAR((a.left + a.right) / 2, (p.left + p.right) / 2, 1);
                EXPECT_NEAR((a.top + a.bottom) / 2, (p.top + p.bottom) / 2, 1);

                const std::vector<HWND> controls = ChildrenInTabOrder(about);
                EXPECT_EQ(controls.size(), 4u);
                if (controls.size() == 4) {
                    EXPECT_EQ(StyleOf(controls[0]) & SS_TYPEMASK, DWORD(SS_ICON));
                    EXPECT_NE(::SendMessageW(controls[0], STM_GETICON, 0, 0), 0);
                    const RECT icon = FromDialogUnits(about, 11, 17, 20, 20);
                    const RECT got = RectInParent(controls[0]);
                    EXPECT_EQ(got.left, icon.left);
                    EXPECT_EQ(got.top, icon.top);
                    EXPECT_EQ(TextOf(controls[1]), L"Orvanta Ver1.2");
                    EXPECT_NE(TextOf(controls[2]).find(L"Copyright"), std::wstring::npos);
                    EXPECT_EQ(::GetDlgCtrlID(controls[3]), IDOK);
                    EXPECT_EQ(TextOf(controls[3]), L"OK");
                    EXPECT_EQ(StyleOf(controls[3]) & BS_TYPEMASK, DWORD(BS_DEFPUSHBUTTON));
                }
                close(about);
            });
            EXPECT_TRUE(opened);
            EXPECT_TRUE(checked);
            EXPECT_EQ(::FindWindowW(L"#32770", ABOUT_CAPTION), nullptr) << "closed and gone";
            EXPECT_TRUE(::IsWindowEnabled(panelWindow));
            EXPECT_EQ(TextOf(::GetDlgItem(panelWindow, IDC_STATUS)), L"before");
        }
    });
}

TEST(PanelIcon, TheWindowCarriesTheProgramIconBigSmallAndForDragging) {
    CKelvaneDlg panel;
    ASSERT_NE(panel.m_hIcon, nullptr);
    RunModal(panel, [&] {
        EXPECT_EQ(HICON(::SendMessageW(panel.m_hWnd, WM_GETICON, ICON_BIG, 0)), panel.m_hIcon);
        EXPECT_EQ(HICON(::SendMessageW(panel.m_hWnd, WM_GETICON, ICON_SMALL, 0)), panel.m_hIcon);
        EXPECT_EQ(HICON(::SendMessageW(panel.m_hWnd, WM_QUERYDRAGICON, 0, 0)), panel.m_hIcon);
    });
}

TEST(PanelIcon, TheMinimisedIconIsCentredWithHalvesTruncatedTowardZero) {
    struct Row {
        RECT client;
        int cx, cy;
        POINT origin;
    };
    const Row rows[] = {
        {{0, 0, 36, 36}, 32, 32, {2, 2}},
        {{0, 0, 0, 0}, 32, 32, {-15, -15}},
        {{0, 0, 37, 160}, 32, 32, {3, 64}},
        {{10, 20, 46, 56}, 16, 32, {10, 2}},
    };
    for (const Row& row : rows) {
        const POINT origin = MinimizedIconOrigin(row.client, row.cx, row.cy);
        EXPECT_EQ(origin.x, row.origin.x);
        EXPECT_EQ(origin.y, row.origin.y);
    }
}

} // namespace
