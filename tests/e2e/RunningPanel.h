// The fixture of the end-to-end tests that work the real program's panel.
//   RunningPanel  Kelvane.exe started with its panel on the screen, and the operator at it
#pragma once

#include <gtest/gtest.h>
#include "tests/e2e/PanelOperator.h"
#include "tests/e2e/SimulatorProcess.h"

class RunningPanel : public ::testing::Test {
protected:
    // Stops the test unless the cable is laid and the panel opened.
    void SetUp() override {
        const CablePorts ports = GetCablePorts();
        ASSERT_FALSE(ports.panel.empty() || ports.monitor.empty())
            << "run the end-to-end tests through scripts/test.sh, which lays the cable";
        ASSERT_NE(program.Window(), nullptr) << "the panel did not open";
    }

    // Ends the program the way the operator does and expects it to go.
    void Exit() {
        panel.Click(IDCANCEL, 10000);
        EXPECT_TRUE(program.WaitForExit(10000));
        EXPECT_EQ(program.ExitCode(), 0u);
    }

    PanelProcess program;
    PanelOperator panel{program.Window()};
};
