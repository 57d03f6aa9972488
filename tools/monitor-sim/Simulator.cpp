#include "Simulator.h"

#include "Console.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace monitor_sim {

namespace {

// The longest a read waits for bytes, so that stop requests are seen within this time. Every
// other wake-up is timed (readTimeout); this one keeps a fleet of idle lines cheap.
constexpr std::uint64_t kMaxReadWaitUs = 200'000;

constexpr std::uint64_t kUsPerMs = 1000;

// --pull-after pulls this long after the answer went out: the panel reads the answer 200 ms after
// its frame and sends the next frame no sooner than 300 ms after it (the drain's empty read comes
// first). A pull earlier would take the answer with it: a pty that goes drops what it holds.
constexpr std::uint64_t kPullSettleMs = 250;

// How long the port may take to open again once the cable is back.
constexpr unsigned kReopenTries = 50;
constexpr unsigned kReopenIntervalMs = 100;

std::atomic<bool> stopRequested{false};
// A line of the fleet failed, and the program ends with exit code 1: the others stop too.
std::atomic<bool> lineFailed{false};

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

Simulator::Simulator(const Options& options, Line& line, Log& log, unsigned place)
    : options_(options), line_(line), log_(log),
      chain_(options.monitor, options.unitIds, options.faults), cable_(options.cableFolder) {
    if (options.randomSeed) {
        seed_ = *options.randomSeed + place;
        random_.emplace(*seed_, options.faultPercent, options.faultKinds);
    }
}

std::vector<std::string> Simulator::configuration() const {
    std::vector<std::string> lines;
    for (const ChainMember& member : chain_.members())
        lines.push_back(describeMonitor(member.monitor.state(), member.monitor.addressChar()));
    return lines;
}

std::string Simulator::faults() const {
    if (!random_)
        return chain_.members().front().shaper.describe();
    std::string text = "random, seed " + std::to_string(*seed_) + ", " +
                       std::to_string(options_.faultPercent) + " frames in 100";
    std::string kinds;
    for (FaultKind kind : kAllFaultKinds)
        if (random_->makes(kind))
            kinds += (kinds.empty() ? "" : ",") + std::string(faultName(kind));
    if (options_.faultKinds.size() < std::size(kAllFaultKinds))
        text += ", only " + (kinds.empty() ? std::string("none") : kinds);
    return text + (canPull() ? "" : ", no cable to pull");
}

int Simulator::run() {
    startUs_ = steadyUs();
    if (options_.faults.noiseMs) {
        log_.line("NOISE", "one " + showBytes(std::string(1, kNoiseByte)) + " byte every " +
                               std::to_string(*options_.faults.noiseMs) + " ms from now on");
        schedule(startUs_ + *options_.faults.noiseMs * kUsPerMs, std::string(1, kNoiseByte), true);
    }

    std::string bytes;
    std::string error;
    while (true) {
        std::uint64_t now = steadyUs();
        if (stopRequested)
            return finish("stop requested (Ctrl+C)");
        if (lineFailed)
            return finish("another port failed");
        if (options_.exitAfterMs && now - startUs_ >= *options_.exitAfterMs * kUsPerMs)
            return finish("--exit-after-ms " + std::to_string(*options_.exitAfterMs) + " reached");
        if (!writeDue(now, error))
            return fail(error);
        if (dropping_ && !answerPending()) {
            line_.close();
            return finish("--drop-after " + std::to_string(*options_.faults.dropAfter) +
                          ": port closed");
        }
        if (pullPending_ && !answerPending() && now >= lastAnswerUs_ + kPullSettleMs * kUsPerMs) {
            pullPending_ = false;
            if (!pullCable(std::nullopt, error))
                return fail(error);
            continue;
        }
        if (outUntilUs_ && now >= *outUntilUs_)
            plugBackIn();
        for (const LineEvent& event : reader_.expire(now))
            if (!handle(event, error))
                return fail(error);

        if (!line_.read(bytes, readTimeout(now), error))
            return fail(error);
        if (bytes.empty())
            continue;
        if (outUntilUs_) {
            // The cable behind the device server is out: what the client sends goes nowhere.
            log_.line("LOST", showBytes(bytes));
            continue;
        }
        now = steadyUs();
        const std::uint64_t pulls = pulls_;
        for (const LineEvent& event : reader_.feed(bytes, now)) {
            // Frames that came with the one whose fault pulled the cable went with it.
            if (pulls_ != pulls)
                log_.line("LOST", showBytes(event.bytes));
            else if (!handle(event, error))
                return fail(error);
        }
    }
}

bool Simulator::handle(const LineEvent& event, std::string& error) {
    switch (event.kind) {
    case LineEvent::Kind::Frame:
        return handleFrame(event.bytes, event.atUs, error);
    case LineEvent::Kind::Dropped:
        log_.line("DROP", showBytes(event.bytes));
        break;
    case LineEvent::Kind::Stale:
        log_.line("STALE", showBytes(event.bytes));
        break;
    }
    return true;
}

// atUs: when the frame's ninth byte was through; its answer is timed from then.
bool Simulator::handleFrame(const std::string& frame, std::uint64_t atUs, std::string& error) {
    // Every frame the line carries counts, whoever it is for, so that its number is the same for
    // every client that sends the same frames. Frames sent while the cable is out never get here.
    const std::uint64_t number = ++framesReceived_;
    log_.line("RX", showBytes(frame));
    // Which frames come in these 250 ms depends on the client's pace.
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
        return handleRandomFrame(frame, number, members, atUs, error);

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
        schedule(atUs + write.afterMs * kUsPerMs, write.bytes, false);

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

bool Simulator::handleRandomFrame(const std::string& frame, std::uint64_t number,
                                  const std::vector<ChainMember*>& members, std::uint64_t atUs,
                                  std::string& error) {
    FrameFault fault =
        random_->draw(number, protocol::DataBytes(std::string_view(frame).substr(3, 3)));
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
        schedule(atUs + write.afterMs * kUsPerMs, write.bytes, false);
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

void Simulator::schedule(std::uint64_t dueUs, std::string bytes, bool noise) {
    pending_.push_back({dueUs, nextOrder_++, std::move(bytes), noise});
}

bool Simulator::writeDue(std::uint64_t now, std::string& error) {
    while (true) {
        auto next = std::min_element(
            pending_.begin(), pending_.end(), [](const PendingWrite& a, const PendingWrite& b) {
                return a.dueUs != b.dueUs ? a.dueUs < b.dueUs : a.order < b.order;
            });
        if (next == pending_.end() || next->dueUs > now)
            break;
        PendingWrite write = std::move(*next);
        pending_.erase(next);
        if (write.noise) {
            ++noiseBytes_;
            // Missed beats are skipped rather than sent in a burst.
            const std::uint64_t beat = *options_.faults.noiseMs * kUsPerMs;
            const std::uint64_t due = write.dueUs + beat > now ? write.dueUs + beat : now + beat;
            schedule(due, write.bytes, true);
        }
        // From the time it was due, not from when this turn came: the loop wakes a little late.
        transmitter_.send(write.dueUs, std::move(write.bytes), write.noise);
    }
    std::vector<std::string> finished;
    const std::string bytes = transmitter_.take(now, finished);
    if (!bytes.empty() && !line_.write(bytes, error))
        return false;
    for (const std::string& answer : finished) {
        log_.line("TX", showBytes(answer));
        lastAnswerUs_ = now;
    }
    return true;
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
        // The panel's writes fail meanwhile: which of its frames are lost depends on its pace.
        log_.line("CABLE", "pulled out for " + std::to_string(*outForMs) + " ms");
        std::this_thread::sleep_for(std::chrono::milliseconds(*outForMs));
        if (!cable_.plug(error))
            return false;
    } else {
        log_.line("CABLE", "pulled out until someone puts it back");
        if (!waitUntilBack())
            return true; // stopping: the loop finishes
    }
    return reopen(error);
}

// A device server's pulled cable: the client's connection drops, and the cable is back when the
// next client comes (--pull-after) or after outForMs (--random). Meanwhile clients may come, as
// to a device server whose serial side is dead, but what they send is lost: how many frames that
// swallows depends on the client's pace, not on the draw.
void Simulator::hangUp(std::optional<unsigned> outForMs) {
    line_.dropClient();
    forgetLine();
    if (!outForMs) {
        log_.line("CABLE", "pulled out: the client dropped, the next one puts it back");
        return;
    }
    log_.line("CABLE", "pulled out for " + std::to_string(*outForMs) +
                           " ms: the client dropped, what comes meanwhile is lost");
    outUntilUs_ = steadyUs() + *outForMs * kUsPerMs;
}

void Simulator::plugBackIn() {
    outUntilUs_.reset();
    log_.line("CABLE", "back in, " + line_.name() + " carries frames again");
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
        std::this_thread::sleep_for(std::chrono::milliseconds(kReopenIntervalMs));
    }
    log_.line("CABLE", "back in, " + line_.name() + " open again");
    return true;
}

// Answers still to go out, bytes on their way and a partial frame went with the cable; noise goes
// on once it is back.
void Simulator::forgetLine() {
    ++pulls_;
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [](const PendingWrite& write) { return !write.noise; }),
                   pending_.end());
    transmitter_.clear();
    reader_ = FrameReader{};
}

bool Simulator::keepRunning() const {
    return !stopRequested && !lineFailed &&
           !(options_.exitAfterMs && steadyUs() - startUs_ >= *options_.exitAfterMs * kUsPerMs);
}

bool Simulator::answerPending() const {
    return transmitter_.carriesAnswer() ||
           std::any_of(pending_.begin(), pending_.end(),
                       [](const PendingWrite& write) { return !write.noise; });
}

// In whole milliseconds, rounded up so that no byte goes out before its time; at least one.
unsigned Simulator::readTimeout(std::uint64_t now) const {
    std::uint64_t wait = kMaxReadWaitUs;
    auto until = [&wait, now](std::uint64_t due) {
        wait = std::min(wait, due > now ? due - now : 0);
    };
    for (const PendingWrite& write : pending_)
        until(write.dueUs);
    if (const std::optional<std::uint64_t> next = transmitter_.nextUs())
        until(*next);
    if (outUntilUs_)
        until(*outUntilUs_);
    if (const std::optional<std::uint64_t> stale = reader_.expiresUs())
        until(*stale);
    if (pullPending_)
        until(lastAnswerUs_ + kPullSettleMs * kUsPerMs);
    if (options_.exitAfterMs)
        until(startUs_ + *options_.exitAfterMs * kUsPerMs);
    return static_cast<unsigned>(std::max<std::uint64_t>((wait + kUsPerMs - 1) / kUsPerMs, 1));
}

int Simulator::fail(const std::string& error) {
    lineFailed = true;
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
