#include "cli/Interrupt.h"
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace {

line::Cancel g_interrupt;

void Interrupt() {
    g_interrupt.Set();
}

#ifdef _WIN32
// Runs on a thread of its own that the console starts; the program ends when main returns.
BOOL WINAPI OnConsoleBreak(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    Interrupt();
    return TRUE;
}
#endif

} // namespace

void WatchForInterrupt() {
#ifdef _WIN32
    ::SetConsoleCtrlHandler(&OnConsoleBreak, TRUE);
#else
    // A signal handler may not wake a waiting thread, so SIGINT is blocked in every thread (they
    // inherit the mask) and one thread takes it with sigwait, where anything may be done.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int signal = 0;
        while (sigwait(&set, &signal) == 0) {
            if (signal == SIGINT) {
                Interrupt();
                return;
            }
        }
    }).detach();
    // A peer that hangs up must fail a write, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool Interrupted() {
    return g_interrupt.IsSet();
}

line::Cancel& InterruptCancel() {
    return g_interrupt;
}
