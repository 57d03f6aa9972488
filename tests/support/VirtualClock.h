// A clock that only moves when the program waits or reads a quiet line, so the protocol's waits
// cost no real time in unit tests.
#pragma once

#include <windows.h>
#include <functional>
#include <vector>
#include "framework/Clock.h"
#include "tests/support/LineModel.h"

class VirtualClock final : public CClock, public TimeSource {
public:
    // Installs itself as the program's clock for its lifetime, starting at 0.
    VirtualClock();
    ~VirtualClock() override;

    void Sleep(DWORD milliseconds) override;
    ULONGLONG GetTickCount() override { return m_now; }

    ULONGLONG Now() const override { return m_now; }
    void AdvanceTo(ULONGLONG time) override;

    std::vector<DWORD> sleeps; // every Sleep the program made, in order
    // Called at every Sleep with its length, before the clock moves.
    std::function<void(DWORD milliseconds)> onSleep;

private:
    ULONGLONG m_now = 0;
    CClock* m_previous;
};
