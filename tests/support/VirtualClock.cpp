#include "tests/support/VirtualClock.h"

VirtualClock::VirtualClock() : m_previous(AfxSetClock(this)) {
}

VirtualClock::~VirtualClock() {
    AfxSetClock(m_previous);
}

void VirtualClock::Sleep(DWORD milliseconds) {
    sleeps.push_back(milliseconds);
    if (onSleep)
        onSleep(milliseconds);
    m_now += milliseconds;
}

void VirtualClock::AdvanceTo(ULONGLONG time) {
    if (time > m_now)
        m_now = time;
}
