// The monitor protocol over one line: the exchange, the queries and the longer operations.
#include "core/MonitorProtocol.h"
#include <algorithm>
#include <cstring>
#include <iterator>

using namespace protocol;

namespace {

bool IsBlank(std::uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool DataIs(const std::uint8_t (&data)[6], const char* code) {
    return std::memcmp(data, code, 3) == 0;
}

// The three data bytes as a decimal number: blanks first, a sign, then digits up to the first
// other byte; no digits give 0.
int UnitIdOf(const std::uint8_t (&data)[6]) {
    size_t i = 0;
    while (i < 3 && IsBlank(data[i]))
        ++i;
    bool negative = false;
    if (i < 3 && (data[i] == '+' || data[i] == '-'))
        negative = data[i++] == '-';
    int number = 0;
    for (; i < 3 && data[i] >= '0' && data[i] <= '9'; ++i)
        number = number * 10 + (data[i] - '0');
    return negative ? -number : number;
}

int SourceOf(const std::uint8_t (&data)[6]) {
    return SourceByCode(std::string_view(reinterpret_cast<const char*>(data), 3));
}

// Data bytes 2 to 5 carry the version; a byte that did not come ends it early.
std::string FirmwareOf(const std::uint8_t (&data)[6]) {
    std::string version;
    for (size_t i = 2; i < 6 && data[i] != 0; ++i)
        version += static_cast<char>(data[i]);
    return version;
}

bool IsFirmwareCommand(const CommandFrame& frame) {
    return DataBytes(std::string_view(frame.command, 3)) == FIRMWARE_DATA_BYTES;
}

bool AllOf(const std::uint8_t (&data)[6], bool (*fits)(std::uint8_t)) {
    return std::all_of(data, data + QUERY_DATA_BYTES, fits);
}

// Whether the data bytes are what the frame's query answers: a unit ID's three characters as
// UnitIdOf reads them (digits, blanks, a sign), a source's code of three capitals or digits, the
// signal's "SOK" or "NOS", "FV" before the firmware's version. A command has none to judge.
bool DataFitQuery(const CommandFrame& frame, const std::uint8_t (&data)[6]) {
    const std::string_view command(frame.command, 3);
    if (command == UNIT_ID_QUERY.command)
        return AllOf(data, [](std::uint8_t c) {
            return IsBlank(c) || c == '+' || c == '-' || (c >= '0' && c <= '9');
        });
    if (command == SOURCE_QUERY.command)
        return AllOf(
            data, [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
    if (command == SIGNAL_QUERY.command)
        return DataIs(data, SIGNAL_OK) || DataIs(data, NO_SIGNAL);
    if (IsFirmwareCommand(frame))
        return data[0] == 'F' && data[1] == 'V';
    return true;
}

} // namespace

Exchange MonitorProtocol::Transact(const CommandFrame& frame, bool readData) {
    Exchange exchange;
    DrainBeforeFrame();
    m_answerComplete = false;
    if (!m_line.WriteFrame(frame)) {
        exchange.result = CMD_SEND_FAILED;
        return exchange;
    }
    WaitForAnswer();
    // A refused "FV" query answers with its "?" alone: its answer is awaited a byte at first.
    AwaitAnswer(IsFirmwareCommand(frame) ? 1 : (readData ? QUERY_DATA_BYTES : 0) + 1);

    // A data byte that does not come stays 0; only the acknowledge decides the result.
    if (readData)
        ReadData(exchange, QUERY_DATA_BYTES);
    if (IsFirmwareCommand(frame)) {
        ReadData(exchange, FIRMWARE_DATA_BYTES);
        // A refused "FV" query answers "?" instead of its data, and no acknowledge follows.
        if (exchange.data[0] == REFUSAL_BYTE) {
            exchange.result = CMD_NAK;
            m_answerComplete = true;
            return exchange;
        }
    }
    exchange.result = ReadAcknowledge(exchange);
    m_answerComplete = exchange.received == exchange.dataRead + 1;
    exchange.severalAnswers = SeveralAnswers(frame, exchange);
    return exchange;
}

// Only a whole answer is judged: one that did not come, or not wholly, is no answer whoever sent
// it. A byte more after it is another monitor's; it is taken off the line, so the next exchange
// drains in full.
bool MonitorProtocol::SeveralAnswers(const CommandFrame& frame, const Exchange& exchange) {
    if (m_atZero != AnswersAtZero::Checked || frame.address != ANY_UNIT_ADDRESS ||
        !m_answerComplete)
        return false;
    if ((exchange.ack != ACK_BYTE && exchange.ack != REFUSAL_BYTE) ||
        (exchange.dataRead != 0 && !DataFitQuery(frame, exchange.data)))
        return true;
    std::uint8_t more = 0;
    if (m_line.ReadByteWithin(&more, QUIET_CHECK_MS) != MonitorLine::READ_BYTE)
        return false;
    m_answerComplete = false;
    return true;
}

void MonitorProtocol::DrainBeforeFrame() {
    // Whatever waits on the line (a stale answer, an acknowledge never read) must not be taken
    // for this frame's answer.
    if (m_timing == Timing::Paced || !m_answerComplete) {
        m_line.Drain();
        return;
    }
    // After a complete answer, or on a line just opened, nothing is owed to the line: what could
    // be stale is a byte waiting already or one still on its way, a few character times behind.
    // A byte found there calls for the whole drain after all.
    std::uint8_t stale = 0;
    if (m_line.ReadByteWithin(&stale, QUIET_CHECK_MS) == MonitorLine::READ_BYTE)
        m_line.Drain();
}

void MonitorProtocol::WaitForAnswer() {
    if (m_timing == Timing::Paced)
        m_clock.Sleep(ANSWER_WAIT_MS);
    else
        m_readFrom = m_clock.NowMs() + ANSWER_WAIT_MS;
}

// Answer-driven, the answer's reads begin when its bytes are all on the line, or at the latest
// when the paced exchange begins reading. Every byte there by then is one the paced exchange
// finds waiting at its first read, and the reads' time-outs count from no later than then either
// way: what is read does not change, only how often the line wakes for it.
void MonitorProtocol::AwaitAnswer(std::size_t count) {
    if (m_timing == Timing::Paced)
        return;
    const std::uint64_t now = m_clock.NowMs();
    if (now < m_readFrom)
        m_line.AwaitBytes(count, std::uint32_t(m_readFrom - now));
}

void MonitorProtocol::WaitForLateAnswer() {
    if (m_timing == Timing::Paced)
        m_clock.Sleep(LATE_ACK_WAIT_MS);
    else
        m_readFrom += LATE_ACK_WAIT_MS;
}

// Paced, a read waits the read time-out from whenever it starts. Answer-driven, the read ends at
// the byte and gives up when the paced read in its place would: m_readFrom is when the paced
// exchange starts that read. Its reads start after the answer wait, each where the one before
// ended (at the byte, or its time-out), and after the late wait; so the answer-driven exchange
// takes exactly the bytes the paced one takes, only sooner.
MonitorLine::ReadResult MonitorProtocol::ReadAnswerByte(std::uint8_t& byte) {
    if (m_timing == Timing::Paced)
        return m_line.ReadByte(&byte);
    const std::uint64_t giveUp = m_readFrom + READ_TIMEOUT_MS;
    MonitorLine::ReadResult result = MonitorLine::READ_NOTHING;
    std::uint64_t now = m_clock.NowMs();
    // A read that starts late still takes a byte that is waiting, as the paced read would.
    do {
        result = m_line.ReadByteWithin(&byte, now < giveUp ? std::uint32_t(giveUp - now) : 0);
        now = m_clock.NowMs();
    } while (result == MonitorLine::READ_NOTHING && now < giveUp);
    if (result == MonitorLine::READ_BYTE)
        m_readFrom = std::max(m_readFrom, now);
    else if (result == MonitorLine::READ_NOTHING)
        m_readFrom = giveUp;
    return result;
}

void MonitorProtocol::ReadData(Exchange& exchange, unsigned count) {
    exchange.dataRead = count;
    for (unsigned i = 0; i < count; ++i) {
        exchange.data[i] = 0;
        if (ReadAnswerByte(exchange.data[i]) == MonitorLine::READ_BYTE)
            ++exchange.received;
        else
            exchange.data[i] = 0;
        // The answer to a refused "FV" query ends at its "?" for a reader that goes by the bytes.
        if (i == 0 && count == FIRMWARE_DATA_BYTES && m_timing == Timing::AnswerDriven) {
            if (exchange.data[0] == REFUSAL_BYTE)
                return;
            AwaitAnswer(FIRMWARE_DATA_BYTES); // the other five and the acknowledge
        }
    }
}

CommandResult MonitorProtocol::ReadAcknowledge(Exchange& exchange) {
    std::uint8_t& ack = exchange.ack;
    switch (ReadAnswerByte(ack)) {
    case MonitorLine::READ_BYTE:
        ++exchange.received;
        return AcknowledgeOf(ack);
    case MonitorLine::READ_FAILED:
        return CMD_LINK_ERROR;
    default:
        break;
    }
    WaitForLateAnswer();
    // A late answer counts as a prompt one would: a late refusal is still a refusal, and a read
    // that fails now is no acknowledge at all.
    if (ReadAnswerByte(ack) != MonitorLine::READ_BYTE) {
        ack = 0;
        return CMD_LINK_ERROR;
    }
    ++exchange.received;
    return AcknowledgeOf(ack);
}

UnitIdReading MonitorProtocol::ReadUnitId() {
    const Exchange exchange = Transact(CodeOf(Query::UnitId).For(ANY_UNIT_ADDRESS), true);
    return {exchange.result, Answered(exchange.result) ? UnitIdOf(exchange.data) : 0,
            exchange.severalAnswers};
}

SourceReading MonitorProtocol::ReadSource(char address) {
    const Exchange exchange = Transact(CodeOf(Query::Source).For(address), true);
    return {exchange.result, Answered(exchange.result) ? SourceOf(exchange.data) : -1,
            exchange.severalAnswers};
}

SignalReading MonitorProtocol::ReadSignal(char address) {
    const Exchange exchange = Transact(CodeOf(Query::Signal).For(address), true);
    return {exchange.result, DataIs(exchange.data, SIGNAL_OK), exchange.severalAnswers};
}

FirmwareReading MonitorProtocol::ReadFirmware(char address) {
    // The exchange reads the six data bytes of an "FV" command by itself.
    const Exchange exchange = Transact(CodeOf(Query::Firmware).For(address), false);
    return {exchange.result, exchange.result == CMD_ACK ? FirmwareOf(exchange.data) : "",
            exchange.severalAnswers};
}

CommandResult MonitorProtocol::Ask(Query query, char address, MonitorStatus& status) {
    CommandResult result = CMD_ACK;
    bool several = false;
    switch (query) {
    case Query::UnitId: {
        const UnitIdReading reading = ReadUnitId();
        result = reading.result;
        several = reading.severalAnswers;
        if (Answered(result) && !several)
            status.unit = reading.unitId;
        break;
    }
    case Query::Source: {
        const SourceReading reading = ReadSource(address);
        result = reading.result;
        several = reading.severalAnswers;
        if (Answered(result) && !several && reading.source >= 0)
            status.source = reading.source;
        break;
    }
    case Query::Signal: {
        const SignalReading reading = ReadSignal(address);
        result = reading.result;
        several = reading.severalAnswers;
        if (Answered(result) && !several)
            status.signal = reading.signal;
        break;
    }
    case Query::Firmware: {
        const FirmwareReading reading = ReadFirmware(address);
        result = reading.result;
        several = reading.severalAnswers;
        if (result == CMD_ACK && !several)
            status.firmware = reading.version;
        // A monitor without the query refuses it: its firmware is unknown, nothing failed.
        status.firmwareRefused = result == CMD_NAK && !several;
        break;
    }
    }
    // What several monitors said at once is neither a value, a refusal nor a failure of one.
    if (several) {
        status.severalAnswers = true;
        return result;
    }
    if (result == CMD_NAK && query != Query::Firmware && status.refusal == CMD_ACK) {
        status.refusal = result;
        status.refusedQuery = query;
    }
    if (!Answered(result) && status.failure == CMD_ACK) {
        status.failure = result;
        status.failedQuery = query;
    }
    return result;
}

MonitorStatus MonitorProtocol::ReadStatus(std::optional<int> unit, bool stopAtFailure) {
    MonitorStatus status;
    status.unit = unit;
    if (!unit && (!Answered(Ask(Query::UnitId, ANY_UNIT_ADDRESS, status)) || status.severalAnswers))
        return status;
    const char address = AddressOf(status.unit);
    for (Query query : CONNECT_QUERIES) {
        if (query == Query::UnitId)
            continue;
        const CommandResult result = Ask(query, address, status);
        // What follows a frame that could not be written would fail the same way.
        if (result == CMD_SEND_FAILED || status.severalAnswers ||
            (stopAtFailure && !status.Answered()))
            break;
    }
    return status;
}

CommandResult MonitorProtocol::ProbeUnit(char address) {
    const Exchange exchange = Transact(SIGNAL_QUERY.For(address), true);
    if (exchange.result == CMD_SEND_FAILED)
        return CMD_SEND_FAILED;
    const bool whole = exchange.received == QUERY_DATA_BYTES + 1;
    return whole && (exchange.ack == ACK_BYTE || exchange.ack == REFUSAL_BYTE) ? CMD_ACK
                                                                               : CMD_LINK_ERROR;
}

SwitchOutcome MonitorProtocol::SwitchSource(char address, int source) {
    SwitchOutcome outcome;
    if (source < 0 || source >= SOURCE_COUNT)
        return outcome;
    const char* code = SOURCES[source].code;
    const CommandFrame frame = MakeFrame(address, SOURCE_SWITCH, {code[0], code[1], code[2], 0});
    outcome.first = outcome.result = Transact(frame, false).result;
    if (outcome.first == CMD_NAK) {
        m_clock.Sleep(RESEND_WAIT_MS);
        outcome.result = Transact(frame, false).result;
    }
    // A resend is answered like the first send: acknowledged, it is a switch like any other.
    if (outcome.Switched()) {
        m_clock.Sleep(SWITCH_WAIT_MS);
        outcome.signal = ReadSignal(address);
    }
    return outcome;
}

ResetOutcome MonitorProtocol::RestoreDefaults(char address,
                                              const std::function<bool(Query)>& reread) {
    ResetOutcome outcome;
    outcome.result = Transact(DEFAULT_SETTING.For(address), false).result;
    if (outcome.result != CMD_ACK)
        return outcome;
    // The polls' results are not consulted: one that fails counts as one of the polls.
    while (outcome.polls < SIGNAL_POLLS && !outcome.signal) {
        outcome.signal = ReadSignal(address).signal;
        ++outcome.polls;
    }
    m_clock.Sleep(SETTLE_WAIT_MS);
    for (Query query : RESET_REREADS)
        if (!reread(query))
            break;
    return outcome;
}

DiagnosticOutcome MonitorProtocol::StartDiagnostic(char address) {
    for (size_t i = 0; i < std::size(DIAGNOSTIC_FRAMES); ++i) {
        const DiagnosticFrame& step = DIAGNOSTIC_FRAMES[i];
        const CommandResult result = Transact(step.code.For(address), false).result;
        if (result != CMD_ACK)
            return {int(i) + 1, result};
        if (step.waitAfterMs != 0)
            m_clock.Sleep(step.waitAfterMs);
    }
    return {};
}
