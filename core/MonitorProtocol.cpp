// The monitor protocol over one line: the exchange, the queries and the longer operations.
#include "core/MonitorProtocol.h"
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

} // namespace

Exchange MonitorProtocol::Transact(const CommandFrame& frame, bool readData) {
    Exchange exchange;
    // Whatever waits on the line (a stale answer, an acknowledge never read) must not be taken
    // for this frame's answer.
    m_line.Drain();
    if (!m_line.WriteFrame(frame)) {
        exchange.result = CMD_SEND_FAILED;
        return exchange;
    }
    m_clock.Sleep(ANSWER_WAIT_MS);

    // A data byte that does not come stays 0; only the acknowledge decides the result.
    if (readData)
        ReadData(exchange, QUERY_DATA_BYTES);
    if (IsFirmwareCommand(frame)) {
        ReadData(exchange, FIRMWARE_DATA_BYTES);
        // A refused "FV" query answers "?" instead of its data, and no acknowledge follows.
        if (exchange.data[0] == REFUSAL_BYTE) {
            exchange.result = CMD_NAK;
            return exchange;
        }
    }
    exchange.result = ReadAcknowledge(exchange);
    return exchange;
}

void MonitorProtocol::ReadData(Exchange& exchange, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        exchange.data[i] = 0;
        if (m_line.ReadByte(&exchange.data[i]) == MonitorLine::READ_BYTE)
            ++exchange.received;
        else
            exchange.data[i] = 0;
    }
    exchange.dataRead = count;
}

CommandResult MonitorProtocol::ReadAcknowledge(Exchange& exchange) {
    std::uint8_t& ack = exchange.ack;
    switch (m_line.ReadByte(&ack)) {
    case MonitorLine::READ_BYTE:
        ++exchange.received;
        return AcknowledgeOf(ack);
    case MonitorLine::READ_FAILED:
        return CMD_LINK_ERROR;
    default:
        break;
    }
    m_clock.Sleep(LATE_ACK_WAIT_MS);
    // A late answer counts as a prompt one would: a late refusal is still a refusal, and a read
    // that fails now is no acknowledge at all.
    if (m_line.ReadByte(&ack) != MonitorLine::READ_BYTE) {
        ack = 0;
        return CMD_LINK_ERROR;
    }
    ++exchange.received;
    return AcknowledgeOf(ack);
}

UnitIdReading MonitorProtocol::ReadUnitId() {
    const Exchange exchange = Transact(UNIT_ID_QUERY.For(ANY_UNIT_ADDRESS), true);
    return {exchange.result, Answered(exchange.result) ? UnitIdOf(exchange.data) : 0};
}

SourceReading MonitorProtocol::ReadSource(char address) {
    const Exchange exchange = Transact(SOURCE_QUERY.For(address), true);
    return {exchange.result, Answered(exchange.result) ? SourceOf(exchange.data) : -1};
}

SignalReading MonitorProtocol::ReadSignal(char address) {
    const Exchange exchange = Transact(SIGNAL_QUERY.For(address), true);
    return {exchange.result, DataIs(exchange.data, SIGNAL_OK)};
}

FirmwareReading MonitorProtocol::ReadFirmware(char address) {
    // The exchange reads the six data bytes of an "FV" command by itself.
    const Exchange exchange = Transact(FIRMWARE_QUERY.For(address), false);
    return {exchange.result, exchange.result == CMD_ACK ? FirmwareOf(exchange.data) : ""};
}

CommandResult MonitorProtocol::Ask(Query query, char address, MonitorStatus& status) {
    CommandResult result = CMD_ACK;
    switch (query) {
    case Query::UnitId: {
        const UnitIdReading reading = ReadUnitId();
        result = reading.result;
        if (Answered(result))
            status.unit = reading.unitId;
        break;
    }
    case Query::Source: {
        const SourceReading reading = ReadSource(address);
        result = reading.result;
        if (Answered(result) && reading.source >= 0)
            status.source = reading.source;
        break;
    }
    case Query::Signal: {
        const SignalReading reading = ReadSignal(address);
        result = reading.result;
        if (Answered(result))
            status.signal = reading.signal;
        break;
    }
    case Query::Firmware: {
        const FirmwareReading reading = ReadFirmware(address);
        result = reading.result;
        if (result == CMD_ACK)
            status.firmware = reading.version;
        // A monitor without the query refuses it: its firmware is unknown, nothing failed.
        status.firmwareRefused = result == CMD_NAK;
        break;
    }
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
    if (!unit && !Answered(Ask(Query::UnitId, ANY_UNIT_ADDRESS, status)))
        return status;
    const char address = AddressOf(status.unit);
    for (Query query : CONNECT_QUERIES) {
        if (query == Query::UnitId)
            continue;
        const CommandResult result = Ask(query, address, status);
        // What follows a frame that could not be written would fail the same way.
        if (result == CMD_SEND_FAILED || (stopAtFailure && !status.Answered()))
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
