// One line and the thread that owns it. Everything that touches the line, the polls and the
// operations alike, is a message to this thread: no lock guards the line, and no two operations
// ever interleave on it.
//   LineMonitor       a monitor on the line, as configured
//   LineSettings      what every line shares: the poll interval and the exchange's timing
//   Cut, OperationResult  what an operation came to, or why it did not run (to its end)
//   Admission, MAX_WAITING_OPERATIONS  whether an operation was queued, and the queue's bound
//   LineOpener, OpenLine  how a worker opens its line: the line library's, or a test's fake
//   LineWorker        the thread: polls its monitors one after the other every interval, and
//                     runs operations between two polls, in the order they came
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <unordered_map>
#include <vector>
#include "commands/Commands.h"
#include "line/Cancel.h"
#include "line/Target.h"
#include "service/Fleet.h"
#include "service/WorkerClock.h"

namespace service {

struct LineMonitor {
    std::string name;
    std::optional<int> unit; // as configured
};

struct LineSettings {
    std::chrono::milliseconds interval{DEFAULT_POLL_INTERVAL_S * 1000};
    Timing timing = Timing::Paced;
};

// Why an operation did not run, or not to its end: kelvaned stopped, or a reload took its monitor
// or its line away.
enum class Cut { No, Stop, Reload };

struct OperationResult {
    Cut cut = Cut::No;
    Outcome outcome;
};

// Queued; or not queued because MAX_WAITING_OPERATIONS wait already, or the worker stops: for
// kelvaned's stop, or because a reload let its line go.
enum class Admission { Queued, Busy, Stopping, LetGo };
// Operations waiting on one line, the one under way aside. A line takes one at a time, and a
// switch takes seconds: a longer queue would only answer its last ones after their clients gave
// up.
inline constexpr std::size_t MAX_WAITING_OPERATIONS = 16;
using OperationDone = std::function<void(const OperationResult&)>;

// Opens the line of a target with the monitor's settings, or gives null with the reason. A set
// stop ends a connect early, and lets the exchange under way on the opened line end but starts
// no other.
using LineOpener = std::function<std::unique_ptr<MonitorLine>(
    const line::Target& target, const line::Cancel& stop, std::string& error)>;
std::unique_ptr<MonitorLine> OpenLine(const line::Target& target, const line::Cancel& stop,
                                      std::string& error);

class LineWorker {
public:
    LineWorker(const line::Target& target, std::vector<LineMonitor> monitors, LineSettings settings,
               LineReports& reports, LineOpener open = OpenLine,
               WorkerClock& clock = SystemClock());
    // Stops the thread and lets the line go.
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Starts the thread.
    void Start();
    const line::Target& Target() const { return m_target; }
    // Takes new monitors and settings before the next poll or operation; the line stays open.
    void Configure(std::vector<LineMonitor> monitors, LineSettings settings);
    // Called once the fleet shows the monitors of the last Configure: those the line did not poll
    // before (a new name, or another unit) are polled at once, not an interval later. Sooner,
    // their first poll would be taken for one of a monitor that is gone, and lost.
    void PollNewMonitors();
    // Queues an operation on a monitor of this line. done is called once, on the worker's
    // thread, when it has run or was cut; never when it was not queued. done must not hold the
    // worker: the worker cannot end on its own thread.
    Admission Submit(const std::string& monitor, const Request& request, OperationDone done);
    // Asks the thread to stop: the exchange under way ends, a wait is cut, what waits in the
    // queue is answered as cut, for why. Returns at once; the destructor waits for the thread.
    void Stop(Cut why = Cut::Stop);
    // Waits until the thread has ended (after Stop).
    void Join();
    // Whether the thread is still at work.
    bool Running() const { return !m_finished.load(); }

    // The thread's work, until Stop; Start runs it on a thread of its own.
    void Run();

private:
    struct Operation {
        std::string monitor;
        Request request;
        OperationDone done;
    };
    using Time = WorkerClock::Time;

    // The protocol's waits, on the worker's clock, cut by a stop.
    class ProtocolWaits final : public ProtocolClock {
    public:
        explicit ProtocolWaits(LineWorker& worker) : m_worker(worker) {}
        void Sleep(std::uint32_t milliseconds) override;
        std::uint64_t NowMs() override;
        // Whether a stop cut a wait since the last call.
        bool TakeCut() { return std::exchange(m_cut, false); }

    private:
        LineWorker& m_worker;
        bool m_cut = false;
    };

    // Waits for the next thing to do; false once stopped.
    bool WaitForWork(Time nextPoll);
    // Why the operations that stop cut were cut.
    Cut StopCause();
    void PollCycle();
    void Poll(const LineMonitor& monitor, bool& failedThisCycle);
    // Runs the operations waiting in the queue, one after the other.
    void RunOperations();
    OperationResult RunOperation(const Operation& operation);
    // The unit to address: the configured one, or the one learned at "0"; none until then.
    std::optional<int> UnitOf(const LineMonitor& monitor) const;
    void Learn(const LineMonitor& monitor, const std::optional<int>& unit);
    // Opens the line unless it is open: a line that did not open is not tried again in the same
    // poll cycle (failedThisCycle), an operation tries its own. One let go after a monitor that
    // did not answer is opened again for the next: on a daisy chain that monitor may only be off.
    // False with the reason.
    bool EnsureOpen(bool& failedThisCycle, std::string& reason);
    // After an exchange that met a dead line: a dropped connection or a pulled adapter look
    // alike, so the line is opened afresh for the next poll.
    void ReleaseAfter(protocol::Failure failure);
    // Lets the line go, with the protocol over it.
    void Release();
    // The protocol over the open line: one for as long as the line stays open, so that the
    // answer-driven exchange knows how the last exchange before a poll ended; a new one when the
    // timing changed.
    MonitorProtocol& Protocol();
    void TakeConfiguration();

    const line::Target m_target;
    LineReports& m_reports;
    const LineOpener m_open;
    WorkerClock& m_clock;
    line::Cancel m_cancel;
    ProtocolWaits m_waits{*this};

    // Shared with the other threads, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Operation> m_queue;
    std::optional<std::pair<std::vector<LineMonitor>, LineSettings>> m_pending;
    bool m_shown = false; // PollNewMonitors was called since the thread last looked
    bool m_stop = false;
    Cut m_stopCause = Cut::Stop;

    // The worker thread's own.
    std::vector<LineMonitor> m_monitors;
    LineSettings m_settings;
    std::unordered_map<std::string, int> m_learned; // units learned at "0", by monitor
    std::unique_ptr<MonitorLine> m_line;
    std::unique_ptr<MonitorProtocol> m_protocol; // over m_line; made by Protocol()
    bool m_reconfigured = false; // a configuration was taken since the schedule last looked
    bool m_unpolled = false;     // it brought monitors no cycle has polled yet
    bool m_pollNow = false;      // and the fleet shows them: a cycle starts at once
    bool m_openFailed = false;   // the last try to open failed (logged once, not per poll)
    bool m_overrunning = false;  // the last sweep outlasted the interval (logged once)

    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

} // namespace service
