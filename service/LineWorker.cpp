// The worker of one line: the poll cycle, the operations between two polls, the line opened when
// needed and let go when it is gone.
#include "service/LineWorker.h"
#include <algorithm>
#include <cstdio>
#include <utility>
#include "line/Line.h"
#include "service/Log.h"

namespace service {

using protocol::Failure;

namespace {

class SystemWorkerClock final : public WorkerClock {
public:
    Time Now() override { return std::chrono::steady_clock::now(); }
    std::int64_t WallMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, Time until,
                   const std::function<bool()>& ready) override {
        wake.wait_until(lock, until, ready);
    }
};

// "cannot open the line (REASON)", or the reason alone when it says so already (a device
// server's: "cannot open the line: connection refused").
std::string OpenFailure(const std::string& reason) {
    const std::string words = protocol::FailureWords(Failure::Open);
    return reason.rfind(words, 0) == 0 ? reason : words + " (" + reason + ")";
}

} // namespace

WorkerClock& SystemClock() {
    static SystemWorkerClock clock;
    return clock;
}

std::unique_ptr<MonitorLine> OpenLine(const line::Target& target, const line::Cancel& stop,
                                      std::string& error) {
    std::unique_ptr<line::Line> opened = line::Open(target, error, &stop);
    // A stop lets the exchange under way end: no half frame is left on the line.
    if (opened)
        opened->SetCancel(&stop, line::Line::CancelMode::BetweenExchanges);
    return opened;
}

void LineWorker::ProtocolWaits::Sleep(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_worker.m_mutex);
    m_worker.m_clock.WaitUntil(lock, m_worker.m_wake,
                               m_worker.m_clock.Now() + std::chrono::milliseconds(milliseconds),
                               [this] { return m_worker.m_stop; });
    if (m_worker.m_stop)
        m_cut = true;
}

std::uint64_t LineWorker::ProtocolWaits::NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          m_worker.m_clock.Now().time_since_epoch())
                                          .count());
}

LineWorker::LineWorker(const line::Target& target, std::vector<LineMonitor> monitors,
                       LineSettings settings, LineReports& reports, LineOpener open,
                       WorkerClock& clock)
    : m_target(target), m_reports(reports), m_open(std::move(open)), m_clock(clock),
      m_monitors(std::move(monitors)), m_settings(settings) {
}

LineWorker::~LineWorker() {
    Stop();
    Join();
}

void LineWorker::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

void LineWorker::Start() {
    m_thread = std::thread([this] { Run(); });
}

void LineWorker::Configure(std::vector<LineMonitor> monitors, LineSettings settings) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.emplace(std::move(monitors), settings);
    }
    m_wake.notify_all();
}

void LineWorker::PollNewMonitors() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shown = true;
    }
    m_wake.notify_all();
}

Admission LineWorker::Submit(const std::string& monitor, const Request& request,
                             OperationDone done) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop || m_finished)
            return m_stopCause == Cut::Reload ? Admission::LetGo : Admission::Stopping;
        if (m_queue.size() >= MAX_WAITING_OPERATIONS)
            return Admission::Busy;
        m_queue.push_back({monitor, request, std::move(done)});
    }
    m_wake.notify_all();
    return Admission::Queued;
}

void LineWorker::Stop(Cut why) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_stop)
            m_stopCause = why;
        m_stop = true;
    }
    m_cancel.Set();
    m_wake.notify_all();
}

bool LineWorker::WaitForWork(Time nextPoll) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_clock.WaitUntil(lock, m_wake, nextPoll,
                      [this] { return m_stop || !m_queue.empty() || m_pending || m_shown; });
    return !m_stop;
}

Cut LineWorker::StopCause() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopCause;
}

void LineWorker::TakeConfiguration() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A configuration is handed over before PollNewMonitors: with it, or taken already.
    const bool shown = std::exchange(m_shown, false);
    if (m_pending) {
        const std::vector<LineMonitor> before =
            std::exchange(m_monitors, std::move(m_pending->first));
        m_settings = m_pending->second;
        m_pending.reset();
        m_reconfigured = true;
        for (const LineMonitor& monitor : m_monitors)
            m_unpolled = m_unpolled || std::none_of(before.begin(), before.end(), [&](auto& old) {
                             return old.name == monitor.name && old.unit == monitor.unit;
                         });
        // A unit learned is kept for a monitor that is still asked at "0".
        for (auto learned = m_learned.begin(); learned != m_learned.end();) {
            const auto kept =
                std::find_if(m_monitors.begin(), m_monitors.end(), [&](auto& monitor) {
                    return monitor.name == learned->first && !monitor.unit;
                });
            learned = kept == m_monitors.end() ? m_learned.erase(learned) : std::next(learned);
        }
    }
    m_pollNow = m_pollNow || (shown && m_unpolled);
}

void LineWorker::Run() {
    try {
        // A cycle starts every interval counted from the last start; one that ran longer than
        // the interval is followed by the next at once, and the count starts from there.
        Time lastStart;
        Time nextPoll = m_clock.Now();
        bool started = false;
        while (WaitForWork(nextPoll)) {
            TakeConfiguration();
            RunOperations();
            if (std::exchange(m_reconfigured, false) && started)
                nextPoll = lastStart + m_settings.interval;
            const Time now = m_clock.Now();
            if (std::exchange(m_pollNow, false))
                nextPoll = now;
            if (now < nextPoll)
                continue;
            lastStart = now - nextPoll < m_settings.interval ? nextPoll : now;
            nextPoll = lastStart + m_settings.interval;
            started = true;
            PollCycle();
        }
    } catch (const std::exception& e) {
        Log(m_target.text + ": the line's worker stopped: " + e.what());
    }
    std::deque<Operation> left;
    Cut why = Cut::Stop;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        left.swap(m_queue);
        why = m_stopCause;
    }
    for (const Operation& operation : left)
        operation.done({why, {}});
    Release();
}

void LineWorker::PollCycle() {
    const Time began = m_clock.Now();
    bool failedThisCycle = false;
    m_unpolled = false;
    // A configuration taken by an operation between two polls applies from the next cycle.
    const std::vector<LineMonitor> monitors = m_monitors;
    for (const LineMonitor& monitor : monitors) {
        if (m_cancel.IsSet())
            return;
        Poll(monitor, failedThisCycle);
        RunOperations();
    }
    const auto took = m_clock.Now() - began;
    SweepResult sweep{std::chrono::duration<double>(took).count(), took > m_settings.interval};
    // Once when a line's sweeps begin to outlast the interval, and once when they fit again.
    if (sweep.overran != m_overrunning) {
        char text[160];
        std::snprintf(text, sizeof text,
                      sweep.overran ? "a sweep took %.1f s, longer than the %.0f s poll interval: "
                                      "its monitors are polled less often"
                                    : "a sweep took %.1f s, within the %.0f s poll interval again",
                      sweep.seconds, std::chrono::duration<double>(m_settings.interval).count());
        Log(m_target.text + ": " + text);
        m_overrunning = sweep.overran;
    }
    m_reports.RecordSweep(*this, sweep);
}

void LineWorker::Poll(const LineMonitor& monitor, bool& failedThisCycle) {
    const Time began = m_clock.Now();
    PollResult poll;
    std::string reason;
    if (!EnsureOpen(failedThisCycle, reason)) {
        poll.error = Failure::Open;
    } else {
        poll.status = Protocol().ReadStatus(UnitOf(monitor), true);
        // A poll cut short by the stop says nothing about the monitor.
        if (m_cancel.IsSet())
            return;
        poll.error = PollFailureOf(poll.status);
        if (poll.error == Failure::None)
            Learn(monitor, poll.status.unit);
        ReleaseAfter(poll.error);
    }
    poll.seconds = std::chrono::duration<double>(m_clock.Now() - began).count();
    poll.wallMs = m_clock.WallMs();
    m_reports.RecordPoll(monitor.name, poll);
}

void LineWorker::RunOperations() {
    while (true) {
        Operation operation;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop || m_queue.empty())
                return;
            operation = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // A reload may have added the monitor after this cycle began.
        TakeConfiguration();
        operation.done(RunOperation(operation));
    }
}

OperationResult LineWorker::RunOperation(const Operation& operation) {
    OperationResult result;
    const auto monitor =
        std::find_if(m_monitors.begin(), m_monitors.end(),
                     [&](const LineMonitor& m) { return m.name == operation.monitor; });
    // Removed by a reload while the operation waited.
    if (monitor == m_monitors.end()) {
        result.cut = Cut::Reload;
        return result;
    }
    Request request = operation.request;
    request.unit = UnitOf(*monitor);
    bool failedThisCycle = false;
    std::string reason;
    if (!EnsureOpen(failedThisCycle, reason)) {
        result.outcome.error = Failure::Open;
        result.outcome.message = reason;
    } else {
        m_waits.TakeCut();
        result.outcome = RunCommand(request, Protocol());
        // The stop cuts the monitor's own waits, lets the exchange under way end and refuses the
        // next: what failed after it did not fail on its own, and what it cut did not run to its
        // end.
        if (m_waits.TakeCut() || (m_cancel.IsSet() && !result.outcome.ok())) {
            result.cut = StopCause();
            return result;
        }
        if (!monitor->unit && !request.unit)
            Learn(*monitor, result.outcome.unit);
        ReleaseAfter(result.outcome.error);
    }
    m_reports.RecordOperation(monitor->name, request.command, result.outcome, m_clock.WallMs());
    return result;
}

std::optional<int> LineWorker::UnitOf(const LineMonitor& monitor) const {
    if (monitor.unit)
        return monitor.unit;
    const auto learned = m_learned.find(monitor.name);
    return learned == m_learned.end() ? std::nullopt : std::optional<int>(learned->second);
}

void LineWorker::Learn(const LineMonitor& monitor, const std::optional<int>& unit) {
    if (!monitor.unit && unit)
        m_learned[monitor.name] = *unit;
}

bool LineWorker::EnsureOpen(bool& failedThisCycle, std::string& reason) {
    if (m_line)
        return true;
    if (failedThisCycle) {
        reason = "the line did not open at this poll";
        return false;
    }
    m_line = m_open(m_target, m_cancel, reason);
    if (!m_line) {
        failedThisCycle = true;
        if (!m_openFailed && !m_cancel.IsSet())
            Log(m_target.text + ": " + OpenFailure(reason) + "; tried again at every poll");
        m_openFailed = true;
        return false;
    }
    if (m_openFailed)
        Log(m_target.text + ": the line is open again");
    m_openFailed = false;
    return true;
}

void LineWorker::ReleaseAfter(Failure failure) {
    if (failure == Failure::NoAnswer || failure == Failure::Write)
        Release();
}

void LineWorker::Release() {
    m_protocol.reset();
    m_line.reset();
}

MonitorProtocol& LineWorker::Protocol() {
    if (!m_protocol || m_protocol->GetTiming() != m_settings.timing)
        m_protocol = std::make_unique<MonitorProtocol>(*m_line, m_waits, m_settings.timing,
                                                       AnswersAtZero::Checked);
    return *m_protocol;
}

} // namespace service
