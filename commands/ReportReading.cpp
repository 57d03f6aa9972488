// kelvaned's answers read back into the outcome that rendered them, so that kelvanectl prints an
// operation run through kelvaned with the same function, the same words and the same exit status
// as one run on the line. The answers come over the network: every key is checked for its type.
#include "commands/Report.h"

namespace {

using Json = nlohmann::json;

// The value at key when it has the type; unset when it is null, missing or of another type.
std::optional<int> Number(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer())
        return std::nullopt;
    return found->get<int>();
}

std::optional<std::string> Text(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    return found->get<std::string>();
}

// The values every command's object may carry, each as the report names it.
void ReadValues(const Json& object, Outcome& outcome) {
    outcome.unit = Number(object, "unit");
    const int source = protocol::SourceByName(Text(object, "source").value_or(""));
    if (source >= 0)
        outcome.source = source;
    const std::optional<std::string> signal = Text(object, "signal");
    if (signal == protocol::SignalName(true) || signal == protocol::SignalName(false))
        outcome.signal = *signal == protocol::SignalName(true);
    outcome.firmware = Text(object, "firmware");
}

// The failure a name stands for; a name this kelvanectl does not know (or none at all) is no
// answer, with the name kept for the person: an object that says it failed fails.
protocol::Failure FailureOfName(const std::optional<std::string>& name, std::string& message) {
    if (const std::optional<protocol::Failure> known = protocol::FailureNamed(name.value_or("")))
        return *known;
    if (name && !name->empty())
        message += " (" + *name + ")";
    return protocol::Failure::NoAnswer;
}

} // namespace

bool ReadReport(const Json& report, Command command, Outcome& outcome) {
    outcome = Outcome{};
    const auto ok = report.is_object() ? report.find("ok") : report.end();
    if (!report.is_object() || ok == report.end() || !ok->is_boolean() ||
        Text(report, "command") != CommandName(command))
        return false;
    ReadValues(report, outcome);
    outcome.step = Number(report, "step").value_or(0);
    if (const auto units = report.find("units"); units != report.end() && units->is_array())
        for (const Json& unit : *units)
            if (unit.is_number_integer())
                outcome.units.push_back(unit.get<int>());
    if (!ok->get<bool>()) {
        outcome.message = Text(report, "message").value_or("");
        outcome.error = FailureOfName(Text(report, "error"), outcome.message);
    }
    return true;
}

bool ReadMonitorView(const Json& monitor, Outcome& outcome) {
    outcome = Outcome{};
    const auto reachable = monitor.is_object() ? monitor.find("reachable") : monitor.end();
    if (!monitor.is_object() || reachable == monitor.end() || !reachable->is_boolean())
        return false;
    ReadValues(monitor, outcome);
    if (reachable->get<bool>())
        return true;
    const std::optional<std::string> error = Text(monitor, "error");
    if (!error) {
        outcome.error = protocol::Failure::NoAnswer;
        outcome.message = "kelvaned has not polled it yet";
        return true;
    }
    std::string unknown;
    outcome.error = FailureOfName(error, unknown);
    outcome.message =
        "kelvaned's last poll: " + std::string(protocol::FailureWords(outcome.error)) + unknown;
    return true;
}
