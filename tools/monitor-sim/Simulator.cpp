#include <windows.h>

#include "Simulator.h"

#include "Console.h"

#include <algorithm>
#include <atomic>

namespace monitor_sim {

namespace {

// The longest a read waits for bytes, so that stop requests are seen within this time.
constexpr unsigned kMaxReadWaitMs = 50;

// --pull-after pulls this long after the answer went out: the panel reads the answer 200 ms after
// its frame and sends the next frame no sooner than 300 ms after it (the drain's empty read comes
// first). A pull earlier would take the answer with it: a pty that goes drops what it holds.
constexpr std::uint64_t kPullSettleMs = 250;

// How long the port may take to open again once the cable is back.
constexpr unsigned kReopenTries = 50;
constexpr DWORD kReopenIntervalMs = 100;

std::atomic<bool> stopRequested{false};

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ",") + item;
    return text;
}

std::string describeMonitor(const MonitorState& state, char address) {
    return "unit " + std::to_string(state.unitId) + " (address " +
           showBytes(std::string(1, address)) + "), source " + state.source + ", sources " +
           joined(state.sources) + ", signal " + (state.signal ? "yes" : "no") + ", firmware " +
           showBytes(state.firmware) + ", diagnostic mode " +
           (state.diagnosticMode ? "yes" : "no") + ", refuse FVS " +
           (state.refuseFirmwareQuery ? "yes" : "no") + ", ACK " +
           showBytes(std::string(1, acknowledgeByte(true))) + " NAK " +
           showBytes(std::string(1, acknowledgeByte(false)));
}

} // namespace

void requestStop() {
    stopRequested = true;
}

Simulator::Simulator(const Options& options, Line& line, Log& log)
    : options_(options), line_(line), log_(log),
      chain_(options.monitor, options.unitIds, options.faults), cable_(options.cableFolder) {
    if (options.randomSeed)
        random_.emplace(*options.randomSeed, options.faultPercent);
}

Simulator::~Simulator() {
    if (readyEvent_)
        CloseHandle(static_cast<HANDLE>(readyEvent_));
}

bool Simulator::announceReady(std::string& error) {
    if (options_.readyEvent.empty())
        return true;
    // CreateEventW opens the event when the test made it already, or makes it when we are first;
    // either way the test waiting on that name wakes up. The handle stays open until we exit, so
    // the event outlives a test that has not opened it yet.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, options_.readyEvent.c_str());
    readyEvent_ = event;
    if (!event || !SetEvent(event)) {
        error = "cannot set ready event " + toUtf8(options_.readyEvent) + ": " +
                windowsErrorText(GetLastError());
        return false;
    }
    log_.line("READY", "event " + toUtf8(options_.readyEvent) + " set");
    return true;
}

int Simulator::run() {
    startMs_ = steadyMs();
    log_.line("listening", "on " + line_.name());
    for (const ChainMember& member : chain_.members())
        log_.line("CONFIG", describeMonitor(member.monitor.state(), member.monitor.addressChar()));
    if (random_)
        log_.line("FAULTS", "random, seed " + std::to_string(*options_.randomSeed) + ", " +
                                std::to_string(options_.faultPercent) + " frames in 100" +
                                (canPull() ? "" : ", no cable to pull"));
    else
        log_.line("FAULTS", chain_.members().front().shaper.describe());
    std::string error;
    if (!announceReady(error))
        return fail(error);
    if (options_.faults.noiseMs) {
        log_.line("NOISE", "one " + showBytes(std::string(1, kNoiseByte)) + " byte every " +
                               std::to_string(*options_.faults.noiseMs) + " ms from now on");
        schedule(startMs_ + *options_.faults.noiseMs, std::string(1, kNoiseByte), true);
    }

    std::string bytes;
    while (true) {
        std::uint64_t now = steadyMs();
        if (stopRequested)
            return finish("stop requested (Ctrl+C)");
        if (options_.exitAfterMs && now - startMs_ >= *options_.exitAfterMs)
            return finish("--exit-after-ms " + std::to_string(*options_.exitAfterMs) + " reached");
        if (!writeDue(now, error))
            return fail(error);
        if (dropping_ && !answerPending()) {
            line_.close();
            return finish("--drop-after " + std::to_string(*options_.faults.dropAfter) +
                          ": port closed");
        }
        if (pullPending_ && !answerPending() && now >= lastAnswerMs_ + kPullSettleMs) {
            pullPending_ = false;
            if (!pullCable(std::nullopt, error))
                return fail(error);
            continue;
        }
        for (const LineEvent& event : reader_.expire(now))
            if (!handle(event, now, error))
                return fail(error);

        if (!line_.read(bytes, readTimeout(now), error))
            return fail(error);
        if (bytes.empty())
            continue;
        now = steadyMs();
        for (const LineEvent& event : reader_.feed(bytes, now))
            if (!handle(event, now, error))
                return fail(error);
    }
}

bool Simulator::handle(const LineEvent& event, std::uint64_t now, std::string& error) {
    switch (event.kind) {
    case LineEvent::Kind::Frame:
        return handleFrame(event.bytes, now, error);
    case LineEvent::Kind::Dropped:
        log_.line("DROP", showBytes(event.bytes));
        break;
    case LineEvent::Kind::Stale:
        log_.line("STALE", showBytes(event.bytes));
        break;
    }
    return true;
}

bool Simulator::handleFrame(const std::string& frame, std::uint64_t now, std::string& error) {
    log_.line("RX", showBytes(frame));
    if (dropping_ || pullPending_) {
        log_.line("IGNORE", dropping_ ? "cable about to be pulled (--drop-after)"
                                      : "cable about to be pulled (--pull-after)");
        return true;
    }
    const char address = frame[2];
    const std::vector<ChainMember*> members = chain_.addressed(address);
    if (members.empty()) {
        const unsigned unit = static_cast<unsigned char>(address - 0x30);
        log_.line("IGNORE", "for unit " + std::to_string(unit) + ", not for unit" +
                                (chain_.isChain() ? "s " : " ") + chain_.units());
        return true;
    }
    if (chain_.isChain())
        log_.line("UNIT", members.size() == 1
                              ? Chain::units(members) + " answers"
                              : Chain::units(members) + " answer at once: their answers collide");
    if (random_)
        return handleRandomFrame(frame, members, now, error);

    std::vector<std::vector<TimedWrite>> answers;
    for (ChainMember* member : members) {
        const Answer answer = member->monitor.answer(frame);
        note(*member, answer.note);
        answers.push_back(member->shaper.shape(answer));
    }
    const std::vector<TimedWrite> writes = collide(answers);
    if (writes.empty())
        log_.line("IGNORE", "--silent");
    for (const TimedWrite& write : writes)
        schedule(now + write.afterMs, write.bytes, false);

    ++framesHandled_;
    if (options_.faults.dropAfter && framesHandled_ >= *options_.faults.dropAfter) {
        dropping_ = true;
        log_.line("NOTE", "frame " + std::to_string(framesHandled_) +
                              ": closing the port once its answer is out (--drop-after)");
    }
    if (options_.faults.pullAfter && framesHandled_ == *options_.faults.pullAfter) {
        pullPending_ = true;
        log_.line("NOTE", "frame " + std::to_string(framesHandled_) +
                              ": pulling the cable once its answer is out (--pull-after)");
    }
    return true;
}

bool Simulator::handleRandomFrame(const std::string& frame,
                                  const std::vector<ChainMember*>& members, std::uint64_t now,
                                  std::string& error) {
    const unsigned number = ++framesHandled_;
    FrameFault fault = random_->next(protocol::DataBytes(std::string_view(frame).substr(3, 3)));
    std::string aside;
    if (fault.kind == FaultKind::Pull && !canPull()) {
        fault = FrameFault{};
        aside = " (a pull, but there is no cable to pull)";
    }
    // One draw for the line: every member that answers the frame meets the same fault.
    std::vector<Answer> answers(members.size());
    if (RandomFaults::monitorActs(fault.kind))
        for (std::size_t i = 0; i < members.size(); ++i)
            answers[i] = members[i]->monitor.answer(frame);
    log_.line("FAULT", "frame " + std::to_string(number) + ": " +
                           RandomFaults::describe(fault, answers.front()) + aside);
    std::vector<std::vector<TimedWrite>> writes;
    for (std::size_t i = 0; i < members.size(); ++i) {
        note(*members[i], answers[i].note);
        writes.push_back(RandomFaults::shape(fault, answers[i]));
    }
    for (const TimedWrite& write : collide(writes))
        schedule(now + write.afterMs, write.bytes, false);
    if (fault.kind == FaultKind::Pull)
        return pullCable(fault.pullMs, error);
    return true;
}

// Logs what a member's frame did; on a chain, with the member's unit ID in front.
void Simulator::note(const ChainMember& member, const std::string& text) {
    if (text.empty())
        return;
    log_.line("NOTE", chain_.isChain()
                          ? "unit " + std::to_string(member.monitor.state().unitId) + ": " + text
                          : text);
}

void Simulator::schedule(std::uint64_t dueMs, std::string bytes, bool noise) {
    pending_.push_back({dueMs, nextOrder_++, std::move(bytes), noise});
}

bool Simulator::writeDue(std::uint64_t now, std::string& error) {
    while (true) {
        auto next = std::min_element(
            pending_.begin(), pending_.end(), [](const PendingWrite& a, const PendingWrite& b) {
                return a.dueMs != b.dueMs ? a.dueMs < b.dueMs : a.order < b.order;
            });
        if (next == pending_.end() || next->dueMs > now)
            return true;
        PendingWrite write = std::move(*next);
        pending_.erase(next);
        if (!line_.write(write.bytes, error))
            return false;
        if (write.noise) {
            ++noiseBytes_;
            // Missed beats are skipped rather than sent in a burst.
            std::uint64_t due = write.dueMs + *options_.faults.noiseMs;
            if (due <= now)
                due = now + *options_.faults.noiseMs;
            schedule(due, std::move(write.bytes), true);
        } else {
            log_.line("TX", showBytes(write.bytes));
            lastAnswerMs_ = steadyMs();
        }
    }
}

bool Simulator::pullCable(std::optional<unsigned> outForMs, std::string& error) {
    if (line_.servesClients()) {
        hangUp(outForMs);
        return true;
    }
    if (!cable_.pull(error))
        return false;
    // As with an adapter pulled out: the handle is dead, so let it go.
    line_.close();
    forgetLine();
    if (outForMs) {
        log_.line("CABLE", "pulled out for " + std::to_string(*outForMs) + " ms");
        Sleep(*outForMs);
        if (!cable_.plug(error))
            return false;
    } else {
        log_.line("CABLE", "pulled out until someone puts it back");
        if (!waitUntilBack())
            return true; // stopping: the loop finishes
    }
    return reopen(error);
}

// A device server's pulled cable: the client's connection drops, and the next client that comes
// puts the cable back, at once or after outForMs.
void Simulator::hangUp(std::optional<unsigned> outForMs) {
    line_.dropClient();
    forgetLine();
    if (!outForMs) {
        log_.line("CABLE", "pulled out: the client dropped, the next one puts it back");
        return;
    }
    log_.line("CABLE", "pulled out for " + std::to_string(*outForMs) +
                           " ms: the client dropped, no client taken meanwhile");
    Sleep(*outForMs);
    log_.line("CABLE", "back in, " + line_.name() + " takes a client again");
}

bool Simulator::canPull() const {
    return line_.servesClients() || cable_.available();
}

bool Simulator::waitUntilBack() {
    return cable_.waitUntilPutBack([this] { return keepRunning(); });
}

bool Simulator::reopen(std::string& error) {
    for (unsigned attempt = 1;; ++attempt) {
        if (line_.open(error))
            break;
        if (attempt == kReopenTries)
            return false;
        Sleep(kReopenIntervalMs);
    }
    log_.line("CABLE", "back in, " + line_.name() + " open again");
    return true;
}

// Answers still to go out and a partial frame went with the cable; noise goes on once it is back.
void Simulator::forgetLine() {
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [](const PendingWrite& write) { return !write.noise; }),
                   pending_.end());
    reader_ = FrameReader{};
}

bool Simulator::keepRunning() const {
    return !stopRequested &&
           !(options_.exitAfterMs && steadyMs() - startMs_ >= *options_.exitAfterMs);
}

bool Simulator::answerPending() const {
    return std::any_of(pending_.begin(), pending_.end(),
                       [](const PendingWrite& write) { return !write.noise; });
}

unsigned Simulator::readTimeout(std::uint64_t now) const {
    std::uint64_t wait = kMaxReadWaitMs;
    for (const PendingWrite& write : pending_)
        wait = std::min(wait, write.dueMs > now ? write.dueMs - now : 0);
    if (options_.exitAfterMs) {
        const std::uint64_t end = startMs_ + *options_.exitAfterMs;
        wait = std::min(wait, end > now ? end - now : 0);
    }
    return static_cast<unsigned>(std::max<std::uint64_t>(wait, 1));
}

int Simulator::fail(const std::string& error) {
    log_.line("ERROR", error);
    log_.line("EXIT", "after an error");
    writeStderr("monitor-sim: " + error + "\n");
    return 1;
}

int Simulator::finish(const std::string& why) {
    std::string details = why;
    if (options_.faults.noiseMs)
        details += " (" + std::to_string(noiseBytes_) + " noise bytes sent)";
    log_.line("EXIT", details);
    return 0;
}

} // namespace monitor_sim
