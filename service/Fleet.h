// The fleet's state in memory: what the workers last learned of each monitor. The API, the
// metrics and the event stream read it; none of them ever waits for a monitor.
//   PollError, POLL_ERRORS      what a failed poll met, and its name in the API and the metrics
//   OPERATIONS                  the operations the API takes, in the order of their counters
//   PollResult                  what one poll of one monitor came to
//   MonitorState                one monitor as the API shows it, with its counters
//   Fleet                       every monitor's state in the configuration's order; a version
//                               that grows with every change, the monitors changed since a
//                               version, and a wait for the next change
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include "commands/Commands.h"
#include "service/Config.h"

namespace service {

enum class PollError { None, Open, NoAnswer, Refused, Write };
// In the order of PollError; None has no name.
inline constexpr const char* POLL_ERRORS[] = {"", "open", "no-answer", "refused", "write"};
inline constexpr int POLL_ERROR_COUNT = 5;

// What the core's reading of a monitor came to: the first query unanswered or unwritten, else the
// first refused. A refused firmware query is not among them: older monitors do not have it.
PollError PollErrorOf(const MonitorStatus& status);

inline constexpr Command OPERATIONS[] = {Command::Source, Command::Reset, Command::Diagnostic};
inline constexpr int OPERATION_COUNT = 3;
// The index of an operation in OPERATIONS; -1 for a command that is none.
int OperationIndex(Command command);

struct PollResult {
    MonitorStatus status; // what was read; nothing when the line did not open
    PollError error = PollError::None;
    double seconds = 0;      // how long the poll took
    std::int64_t wallMs = 0; // when it ended, in ms since 1970 (UTC)
};

struct MonitorState {
    std::string name;
    std::string target; // as configured
    std::optional<int> unit;
    bool unitConfigured = false;
    bool reachable = false; // the last poll succeeded
    std::optional<int> source;
    std::optional<bool> signal;
    std::optional<std::string> firmware; // valid UTF-8
    std::optional<std::int64_t> lastOkMs;
    PollError error = PollError::None; // of the last poll
    std::uint64_t polls = 0;
    std::uint64_t failures[POLL_ERROR_COUNT] = {}; // by reason; [None] stays 0
    std::optional<double> lastPollSeconds;
    std::uint64_t operations[OPERATION_COUNT][2] = {}; // [operation][0 ok, 1 failed]
    std::uint64_t version = 0; // the fleet's version at the last change of this monitor

    std::uint64_t Failures() const;
    // Takes in one poll: values and reachability from a success, the reason from a failure; the
    // values read before stay while the monitor is unreachable.
    void Record(const PollResult& poll);
    // Takes in what an operation read: a switch's new source at once, a reset's values read
    // afresh, a unit ID learned on the way.
    void Record(Command command, const Outcome& outcome);
    // "answering: unit 1, source HDMI1, signal ok, firmware 1.02", or "not answering (open)".
    std::string Describe() const;
};

class Fleet {
public:
    // Takes the monitors of a configuration in its order; a monitor that keeps its name, target
    // and unit keeps its state and counters.
    void Configure(const std::vector<MonitorConfig>& monitors);

    // Every monitor's state, and the version it was taken at.
    std::vector<MonitorState> Snapshot(std::uint64_t* version = nullptr) const;
    // The version alone: whether anything changed since a snapshot, without taking one.
    std::uint64_t Version() const;
    struct Changes {
        std::vector<MonitorState> monitors; // in the configuration's order
        std::uint64_t version = 0;          // the fleet's version they were taken at
        bool reconfigured = false;          // monitors may have come or gone: all are there
    };
    // The monitors that changed after version since; every monitor when a configuration was
    // taken after since.
    Changes ChangedSince(std::uint64_t since) const;
    std::optional<MonitorState> Find(const std::string& name) const;
    // The unit to address: the configured one, or the one learned; unset until then.
    std::optional<int> UnitOf(const std::string& name) const;

    void RecordPoll(const std::string& name, const PollResult& poll);
    void RecordOperation(const std::string& name, Command command, const Outcome& outcome);

    // Called after every change of the version, outside the fleet's lock, on the thread that
    // made it; set before the fleet first changes.
    void SetChangeListener(std::function<void()> listener);

    // Waits until the version passes since, or the time is up; the version then.
    std::uint64_t WaitForChange(std::uint64_t since, std::chrono::milliseconds timeout) const;

private:
    // Applies a change to the named monitor, logs a change of what it shows, and wakes waiters.
    template <typename Change>
    void Update(const std::string& name, Change change);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<MonitorState> m_monitors;
    std::uint64_t m_version = 0;
    std::uint64_t m_configured = 0; // the version the last configuration was taken at
    std::function<void()> m_listener;
};

} // namespace service
