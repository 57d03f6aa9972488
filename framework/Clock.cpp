#include "framework/Clock.h"

namespace {

class SystemClock final : public CClock {
public:
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
    ULONGLONG GetTickCount() override { return ::GetTickCount64(); }
};

SystemClock g_systemClock;
CClock* g_clock = &g_systemClock;

} // namespace

void AfxSleep(DWORD milliseconds) {
    g_clock->Sleep(milliseconds);
}

ULONGLONG AfxGetTickCount() {
    return g_clock->GetTickCount();
}

CClock* AfxSetClock(CClock* clock) {
    CClock* previous = g_clock;
    g_clock = clock ? clock : &g_systemClock;
    return previous;
}
