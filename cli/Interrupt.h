// Ctrl-C for the whole program (SIGINT, or the console's break on Windows): once pressed, every
// wait of every line ends at once and every later call on a line fails, so each target's work
// unwinds, its line is released, and the program ends with 130.
//   WatchForInterrupt        starts watching; call it before any other thread starts
//   Interrupted              whether Ctrl-C was pressed
//   WaitUnlessInterrupted    waits, or less when Ctrl-C comes; false when it came
//   InterruptibleClock       the protocol's clock on WaitUnlessInterrupted
#pragma once

#include <cstdint>
#include "protocol/MonitorLine.h"

void WatchForInterrupt();
bool Interrupted();
bool WaitUnlessInterrupted(std::uint32_t milliseconds);

class InterruptibleClock final : public ProtocolClock {
public:
    void Sleep(std::uint32_t milliseconds) override { WaitUnlessInterrupted(milliseconds); }
};
