#include "commands/Report.h"
#include <cstdio>

namespace {

// Valid UTF-8 stays as it is; a byte that is not part of it (a monitor's stray byte, a device
// name in another encoding) becomes U+FFFD.
std::string Utf8Only(const std::string& text) {
    std::string clean;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = c < 0x80           ? 1
                              : (c >> 5) == 0x6  ? 2
                              : (c >> 4) == 0xE  ? 3
                              : (c >> 3) == 0x1E ? 4
                                                 : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 0x2;
        if (valid) {
            clean.append(text, i, length);
            i += length;
        } else {
            clean += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return clean;
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : Utf8Only(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// What the text report shows of a byte the monitor sent: printable ASCII, or <xx>.
std::string Shown(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02x>", byte);
            shown += hex;
        }
    }
    return shown;
}

std::string Values(Command command, const Outcome& o) {
    auto unknown = [](bool known, const std::string& value) {
        return known ? value : "?";
    };
    const std::string unit = unknown(o.unit.has_value(), o.unit ? std::to_string(*o.unit) : "");
    const std::string source =
        unknown(o.source.has_value(), o.source ? protocol::SourceName(*o.source) : "");
    const std::string signal = unknown(o.signal.has_value(), o.signal && *o.signal ? "ok" : "none");
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
    case Command::Scan: {
        std::string units = o.units.size() == 1 ? "unit" : "units";
        for (size_t i = 0; i < o.units.size(); ++i)
            units += (i == 0 ? " " : ", ") + std::to_string(o.units[i]);
        return units + " answered";
    }
    }
    return "";
}

} // namespace

std::string TextReport(const std::string& target, Command command, const Outcome& outcome) {
    const std::string name = Shown(target);
    if (!outcome.ok())
        return name + ": error: " + outcome.message;
    return name + ": " + Values(command, outcome);
}

std::string JsonReport(const std::string& target, Command command, const Outcome& o) {
    std::string json = "{\"target\":" + JsonString(target) + ",\"command\":\"" +
                       CommandName(command) + "\",\"ok\":" + (o.ok() ? "true" : "false") +
                       ",\"error\":" + (o.ok() ? "null" : JsonString(o.error)) +
                       ",\"message\":" + (o.ok() ? "null" : JsonString(o.message));
    auto field = [&json](const char* key, const std::string& value) {
        json += std::string(",\"") + key + "\":" + value;
    };
    const std::string unit = o.unit ? std::to_string(*o.unit) : "null";
    const std::string source =
        o.source ? std::string("\"") + protocol::SourceName(*o.source) + "\"" : "null";
    const std::string signal = o.signal ? (*o.signal ? "\"ok\"" : "\"none\"") : "null";
    const std::string firmware = o.firmware ? JsonString(*o.firmware) : "null";
    switch (command) {
    case Command::Status:
    case Command::Reset:
        field("unit", unit);
        field("source", source);
        field("signal", signal);
        field("firmware", firmware);
        break;
    case Command::Source:
        field("unit", unit);
        field("source", source);
        field("signal", signal);
        break;
    case Command::Diagnostic:
        field("unit", unit);
        field("step", o.step != 0 ? std::to_string(o.step) : "null");
        break;
    case Command::Scan: {
        std::string units = "[";
        for (size_t i = 0; i < o.units.size(); ++i)
            units += (i == 0 ? "" : ",") + std::to_string(o.units[i]);
        field("units", units + "]");
        break;
    }
    }
    return json + "}";
}
