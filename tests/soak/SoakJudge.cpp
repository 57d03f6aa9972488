#include "tests/soak/SoakJudge.h"
#include "core/ProtocolRules.h"

namespace {

std::string Command(const Exchange& exchange) {
    return exchange.frame.size() == FRAME_SIZE ? exchange.frame.substr(3, 3) : "";
}

// The byte after the frame's data bytes decides, as it does for the panel: a refusal, prompt or
// late, is no acknowledge.
bool Acknowledged(const Exchange& exchange) {
    const size_t at = protocol::DataBytes(Command(exchange));
    return exchange.answer.size() > at &&
           protocol::AcknowledgeOf(static_cast<std::uint8_t>(exchange.answer[at])) == CMD_ACK;
}

// The monitor's draw sent the answer late: "late 540 ms", "refuse late 480 ms".
bool SentLate(const std::string& fault) {
    return fault.rfind("late ", 0) == 0 || fault.rfind("refuse late ", 0) == 0;
}

bool SignalQueryAfter(const std::vector<Exchange>& exchanges, size_t index) {
    for (size_t i = index + 1; i < exchanges.size(); ++i)
        if (Command(exchanges[i]) == protocol::SIGNAL_QUERY.command)
            return true;
    return false;
}

} // namespace

const char* OperationName(Operation operation) {
    switch (operation) {
    case Operation::Connect:
        return "connect";
    case Operation::Disconnect:
        return "disconnect";
    case Operation::CheckSource:
        return "check source";
    case Operation::CheckSignal:
        return "check signal";
    case Operation::CheckUnitId:
        return "check unit ID";
    case Operation::CheckFirmware:
        return "check firmware";
    case Operation::ChangeSource:
        return "change source";
    case Operation::DefaultSetting:
        return "default setting";
    case Operation::Diagnostic:
        return "diagnostic mode";
    case Operation::ChooseModel:
        return "choose model";
    case Operation::AboutBox:
        return "about box";
    case Operation::Exit:
        return "exit";
    }
    return "?";
}

ULONGLONG OperationBoundMs(Operation operation) {
    switch (operation) {
    case Operation::Connect:
        return protocol::STATUS_LIMIT_MS;
    case Operation::CheckSource:
    case Operation::CheckSignal:
    case Operation::CheckUnitId:
        return protocol::QUERY_LIMIT_MS;
    case Operation::CheckFirmware:
        return protocol::FIRMWARE_LIMIT_MS;
    case Operation::ChangeSource:
        return protocol::SWITCH_LIMIT_MS;
    case Operation::DefaultSetting:
        return protocol::RESET_LIMIT_MS;
    case Operation::Diagnostic:
        return protocol::DIAGNOSTIC_LIMIT_MS;
    case Operation::Exit:
        return protocol::DRAIN_LIMIT_MS + protocol::READ_TIMEOUT_MS;
    case Operation::Disconnect:
    case Operation::ChooseModel:
    case Operation::AboutBox:
        return 0;
    }
    return 0;
}

std::vector<Exchange> ExchangesIn(const std::vector<LogEvent>& events) {
    std::vector<Exchange> exchanges;
    for (const LogEvent& event : events) {
        if (event.kind == "RX") {
            if (!exchanges.empty() && exchanges.back().answer.empty() &&
                SentLate(exchanges.back().fault))
                exchanges.back().lateAnswerMissing = true;
            exchanges.push_back(Exchange{event.details, "", "", false});
        } else if (exchanges.empty()) {
            continue;
        } else if (event.kind == "FAULT") {
            // "frame 12: late 540 ms"
            const size_t colon = event.details.find(": ");
            exchanges.back().fault =
                colon == std::string::npos ? event.details : event.details.substr(colon + 2);
        } else if (event.kind == "TX") {
            exchanges.back().answer += event.details;
        }
    }
    return exchanges;
}

Verdict JudgeSourceChange(int source, const std::wstring& statusBefore,
                          const std::wstring& statusAfter, const std::vector<Exchange>& exchanges) {
    const std::string name = protocol::SOURCES[source].name;
    const std::wstring success = L"Input source has been changed successfully. (" +
                                 std::wstring(name.begin(), name.end()) + L")";
    size_t last = exchanges.size();
    for (size_t i = 0; i < exchanges.size(); ++i)
        if (Command(exchanges[i]) == protocol::SOURCE_SWITCH)
            last = i;

    Verdict verdict;
    const bool sent = last < exchanges.size();
    verdict.acknowledged = sent &&
                           exchanges[last].frame.substr(6) == protocol::SOURCES[source].code &&
                           Acknowledged(exchanges[last]);
    verdict.reported = statusAfter == success &&
                       (statusBefore != success || (sent && SignalQueryAfter(exchanges, last)));
    return verdict;
}

Verdict JudgeDefaultSetting(const std::wstring& statusBefore, const std::wstring& statusAfter,
                            const std::vector<Exchange>& exchanges) {
    const std::wstring done = L"Default setting is done.";
    size_t reset = exchanges.size();
    for (size_t i = 0; i < exchanges.size() && reset == exchanges.size(); ++i)
        if (Command(exchanges[i]) == protocol::DEFAULT_SETTING.command)
            reset = i;

    Verdict verdict;
    const bool sent = reset < exchanges.size();
    verdict.acknowledged = sent && Acknowledged(exchanges[reset]);
    verdict.reported = statusAfter == done &&
                       (statusBefore != done || (sent && SignalQueryAfter(exchanges, reset)));
    return verdict;
}
