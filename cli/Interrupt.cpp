#include "cli/Interrupt.h"
#include <cstdlib>
#include <system_error>
#include <thread>
#include "line/Line.h"
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace {

line::Cancel g_interrupt;

// The first Ctrl-C lets every target wind down and print; a second one is someone who will not
// wait for that (a line whose write hangs, a terminal that does not read): the program ends now.
void Interrupt() {
    if (g_interrupt.IsSet()) {
        line::ReleaseExclusiveLines();
        std::_Exit(EXIT_INTERRUPTED);
    }
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
    try {
        std::thread([set] {
            int signal = 0;
            while (sigwait(&set, &signal) == 0)
                if (signal == SIGINT)
                    Interrupt();
        }).detach();
    } catch (const std::system_error&) {
        // Without the thread, Ctrl-C ends the program the system's way, as it would anyway.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
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
