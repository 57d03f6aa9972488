// The fleet: every monitor kelvaned watches, with what its line's worker last learned of it and
// the worker itself, under one version. A request finds a monitor and its worker with one lookup;
// a reload swaps the monitors and their workers in one step. The API, the metrics and the event
// stream read it; none of them ever waits for a monitor.
//   PollResult, PollFailureOf, POLL_FAILURES  what one poll came to, and the failures it can meet
//   OPERATIONS, OperationIndex  the operations kelvaned runs, in the order of their counters
//   MonitorState                one monitor as the API shows it, with its counters
//   LineState, SweepResult      one line: whether it is up, its last sweep and its overruns
//   LineReports                 what a line's worker tells of its monitors and its sweeps
//   BrokerLink                  what the MQTT bridge tells of its broker
//   Fleet                       the monitors in the configuration's order, their workers, a
//                               version that grows with every change, the monitors changed
//                               since a version, and a wait for (or a call at) the next change
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>
#include "commands/Commands.h"
#include "core/Vocabulary.h"
#include "service/Config.h"

namespace service {

class LineWorker;

struct PollResult {
    MonitorStatus status; // what was read; nothing when the line did not open
    protocol::Failure error = protocol::Failure::None;
    double seconds = 0;      // how long the poll took
    std::int64_t wallMs = 0; // when it ended, in ms since 1970 (UTC)
};

// What the core's reading of a monitor came to: several monitors answering at "0", else the first
// query unanswered or unwritten, else the first refused. A refused firmware query is not among
// them: older monitors do not have it.
protocol::Failure PollFailureOf(const MonitorStatus& status);
// The failures a poll can meet, in the order their counters are shown.
inline constexpr protocol::Failure POLL_FAILURES[] = {
    protocol::Failure::Open, protocol::Failure::NoAnswer, protocol::Failure::Refused,
    protocol::Failure::Write, protocol::Failure::SeveralAnswers};

inline constexpr Command OPERATIONS[] = {Command::Source, Command::Reset, Command::Diagnostic};
inline constexpr int OPERATION_COUNT = 3;
// The index of an operation in OPERATIONS; -1 for a command that is none.
int OperationIndex(Command command);

struct MonitorState {
    std::string name;
    std::string target; // as configured
    std::string line;   // the name of its line (its target until lines are named)
    std::optional<int> unit;
    bool unitConfigured = false;
    bool reachable = false; // the last poll succeeded
    std::optional<int> source;
    std::optional<bool> signal;
    std::optional<std::string> firmware; // valid UTF-8
    std::optional<std::int64_t> lastOkMs;
    // When its source, signal or reachability last changed; none before a poll read its values.
    std::optional<std::int64_t> changedMs;
    protocol::Failure error = protocol::Failure::None; // of the last poll
    std::uint64_t polls = 0;
    std::uint64_t failures[protocol::FAILURE_COUNT] = {}; // by failure; [None] stays 0
    std::optional<double> lastPollSeconds;
    std::uint64_t operations[OPERATION_COUNT][2] = {}; // [operation][0 ok, 1 failed]
    std::uint64_t version = 0; // the fleet's version at the last change of this monitor

    std::uint64_t Failures() const;
    // Takes in one poll: values and reachability from a success, the reason from a failure; the
    // values read before stay while the monitor is unreachable.
    void Record(const PollResult& poll);
    // Takes in what an operation that ended at wallMs read: a switch's new source at once, a
    // reset's values read afresh, a unit ID learned on the way.
    void Record(Command command, const Outcome& outcome, std::int64_t wallMs);

private:
    // Takes what a record changed of what the monitor shows, for changedMs.
    void Take(const PollResult& poll);
    void Take(Command command, const Outcome& outcome);
    void Noticed(bool wasReachable, std::optional<int> oldSource, std::optional<bool> oldSignal,
                 std::int64_t wallMs);
};

// A line is up while it is open and its last exchange was answered (a refusal is an answer).
struct LineState {
    std::string name;   // as shown: its target until lines are named
    std::string target; // as its first monitor names it
    bool up = false;
    std::optional<double> sweepSeconds; // the last sweep: one poll of each of its monitors
    std::uint64_t overruns = 0;         // sweeps longer than the poll interval
};

struct SweepResult {
    double seconds = 0;
    bool overran = false; // longer than the poll interval
};

class LineReports {
public:
    virtual ~LineReports() = default;
    virtual void RecordPoll(const std::string& monitor, const PollResult& poll) = 0;
    // wallMs: when it ended, in ms since 1970 (UTC).
    virtual void RecordOperation(const std::string& monitor, Command command,
                                 const Outcome& outcome, std::int64_t wallMs) = 0;
    virtual void RecordSweep(const LineWorker& line, const SweepResult& sweep) = 0;
};

// The MQTT bridge's link to its broker, for the page and the metrics.
struct BrokerLink {
    bool connected = false;
    std::uint64_t messagesOut = 0; // published by kelvaned
    std::uint64_t messagesIn = 0;  // received from the broker
};

class Fleet final : public LineReports {
public:
    // Takes the monitors and the lines of a configuration in its order, each line with its
    // worker (workers[i] for lines[i]; none at all for a fleet without workers), in one step. A
    // monitor that keeps its name, target and unit keeps its state and counters; a line that
    // keeps its worker keeps its state.
    void Configure(const std::vector<MonitorConfig>& monitors,
                   const std::vector<LineConfig>& lines = {},
                   const std::vector<std::shared_ptr<LineWorker>>& workers = {});

    // Every monitor's state, and the version it was taken at.
    std::vector<MonitorState> Snapshot(std::uint64_t* version = nullptr) const;
    // Every line's state, in the configuration's order.
    std::vector<LineState> Lines() const;
    // The version alone: whether anything changed since a snapshot, without taking one.
    std::uint64_t Version() const;
    // The version at the last change of what a monitor shows (reachable, unit, source, signal,
    // firmware, error), of an operation's record, the configuration or the broker's link: polls
    // that only move counters and times, and sweeps, leave it.
    std::uint64_t ShownVersion() const;
    struct Changes {
        std::vector<MonitorState> monitors; // in the configuration's order
        std::uint64_t version = 0;          // the fleet's version they were taken at
        bool reconfigured = false;          // monitors may have come or gone: all are there
    };
    // The monitors that changed after version since; every monitor when a configuration was
    // taken after since.
    Changes ChangedSince(std::uint64_t since) const;

    struct Found {
        MonitorState state;
        std::shared_ptr<LineWorker> worker; // null in a fleet without workers
    };
    std::optional<Found> Find(const std::string& name) const;

    void RecordPoll(const std::string& name, const PollResult& poll) override;
    void RecordOperation(const std::string& name, Command command, const Outcome& outcome,
                         std::int64_t wallMs) override;
    void RecordSweep(const LineWorker& line, const SweepResult& sweep) override;

    // The bridge's link: none without [mqtt]. Its changes are changes of the fleet, so that the
    // page and the metrics show them as they come.
    std::optional<BrokerLink> Broker() const;
    void SetBrokerConfigured(bool configured);
    void SetBrokerConnected(bool connected);
    void CountBrokerMessage(bool out);

    // Waits until the version passes since, or the time is up; the version then.
    std::uint64_t WaitForChange(std::uint64_t since, std::chrono::milliseconds timeout) const;
    // Calls listener after every change, outside the fleet's lock, on the thread that made it.
    void AddChangeListener(std::function<void()> listener);

private:
    struct Member {
        MonitorState state;
        std::size_t line = 0; // in m_lines; none in a fleet without lines
        std::shared_ptr<LineWorker> worker;
    };
    struct Line {
        LineState state;
        std::shared_ptr<LineWorker> worker;
    };
    // Applies a change to the named monitor, logs a change of what it shows, and wakes waiters.
    // An operation's record counts as shown whatever it changed.
    template <typename Change>
    void Update(const std::string& name, Change change, bool shown);
    void Changed();
    // Applies a change to the broker's link, and wakes waiters.
    template <typename Change>
    void UpdateBroker(Change change);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Member> m_members;
    std::vector<Line> m_lines;
    std::unordered_map<std::string, std::size_t> m_index; // name -> its place in m_members
    std::uint64_t m_version = 0;
    std::uint64_t m_configured = 0; // the version the last configuration was taken at
    std::uint64_t m_shown = 0;      // see ShownVersion
    std::optional<BrokerLink> m_broker;
    std::vector<std::shared_ptr<const std::function<void()>>> m_listeners;
};

} // namespace service
