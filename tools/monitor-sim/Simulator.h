#pragma once
// The loop of one line: reads frames off it, lets the monitors on it answer, and keeps timed
// writes and noise going at the line's pace. A fleet runs one on each of its lines (Fleet.h).

#include "Cable.h"
#include "Chain.h"
#include "Faults.h"
#include "FrameReader.h"
#include "Line.h"
#include "Log.h"
#include "Options.h"
#include "RandomFaults.h"
#include "Wire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monitor_sim {

// Asks every running simulator to stop at its next turn; safe to call from a console control
// handler.
void requestStop();

class Simulator {
public:
    // line: opened already. place: the line's place in the fleet, from 0; a --random seed is
    // that much higher for it, so that the lines of a fleet do not fault alike.
    Simulator(const Options& options, Line& line, Log& log, unsigned place = 0);
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The monitors' settings, one CONFIG line each.
    std::vector<std::string> configuration() const;
    // The faults this line makes, its FAULTS line.
    std::string faults() const;

    // Runs until stopped, --drop-after or --exit-after-ms, or until another line of the fleet
    // failed; returns the exit code (0 or 1). Through a pull of its own (--random, --pull-after)
    // it keeps running.
    int run();

private:
    struct PendingWrite {
        std::uint64_t dueUs;
        std::uint64_t order;
        std::string bytes;
        bool noise;
    };

    bool handle(const LineEvent& event, std::string& error);
    bool handleFrame(const std::string& frame, std::uint64_t atUs, std::string& error);
    bool handleRandomFrame(const std::string& frame, std::uint64_t number,
                           const std::vector<ChainMember*>& members, std::uint64_t atUs,
                           std::string& error);
    void note(const ChainMember& member, const std::string& text);
    void schedule(std::uint64_t dueUs, std::string bytes, bool noise);
    // Starts the writes whose time has come and hands on the bytes the line has carried by now.
    bool writeDue(std::uint64_t now, std::string& error);
    // Pulls the cable out and puts it back after outForMs, or leaves it out until someone else
    // puts it back; then opens the port again. A device server drops its client instead (hangUp).
    bool pullCable(std::optional<unsigned> outForMs, std::string& error);
    void hangUp(std::optional<unsigned> outForMs);
    // A device server's cable back after its time out.
    void plugBackIn();
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
    std::optional<std::uint32_t> seed_; // --random: this line's seed
    std::optional<RandomFaults> random_;
    Cable cable_;
    FrameReader reader_;
    Transmitter transmitter_;
    std::vector<PendingWrite> pending_; // writes not yet due, by the steady clock in microseconds
    std::uint64_t startUs_ = 0;
    std::uint64_t nextOrder_ = 0;
    std::uint64_t framesReceived_ = 0; // every frame off the line, for any unit: the draws' number
    unsigned framesHandled_ = 0;       // the frames the chain answered: --drop-after, --pull-after
    std::uint64_t noiseBytes_ = 0;
    bool dropping_ = false;
    bool pullPending_ = false;                // --pull-after: the Nth frame has come
    std::uint64_t lastAnswerUs_ = 0;          // when the last answer's last byte went out
    std::optional<std::uint64_t> outUntilUs_; // a device server's cable out until then
    std::uint64_t pulls_ = 0;                 // how often the cable went (forgetLine)
};

} // namespace monitor_sim
