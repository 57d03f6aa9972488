// The worker of one line: the poll cycle, the operations between two polls, the line opened when
// needed and let go when it is gone.
#include "service/LineWorker.h"
#include <algorithm>
#include "service/Log.h"

namespace service {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

PollError ErrorNamed(const std::string& name) {
    for (int i = 1; i < POLL_ERROR_COUNT; ++i)
        if (name == POLL_ERRORS[i])
            return static_cast<PollError>(i);
    return PollError::None;
}

} // namespace

LineWorker::LineWorker(const line::Target& target, std::vector<LineMonitor> monitors,
                       LineSettings settings, Fleet& fleet)
    : m_target(target), m_fleet(fleet), m_monitors(std::move(monitors)), m_settings(settings) {
    m_thread = std::thread([this] { Run(); });
}

LineWorker::~LineWorker() {
    Stop();
    m_thread.join();
}

void LineWorker::Configure(std::vector<LineMonitor> monitors, LineSettings settings) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.emplace(std::move(monitors), settings);
    }
    m_wake.notify_all();
}

Admission LineWorker::Submit(const std::string& monitor, const Request& request,
                             std::function<void(const OperationResult&)> done) {
    auto operation = std::make_unique<Operation>();
    operation->monitor = monitor;
    operation->request = request;
    operation->done = std::move(done);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop || m_finished)
            return Admission::Stopping;
        if (m_queue.size() >= MAX_WAITING_OPERATIONS)
            return Admission::Busy;
        m_queue.push_back(std::move(operation));
    }
    m_wake.notify_all();
    return Admission::Queued;
}

void LineWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cancel.Set();
    m_wake.notify_all();
}

bool LineWorker::WaitForWork(SteadyClock::time_point nextPoll) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, nextPoll,
                      [this] { return m_stop || !m_queue.empty() || m_pending.has_value(); });
    return !m_stop;
}

bool LineWorker::TakeConfiguration() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pending)
        return false;
    m_monitors = std::move(m_pending->first);
    m_settings = m_pending->second;
    m_pending.reset();
    return true;
}

void LineWorker::Run() {
    try {
        // A cycle starts every interval counted from the last start; one that ran longer than
        // the interval is followed by the next at once, and the count starts from there.
        SteadyClock::time_point lastStart;
        SteadyClock::time_point nextPoll = SteadyClock::now();
        bool started = false;
        while (WaitForWork(nextPoll)) {
            if (TakeConfiguration() && started)
                nextPoll = lastStart + m_settings.interval;
            RunOperations();
            const SteadyClock::time_point now = SteadyClock::now();
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
    std::deque<std::unique_ptr<Operation>> left;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        left.swap(m_queue);
    }
    for (auto& operation : left)
        operation->done({true, {}});
    Release();
}

void LineWorker::PollCycle() {
    bool openTried = false;
    for (const LineMonitor& monitor : m_monitors) {
        if (m_cancel.IsSet())
            return;
        Poll(monitor, openTried);
        RunOperations();
    }
}

void LineWorker::Poll(const LineMonitor& monitor, bool& openTried) {
    const SteadyClock::time_point began = SteadyClock::now();
    PollResult poll;
    std::string reason;
    if (!EnsureOpen(openTried, reason)) {
        poll.error = PollError::Open;
    } else {
        const std::optional<int> unit = monitor.unit ? monitor.unit : m_fleet.UnitOf(monitor.name);
        poll.status = Protocol().ReadStatus(unit, true);
        // A poll cut short by the stop says nothing about the monitor.
        if (m_cancel.IsSet())
            return;
        poll.error = PollErrorOf(poll.status);
        ReleaseAfter(poll.error);
    }
    poll.seconds = std::chrono::duration<double>(SteadyClock::now() - began).count();
    poll.wallMs = WallMs();
    m_fleet.RecordPoll(monitor.name, poll);
}

void LineWorker::RunOperations() {
    while (true) {
        std::unique_ptr<Operation> operation;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop || m_queue.empty())
                return;
            operation = std::move(m_queue.front());
            m_queue.pop_front();
        }
        operation->done(RunOperation(*operation));
    }
}

OperationResult LineWorker::RunOperation(const Operation& operation) {
    OperationResult result;
    const auto monitor =
        std::find_if(m_monitors.begin(), m_monitors.end(),
                     [&](const LineMonitor& m) { return m.name == operation.monitor; });
    // Removed by a reload while the operation waited.
    if (monitor == m_monitors.end()) {
        result.cut = true;
        return result;
    }
    Request request = operation.request;
    request.unit = monitor->unit ? monitor->unit : m_fleet.UnitOf(monitor->name);
    bool openTried = false;
    std::string reason;
    if (!EnsureOpen(openTried, reason)) {
        result.outcome.error = POLL_ERRORS[static_cast<int>(PollError::Open)];
        result.outcome.message = reason;
    } else {
        result.outcome = RunCommand(request, Protocol());
        if (m_clock.WasCut() || m_line->WasCut()) {
            result.cut = true;
            return result;
        }
        ReleaseAfter(ErrorNamed(result.outcome.error));
    }
    m_fleet.RecordOperation(monitor->name, request.command, result.outcome);
    return result;
}

bool LineWorker::EnsureOpen(bool& openTried, std::string& reason) {
    if (m_line)
        return true;
    if (openTried) {
        reason = "the line did not open at this poll";
        return false;
    }
    openTried = true;
    m_line = line::Open(m_target, reason, &m_cancel);
    if (!m_line) {
        if (!m_openFailed && !m_cancel.IsSet())
            Log(m_target.text + ": cannot open the line (" + reason +
                "); tried again at every poll");
        m_openFailed = true;
        return false;
    }
    // A stop lets the exchange under way end: no half frame is left on the line.
    m_line->SetCancel(&m_cancel, line::Line::CancelMode::BetweenExchanges);
    if (m_openFailed)
        Log(m_target.text + ": the line is open again");
    m_openFailed = false;
    return true;
}

void LineWorker::ReleaseAfter(PollError error) {
    if (error == PollError::NoAnswer || error == PollError::Write)
        Release();
}

void LineWorker::Release() {
    m_protocol.reset();
    m_line.reset();
}

MonitorProtocol& LineWorker::Protocol() {
    if (!m_protocol || m_protocol->GetTiming() != m_settings.timing)
        m_protocol = std::make_unique<MonitorProtocol>(*m_line, m_clock, m_settings.timing);
    return *m_protocol;
}

} // namespace service
