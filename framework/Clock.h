// The program's clock: its fixed waits and the time it reads.
//   CClock       what a clock offers; the system's is Sleep and GetTickCount64
//   AfxSleep, AfxGetTickCount  wait and read through the clock in use
//   AfxSetClock  replaces the clock, for tests that run the waits on a virtual clock
#pragma once

#include <windows.h>

class CClock {
public:
    virtual ~CClock() = default;
    virtual void Sleep(DWORD milliseconds) = 0;
    virtual ULONGLONG GetTickCount() = 0;
};

void AfxSleep(DWORD milliseconds);
ULONGLONG AfxGetTickCount();

// Returns the clock in use before; null puts the system's clock back.
CClock* AfxSetClock(CClock* clock);
