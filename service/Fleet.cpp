// The fleet's state: how a poll and an operation change a monitor, and the version that tells a
// reader something changed.
#include "service/Fleet.h"
#include <algorithm>
#include <nlohmann/json.hpp>
#include "service/Log.h"

namespace service {

namespace {

PollError ErrorOf(CommandResult result) {
    return result == CMD_SEND_FAILED ? PollError::Write
           : result == CMD_NAK       ? PollError::Refused
                                     : PollError::NoAnswer;
}

// A monitor's bytes as valid UTF-8, a stray byte as U+FFFD: the JSON library's own replacement,
// so that the API, the metrics and the log all show one text.
std::string Utf8(const std::string& text) {
    const std::string json =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(json).get<std::string>();
}

} // namespace

PollError PollErrorOf(const MonitorStatus& status) {
    if (!status.Answered())
        return ErrorOf(status.failure);
    if (status.refusal != CMD_ACK)
        return PollError::Refused;
    return PollError::None;
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

void MonitorState::Record(const PollResult& poll) {
    ++polls;
    lastPollSeconds = poll.seconds;
    error = poll.error;
    reachable = poll.error == PollError::None;
    if (!reachable) {
        ++failures[static_cast<int>(poll.error)];
        return;
    }
    const MonitorStatus& read = poll.status;
    if (!unitConfigured && read.unit)
        unit = read.unit;
    source = read.source;
    signal = read.signal;
    firmware = read.firmware ? std::optional<std::string>(Utf8(*read.firmware)) : std::nullopt;
    lastOkMs = poll.wallMs;
}

void MonitorState::Record(Command command, const Outcome& outcome) {
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
            firmware = Utf8(*outcome.firmware);
    }
}

std::string MonitorState::Describe() const {
    if (!reachable)
        return std::string("not answering (") +
               (error == PollError::None ? "not polled yet" : POLL_ERRORS[int(error)]) + ")";
    return "answering: unit " + (unit ? std::to_string(*unit) : std::string("?")) + ", source " +
           (source ? protocol::SourceName(*source) : "?") + ", signal " +
           (signal ? (*signal ? "ok" : "none") : "?") + ", firmware " + firmware.value_or("?");
}

void Fleet::Configure(const std::vector<MonitorConfig>& monitors) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::vector<MonitorState> next;
    for (const MonitorConfig& config : monitors) {
        const auto kept = std::find_if(m_monitors.begin(), m_monitors.end(), [&](auto& state) {
            return state.name == config.name && state.target == config.target.text &&
                   state.unitConfigured == config.unit.has_value() &&
                   (!config.unit || state.unit == config.unit);
        });
        if (kept != m_monitors.end()) {
            next.push_back(*kept);
            continue;
        }
        MonitorState state;
        state.name = config.name;
        state.target = config.target.text;
        state.unit = config.unit;
        state.unitConfigured = config.unit.has_value();
        state.version = m_version + 1;
        next.push_back(std::move(state));
    }
    m_monitors = std::move(next);
    m_configured = ++m_version;
    m_changed.notify_all();
    lock.unlock();
    if (m_listener)
        m_listener();
}

std::vector<MonitorState> Fleet::Snapshot(std::uint64_t* version) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (version != nullptr)
        *version = m_version;
    return m_monitors;
}

std::uint64_t Fleet::Version() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_version;
}

Fleet::Changes Fleet::ChangedSince(std::uint64_t since) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    Changes changes{{}, m_version, m_configured > since};
    for (const MonitorState& state : m_monitors)
        if (changes.reconfigured || state.version > since)
            changes.monitors.push_back(state);
    return changes;
}

std::optional<MonitorState> Fleet::Find(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const MonitorState& state : m_monitors)
        if (state.name == name)
            return state;
    return std::nullopt;
}

std::optional<int> Fleet::UnitOf(const std::string& name) const {
    const std::optional<MonitorState> state = Find(name);
    return state ? state->unit : std::nullopt;
}

template <typename Change>
void Fleet::Update(const std::string& name, Change change) {
    std::string logged;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (MonitorState& state : m_monitors) {
            if (state.name != name)
                continue;
            const std::string before = state.Describe();
            change(state);
            state.version = ++m_version;
            changed = true;
            const std::string after = state.Describe();
            if (after != before)
                logged = state.name + " (" + state.target + "): " + after;
            break;
        }
    }
    m_changed.notify_all();
    if (changed && m_listener)
        m_listener();
    if (!logged.empty())
        Log(logged);
}

void Fleet::RecordPoll(const std::string& name, const PollResult& poll) {
    Update(name, [&](MonitorState& state) { state.Record(poll); });
}

void Fleet::RecordOperation(const std::string& name, Command command, const Outcome& outcome) {
    Update(name, [&](MonitorState& state) { state.Record(command, outcome); });
}

void Fleet::SetChangeListener(std::function<void()> listener) {
    m_listener = std::move(listener);
}

std::uint64_t Fleet::WaitForChange(std::uint64_t since, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_version > since; });
    return m_version;
}

} // namespace service
