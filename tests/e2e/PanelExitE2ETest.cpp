// Closing the real program's panel ends the program, however the operator closes it.
#include <gtest/gtest.h>
#include <functional>
#include "res/resource.h"
#include "tests/e2e/SimulatorProcess.h"

namespace {

struct Closing {
    const char* name;
    std::function<void(HWND panel)> close;
};

class PanelExit : public ::testing::TestWithParam<Closing> {};

TEST_P(PanelExit, EndsTheProgram) {
    PanelProcess program;
    ASSERT_NE(program.Window(), nullptr) << "the panel did not open";
    GetParam().close(program.Window());
    EXPECT_TRUE(program.WaitForExit(10000));
    EXPECT_EQ(program.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Each, PanelExit,
    ::testing::Values(Closing{"ExitButton",
                              [](HWND panel) {
                                  ::PostMessageW(::GetDlgItem(panel, IDCANCEL), BM_CLICK, 0, 0);
                              }},
                      // The first tab stop, the Connect button, has the focus when the panel opens.
                      Closing{"EscapeKey",
                              [](HWND panel) {
                                  ::PostMessageW(::GetDlgItem(panel, IDC_CONNECT), WM_KEYDOWN,
                                                 VK_ESCAPE, 0);
                              }},
                      Closing{"CloseButton",
                              [](HWND panel) {
                                  ::PostMessageW(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
                              }}),

    [](const ::testing::TestParamInfo<Closing>& info) { return info.param.name; });

} // namespace
