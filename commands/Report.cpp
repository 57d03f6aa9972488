#include "commands/Report.h"
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

// The length of the well-formed UTF-8 sequence at text[i] when it encodes a printable character
// beyond ASCII (U+00A0 and up: no C1 control, no surrogate, no overlong form, nothing above
// U+10FFFF); 0 otherwise.
size_t PrintableSequence(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    unsigned long point = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    constexpr unsigned long SHORTEST[] = {0, 0, 0xA0, 0x800, 0x10000};
    const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
    return point >= SHORTEST[length] && point <= 0x10FFFF && !surrogate ? length : 0;
}

// What the text report shows of a text from the monitor, the command line or the system: printable
// characters as they are, any other byte (a control, a stray byte) as <xx>, so that nothing sent
// to the terminal can move its cursor or garble the line.
std::string Shown(std::string_view text) {
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const size_t length = byte >= 0x20 && byte < 0x7F ? 1 : PrintableSequence(text, i);
        if (length != 0) {
            shown.append(text, i, length);
            i += length;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02x>", byte);
            shown += hex;
            ++i;
        }
    }
    return shown;
}

// The text as a JSON string that any dump takes.
Json CleanString(const std::string& text) {
    return ValidUtf8(text);
}

std::string UnitsText(const std::vector<int>& units) {
    std::string text = units.size() == 1 ? "unit" : "units";
    for (size_t i = 0; i < units.size(); ++i)
        text += (i == 0 ? " " : ", ") + std::to_string(units[i]);
    return text + " answered";
}

std::string Values(Command command, const Outcome& o) {
    auto unknown = [](bool known, const std::string& value) {
        return known ? value : "?";
    };
    const std::string unit = unknown(o.unit.has_value(), o.unit ? std::to_string(*o.unit) : "");
    const std::string source =
        unknown(o.source.has_value(), o.source ? protocol::SourceName(*o.source) : "");
    const std::string signal =
        unknown(o.signal.has_value(), protocol::SignalName(o.signal.value_or(false)));
    const std::string firmware =
        o.firmwareRefused ? "refused"
                          : unknown(o.firmware.has_value(), Shown(o.firmware.value_or("")));
    switch (command) {
    case Command::Status:
        return "unit " + unit + ", source " + source + ", signal " + signal + ", firmware " +
               firmware;
    case Command::Source:
        return "switched to " + source + ", signal " + signal;
    case Command::Reset:
        return "defaults restored; unit " + unit + ", source " + source + ", signal " + signal +
               ", firmware " + firmware;
    case Command::Diagnostic:
        return "diagnostic mode started on unit " + unit;
    case Command::Scan:
        return UnitsText(o.units);
    }
    return "";
}

// The values a failed command had read before it failed, each only when known.
std::string ValuesRead(Command command, const Outcome& o) {
    std::vector<std::string> known;
    if (o.unit)
        known.push_back("unit " + std::to_string(*o.unit));
    if (o.source)
        known.push_back((command == Command::Source ? "switched to " : "source ") +
                        std::string(protocol::SourceName(*o.source)));
    if (o.signal)
        known.push_back(std::string("signal ") + protocol::SignalName(*o.signal));
    if (o.firmware)
        known.push_back("firmware " + Shown(*o.firmware));
    else if (o.firmwareRefused)
        known.push_back("firmware refused");
    if (!o.units.empty())
        known.push_back(UnitsText(o.units));
    std::string text;
    for (const std::string& value : known)
        text += (text.empty() ? "" : ", ") + value;
    return text;
}

Json Nullable(bool known, Json value) {
    return known ? std::move(value) : Json(nullptr);
}

} // namespace

std::string ValidUtf8(const std::string& text) {
    // nlohmann-json's own strict reading of UTF-8 replaces each ill-formed byte with U+FFFD.
    const std::string dumped = Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
    return Json::parse(dumped).get<std::string>();
}

std::string TextReport(const std::string& target, Command command, const Outcome& outcome) {
    const std::string name = Shown(target);
    if (outcome.ok())
        return name + ": " + Values(command, outcome);
    const std::string read = ValuesRead(command, outcome);
    return name + ": error: " + Shown(outcome.message) + (read.empty() ? "" : " (" + read + ")");
}

Json ReportJson(const std::string& target, Command command, const Outcome& o) {
    Json json;
    json["target"] = CleanString(target);
    json["command"] = CommandName(command);
    json["ok"] = o.ok();
    json["error"] = Nullable(!o.ok(), protocol::FailureName(o.error));
    json["message"] = Nullable(!o.ok(), CleanString(o.message));
    const Json unit = Nullable(o.unit.has_value(), o.unit.value_or(0));
    const Json source = Nullable(o.source.has_value(), protocol::SourceName(o.source.value_or(-1)));
    const Json signal =
        Nullable(o.signal.has_value(), protocol::SignalName(o.signal.value_or(false)));
    switch (command) {
    case Command::Status:
    case Command::Reset:
        json["unit"] = unit;
        json["source"] = source;
        json["signal"] = signal;
        json["firmware"] = Nullable(o.firmware.has_value(), CleanString(o.firmware.value_or("")));
        break;
    case Command::Source:
        json["unit"] = unit;
        json["source"] = source;
        json["signal"] = signal;
        break;
    case Command::Diagnostic:
        json["unit"] = unit;
        json["step"] = Nullable(o.step != 0, o.step);
        break;
    case Command::Scan:
        json["units"] = o.units;
        break;
    }
    return json;
}

std::string JsonReport(const std::string& target, Command command, const Outcome& outcome) {
    return ReportJson(target, command, outcome).dump();
}
