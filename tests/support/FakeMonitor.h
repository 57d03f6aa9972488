// A fake monitor with the protocol core in front of it, for the core's and the commands' unit
// tests: the answers it gives, one per frame, in order. The core checks answers at address "0" as
// the console programs' cores do.
//   FakeMonitor  the clock, the line and the core, wired together
// Standard C++ only.
#pragma once

#include <string>
#include <utility>
#include <vector>
#include "core/MonitorProtocol.h"
#include "tests/support/FakeLine.h"

struct FakeMonitor {
    VirtualTime time;
    FakeLine line{time};
    MonitorProtocol core{line, time, Timing::Paced, AnswersAtZero::Checked};
    explicit FakeMonitor(std::vector<std::string> answers) {
        for (std::string& answer : answers)
            line.answers.push_back({std::move(answer)});
    }
};
