#include "cli/Interrupt.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#endif

namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mutex;
std::condition_variable g_wake;

void Interrupt() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_interrupted = true;
    }
    g_wake.notify_all();
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
    return g_interrupted;
}

bool WaitUnlessInterrupted(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return !g_wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [] { return g_interrupted.load(); });
}
