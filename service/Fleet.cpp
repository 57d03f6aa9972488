// The fleet's state: how a poll and an operation change a monitor, and the version that tells a
// reader something changed.
#include "service/Fleet.h"
#include <algorithm>
#include "commands/Report.h"
#include "service/Log.h"
#include "service/View.h"

namespace service {

using protocol::Failure;

namespace {

// Whether the line carried the last exchange and its answer: the monitor answered, if only to
// refuse, or its data bytes did not name anything known.
bool LineAnswered(Failure failure) {
    return failure != Failure::Open && failure != Failure::NoAnswer && failure != Failure::Write;
}

} // namespace

Failure PollFailureOf(const MonitorStatus& status) {
    if (status.severalAnswers)
        return Failure::SeveralAnswers;
    if (!status.Answered())
        return protocol::FailureOf(status.failure);
    if (status.refusal != CMD_ACK)
        return Failure::Refused;
    return Failure::None;
}

int OperationIndex(Command command) {
    for (int i = 0; i < OPERATION_COUNT; ++i)
        if (OPERATIONS[i] == command)
            return i;
    return -1;
}

std::uint64_t MonitorState::Failures() const {
    std::uint64_t total = 0;
    for (const std::uint64_t count : failures)
        total += count;
    return total;
}

void MonitorState::Noticed(bool wasReachable, std::optional<int> oldSource,
                           std::optional<bool> oldSignal, std::int64_t wallMs) {
    if (reachable != wasReachable || source != oldSource || signal != oldSignal)
        changedMs = wallMs;
}

void MonitorState::Record(const PollResult& poll) {
    const bool wasReachable = reachable;
    const std::optional<int> oldSource = source;
    const std::optional<bool> oldSignal = signal;
    Take(poll);
    Noticed(wasReachable, oldSource, oldSignal, poll.wallMs);
}

void MonitorState::Take(const PollResult& poll) {
    ++polls;
    lastPollSeconds = poll.seconds;
    error = poll.error;
    reachable = poll.error == Failure::None;
    if (!reachable) {
        ++failures[static_cast<int>(poll.error)];
        return;
    }
    const MonitorStatus& read = poll.status;
    if (!unitConfigured && read.unit)
        unit = read.unit;
    source = read.source;
    signal = read.signal;
    firmware = read.firmware ? std::optional<std::string>(ValidUtf8(*read.firmware)) : std::nullopt;
    lastOkMs = poll.wallMs;
}

void MonitorState::Record(Command command, const Outcome& outcome, std::int64_t wallMs) {
    const std::optional<int> oldSource = source;
    const std::optional<bool> oldSignal = signal;
    Take(command, outcome);
    Noticed(reachable, oldSource, oldSignal, wallMs);
}

void MonitorState::Take(Command command, const Outcome& outcome) {
    const int index = OperationIndex(command);
    if (index >= 0)
        ++operations[index][outcome.ok() ? 0 : 1];
    // A configured unit is the one the operation addressed; a unit learned on the way is kept.
    if (outcome.unit)
        unit = outcome.unit;
    if (!outcome.ok())
        return;
    if (command == Command::Source) {
        source = outcome.source;
        if (outcome.signal)
            signal = outcome.signal;
    } else if (command == Command::Reset) {
        // A value the reset could not read again stays as the last poll read it.
        if (outcome.source)
            source = outcome.source;
        if (outcome.signal)
            signal = outcome.signal;
        if (outcome.firmware)
            firmware = ValidUtf8(*outcome.firmware);
    }
}

void Fleet::Configure(const std::vector<MonitorConfig>& monitors,
                      const std::vector<LineConfig>& lines,
                      const std::vector<std::shared_ptr<LineWorker>>& workers) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Line> nextLines;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Line line;
            line.worker = i < workers.size() ? workers[i] : nullptr;
            const auto kept = std::find_if(m_lines.begin(), m_lines.end(), [&](const Line& old) {
                return old.worker != nullptr && old.worker == line.worker;
            });
            if (kept != m_lines.end())
                line.state = kept->state;
            line.state.target = lines[i].target.text;
            line.state.name = lines[i].name.empty() ? line.state.target : lines[i].name;
            nextLines.push_back(std::move(line));
        }
        std::vector<Member> next;
        std::unordered_map<std::string, std::size_t> index;
        next.reserve(monitors.size());
        for (const MonitorConfig& config : monitors) {
            Member member;
            if (config.lineIndex < nextLines.size()) {
                member.line = config.lineIndex;
                member.worker = nextLines[config.lineIndex].worker;
            }
            const auto kept = m_index.find(config.name);
            const MonitorState* before =
                kept == m_index.end() ? nullptr : &m_members[kept->second].state;
            if (before != nullptr && before->target == config.target.text &&
                before->unitConfigured == config.unit.has_value() &&
                (!config.unit || before->unit == config.unit)) {
                member.state = *before;
            } else {
                member.state.name = config.name;
                member.state.target = config.target.text;
                member.state.unit = config.unit;
                member.state.unitConfigured = config.unit.has_value();
                member.state.version = m_version + 1;
            }
            member.state.line = config.lineIndex < nextLines.size()
                                    ? nextLines[config.lineIndex].state.name
                                    : config.target.text;
            index[config.name] = next.size();
            next.push_back(std::move(member));
        }
        m_lines = std::move(nextLines);
        m_members = std::move(next);
        m_index = std::move(index);
        m_configured = ++m_version;
        m_shown = m_version;
    }
    Changed();
}

std::vector<MonitorState> Fleet::Snapshot(std::uint64_t* version) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (version != nullptr)
        *version = m_version;
    std::vector<MonitorState> states;
    states.reserve(m_members.size());
    for (const Member& member : m_members)
        states.push_back(member.state);
    return states;
}

std::vector<LineState> Fleet::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LineState> states;
    states.reserve(m_lines.size());
    for (const Line& line : m_lines)
        states.push_back(line.state);
    return states;
}

std::uint64_t Fleet::Version() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_version;
}

std::uint64_t Fleet::ShownVersion() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shown;
}

Fleet::Changes Fleet::ChangedSince(std::uint64_t since) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    Changes changes{{}, m_version, m_configured > since};
    for (const Member& member : m_members)
        if (changes.reconfigured || member.state.version > since)
            changes.monitors.push_back(member.state);
    return changes;
}

std::optional<Fleet::Found> Fleet::Find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_index.find(name);
    if (found == m_index.end())
        return std::nullopt;
    const Member& member = m_members[found->second];
    return Found{member.state, member.worker};
}

template <typename Change>
void Fleet::Update(const std::string& name, Change change, bool shown) {
    std::string logged;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_index.find(name);
        // A monitor a reload removed while its last poll ran.
        if (found == m_index.end())
            return;
        Member& member = m_members[found->second];
        MonitorState& state = member.state;
        const std::string before = MonitorText(state);
        change(state);
        if (member.line < m_lines.size())
            m_lines[member.line].state.up = LineAnswered(state.error);
        state.version = ++m_version;
        const std::string after = MonitorText(state);
        if (after != before)
            logged = state.name + " (" + state.target + "): " + after;
        if (shown || after != before)
            m_shown = m_version;
    }
    Changed();
    if (!logged.empty())
        Log(logged);
}

void Fleet::Changed() {
    m_changed.notify_all();
    std::vector<std::shared_ptr<const std::function<void()>>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        listeners = m_listeners;
    }
    for (const auto& listener : listeners)
        (*listener)();
}

void Fleet::RecordPoll(const std::string& name, const PollResult& poll) {
    Update(
        name, [&](MonitorState& state) { state.Record(poll); }, false);
}

void Fleet::RecordOperation(const std::string& name, Command command, const Outcome& outcome,
                            std::int64_t wallMs) {
    Update(
        name, [&](MonitorState& state) { state.Record(command, outcome, wallMs); }, true);
}

void Fleet::RecordSweep(const LineWorker& worker, const SweepResult& sweep) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto line = std::find_if(m_lines.begin(), m_lines.end(), [&](const Line& line) {
            return line.worker.get() == &worker;
        });
        if (line == m_lines.end())
            return;
        line->state.sweepSeconds = sweep.seconds;
        line->state.overruns += sweep.overran ? 1 : 0;
        ++m_version;
    }
    Changed();
}

std::optional<BrokerLink> Fleet::Broker() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_broker;
}

template <typename Change>
void Fleet::UpdateBroker(Change change) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change();
        m_shown = ++m_version;
    }
    Changed();
}

void Fleet::SetBrokerConfigured(bool configured) {
    UpdateBroker([&] {
        if (!configured)
            m_broker.reset();
        else if (!m_broker)
            m_broker.emplace();
    });
}

void Fleet::SetBrokerConnected(bool connected) {
    UpdateBroker([&] {
        if (m_broker)
            m_broker->connected = connected;
    });
}

void Fleet::CountBrokerMessage(bool out) {
    UpdateBroker([&] {
        if (m_broker)
            ++(out ? m_broker->messagesOut : m_broker->messagesIn);
    });
}

std::uint64_t Fleet::WaitForChange(std::uint64_t since, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_version > since; });
    return m_version;
}

void Fleet::AddChangeListener(std::function<void()> listener) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listeners.push_back(std::make_shared<const std::function<void()>>(std::move(listener)));
}

} // namespace service
