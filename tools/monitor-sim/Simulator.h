#pragma once
// The main loop: reads frames off the port, answers them, and keeps timed writes and noise going.

#include "ComPort.h"
#include "Faults.h"
#include "FrameReader.h"
#include "Log.h"
#include "Monitor.h"
#include "Options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace monitor_sim {

// Asks a running simulator to stop at its next turn; safe to call from a console control handler.
void requestStop();

class Simulator {
public:
    Simulator(const Options& options, ComPort& port, Log& log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Runs until stopped, --drop-after or --exit-after-ms; returns the exit code (0 or 1).
    int run();

private:
    struct PendingWrite {
        std::uint64_t dueMs;
        std::uint64_t order;
        std::string bytes;
        bool noise;
    };

    bool announceReady(std::string& error);
    void handle(const LineEvent& event, std::uint64_t now);
    void handleFrame(const std::string& frame, std::uint64_t now);
    void schedule(std::uint64_t dueMs, std::string bytes, bool noise);
    bool writeDue(std::uint64_t now);
    bool answerPending() const;
    unsigned readTimeout(std::uint64_t now) const;
    int fail(const std::string& error);
    int finish(const std::string& why);

    const Options& options_;
    ComPort& port_;
    Log& log_;
    Monitor monitor_;
    FaultShaper shaper_;
    FrameReader reader_;
    std::vector<PendingWrite> pending_;
    std::uint64_t startMs_ = 0;
    std::uint64_t nextOrder_ = 0;
    unsigned framesHandled_ = 0;
    std::uint64_t noiseBytes_ = 0;
    bool dropping_ = false;
    void* readyEvent_ = nullptr; // HANDLE of the --ready-event event
};

} // namespace monitor_sim
