// One line and the thread that owns it. Everything that touches the line, the polls and the
// operations alike, is a message to this thread: no lock guards the line, and no two operations
// ever interleave on it.
//   LineMonitor       a monitor on the line, as configured
//   LineSettings      what every line shares: the poll interval and the exchange's timing
//   OperationResult   what an operation came to, or that kelvaned stopped before it could end
//   Admission, MAX_WAITING_OPERATIONS  whether an operation was taken into a line's queue
//   LineWorker        the thread: polls its monitors one after the other every interval, and
//                     runs operations between two polls, in the order they came
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>
#include "commands/Commands.h"
#include "line/Cancel.h"
#include "line/Line.h"
#include "service/Fleet.h"

namespace service {

struct LineMonitor {
    std::string name;
    std::optional<int> unit; // as configured
};

struct LineSettings {
    std::chrono::milliseconds interval{DEFAULT_POLL_INTERVAL_S * 1000};
    Timing timing = Timing::Paced;
};

struct OperationResult {
    bool cut = false; // kelvaned stopped first: the operation did not run, or not to its end
    Outcome outcome;
};

// Operations waiting on one line beyond the one under way; one more is not taken.
inline constexpr std::size_t MAX_WAITING_OPERATIONS = 16;
enum class Admission { Queued, Busy, Stopping };

class LineWorker {
public:
    LineWorker(const line::Target& target, std::vector<LineMonitor> monitors, LineSettings settings,
               Fleet& fleet);
    // Stops the thread and lets the line go.
    ~LineWorker();
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    const line::Target& Target() const { return m_target; }
    // Takes new monitors and settings between two polls; the line stays open.
    void Configure(std::vector<LineMonitor> monitors, LineSettings settings);
    // Queues an operation on a monitor of this line, unless MAX_WAITING_OPERATIONS wait already
    // (Busy) or the worker stops (Stopping); done is then never called. Once queued, done is
    // called exactly once, on the worker's thread, when the operation has run or was cut by a
    // stop.
    Admission Submit(const std::string& monitor, const Request& request,
                     std::function<void(const OperationResult&)> done);
    // Asks the thread to stop: the exchange under way ends, a settling wait is cut, what waits
    // in the queue is answered as cut. Returns at once; the destructor waits for the thread.
    void Stop();
    // Whether the thread is still at work.
    bool Running() const { return !m_finished.load(); }

private:
    struct Operation {
        std::string monitor;
        Request request;
        std::function<void(const OperationResult&)> done;
    };

    void Run();
    // Waits for the next thing to do; false once stopped.
    bool WaitForWork(std::chrono::steady_clock::time_point nextPoll);
    void PollCycle();
    void Poll(const LineMonitor& monitor, bool& openTried);
    // Runs the operations waiting in the queue, one after the other.
    void RunOperations();
    OperationResult RunOperation(const Operation& operation);
    // Opens the line unless it is open; one try per poll cycle (openTried), each operation its
    // own. False with the reason.
    bool EnsureOpen(bool& openTried, std::string& reason);
    // After an exchange that met a dead line: a dropped connection or a pulled adapter look
    // alike, so the line is opened afresh for the next poll.
    void ReleaseAfter(PollError error);
    // Lets the line go, with the protocol over it.
    void Release();
    // The protocol over the open line: one for as long as the line stays open, so that the
    // answer-driven exchange knows how the last exchange before a poll ended; a new one when the
    // timing changed.
    MonitorProtocol& Protocol();
    bool TakeConfiguration();

    const line::Target m_target;
    Fleet& m_fleet;
    line::Cancel m_cancel;
    // The monitor's own waits; cut by a stop.
    line::CancellableClock m_clock{m_cancel};

    // Shared with the other threads, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<Operation>> m_queue;
    std::optional<std::pair<std::vector<LineMonitor>, LineSettings>> m_pending;
    bool m_stop = false;

    // The worker thread's own.
    std::vector<LineMonitor> m_monitors;
    LineSettings m_settings;
    std::unique_ptr<line::Line> m_line;
    std::unique_ptr<MonitorProtocol> m_protocol; // over m_line; made by Protocol()
    bool m_openFailed = false; // the last try to open failed (logged once, not per poll)

    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

} // namespace service
