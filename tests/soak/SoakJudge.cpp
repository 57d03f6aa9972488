#include "tests/soak/SoakJudge.h"

namespace {

// The waits of one transaction: the drain gives up after a second on a line that never falls
// quiet (and the read under way then ends too), the answer wait, a read per data byte and the
// acknowledge read, each waiting out its time, then the late-acknowledge wait and its read.
constexpr ULONGLONG DRAIN_LIMIT_MS = 1000;
constexpr ULONGLONG READ_MS = 100;
constexpr ULONGLONG ANSWER_WAIT_MS = 200;
constexpr ULONGLONG LATE_ACK_WAIT_MS = 500;

constexpr ULONGLONG Transaction(ULONGLONG dataReads) {
    return DRAIN_LIMIT_MS + READ_MS + ANSWER_WAIT_MS + READ_MS * dataReads + READ_MS +
           LATE_ACK_WAIT_MS + READ_MS;
}

constexpr ULONGLONG COMMAND = Transaction(0);
constexpr ULONGLONG QUERY = Transaction(3);
constexpr ULONGLONG FIRMWARE_QUERY = Transaction(6);

constexpr ULONGLONG RESEND_WAIT_MS = 2000;
constexpr ULONGLONG SWITCH_WAIT_MS = 3000;
constexpr ULONGLONG SIGNAL_POLLS = 5;
constexpr ULONGLONG AFTER_POLLS_WAIT_MS = 2500;
constexpr ULONGLONG AFTER_FRAME1_WAIT_MS = 2000;
constexpr ULONGLONG AFTER_FRAME2_WAIT_MS = 1000;

const wchar_t* const SOURCE_LABELS[] = {L"HDMI1", L"HDMI2", L"HDMI3", L"VGA"};
const char* const SOURCE_CODES[] = {"HD1", "HD2", "HD3", "VGA"};

std::string Command(const Exchange& exchange) {
    return exchange.frame.size() == 9 ? exchange.frame.substr(3, 3) : "";
}

bool Acknowledged(const Exchange& exchange) {
    return !exchange.answer.empty() && exchange.answer[0] == '!';
}

bool SignalQueryAfter(const std::vector<Exchange>& exchanges, size_t index) {
    for (size_t i = index + 1; i < exchanges.size(); ++i)
        if (Command(exchanges[i]) == "SIG")
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
        return QUERY * 3 + FIRMWARE_QUERY;
    case Operation::CheckSource:
    case Operation::CheckSignal:
    case Operation::CheckUnitId:
        return QUERY;
    case Operation::CheckFirmware:
        return FIRMWARE_QUERY;
    case Operation::ChangeSource:
        // A refused switch, the wait, the resend acknowledged, the wait and the signal query.
        return COMMAND + RESEND_WAIT_MS + COMMAND + SWITCH_WAIT_MS + QUERY;
    case Operation::DefaultSetting:
        return COMMAND + SIGNAL_POLLS * QUERY + AFTER_POLLS_WAIT_MS + QUERY * 3 + FIRMWARE_QUERY;
    case Operation::Diagnostic:
        return COMMAND * 3 + AFTER_FRAME1_WAIT_MS + AFTER_FRAME2_WAIT_MS;
    case Operation::Exit:
        return DRAIN_LIMIT_MS + READ_MS;
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
                exchanges.back().fault.rfind("late ", 0) == 0)
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
    const std::wstring success = std::wstring(L"Input source has been changed successfully. (") +
                                 SOURCE_LABELS[source] + L")";
    size_t last = exchanges.size();
    for (size_t i = 0; i < exchanges.size(); ++i)
        if (Command(exchanges[i]) == "SSS")
            last = i;

    Verdict verdict;
    const bool sent = last < exchanges.size();
    verdict.acknowledged = sent && exchanges[last].frame.substr(6) == SOURCE_CODES[source] &&
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
        if (Command(exchanges[i]) == "DSS")
            reset = i;

    Verdict verdict;
    const bool sent = reset < exchanges.size();
    verdict.acknowledged = sent && Acknowledged(exchanges[reset]);
    verdict.reported = statusAfter == done &&
                       (statusBefore != done || (sent && SignalQueryAfter(exchanges, reset)));
    return verdict;
}
