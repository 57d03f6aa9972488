#pragma once
// The main loop: reads frames off the line, lets the monitors on it answer, and keeps timed writes
// and noise going.

#include "Cable.h"
#include "Chain.h"
#include "Faults.h"
#include "FrameReader.h"
#include "Line.h"
#include "Log.h"
#include "Options.h"
#include "RandomFaults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monitor_sim {

// Asks a running simulator to stop at its next turn; safe to call from a console control handler.
void requestStop();

class Simulator {
public:
    // line: opened already.
    Simulator(const Options& options, Line& line, Log& log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Runs until stopped, --drop-after or --exit-after-ms; returns the exit code (0 or 1).
    // Through a pull of its own (--random, --pull-after) it keeps running.
    int run();

private:
    struct PendingWrite {
        std::uint64_t dueMs;
        std::uint64_t order;
        std::string bytes;
        bool noise;
    };

    bool announceReady(std::string& error);
    bool handle(const LineEvent& event, std::uint64_t now, std::string& error);
    bool handleFrame(const std::string& frame, std::uint64_t now, std::string& error);
    bool handleRandomFrame(const std::string& frame, const std::vector<ChainMember*>& members,
                           std::uint64_t now, std::string& error);
    void note(const ChainMember& member, const std::string& text);
    void schedule(std::uint64_t dueMs, std::string bytes, bool noise);
    bool writeDue(std::uint64_t now, std::string& error);
    // Pulls the cable out and puts it back after outForMs, or leaves it out until someone else
    // puts it back; then opens the port again. A device server drops its client instead (hangUp).
    bool pullCable(std::optional<unsigned> outForMs, std::string& error);
    void hangUp(std::optional<unsigned> outForMs);
    // Whether there is a cable to pull, or a client to drop in its place.
    bool canPull() const;
    bool waitUntilBack();
    bool reopen(std::string& error);
    void forgetLine();
    bool keepRunning() const;
    bool answerPending() const;
    unsigned readTimeout(std::uint64_t now) const;
    int fail(const std::string& error);
    int finish(const std::string& why);

    const Options& options_;
    Line& line_;
    Log& log_;
    Chain chain_;
    std::optional<RandomFaults> random_;
    Cable cable_;
    FrameReader reader_;
    std::vector<PendingWrite> pending_;
    std::uint64_t startMs_ = 0;
    std::uint64_t nextOrder_ = 0;
    unsigned framesHandled_ = 0;
    std::uint64_t noiseBytes_ = 0;
    bool dropping_ = false;
    bool pullPending_ = false;       // --pull-after: the Nth frame has come
    std::uint64_t lastAnswerMs_ = 0; // when the last answer bytes went out
    void* readyEvent_ = nullptr;     // HANDLE of the --ready-event event
};

} // namespace monitor_sim
