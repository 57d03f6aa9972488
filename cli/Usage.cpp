#include "cli/Usage.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>

const char* const USAGE =
    R"(usage: kelvanectl COMMAND [OPTIONS] TARGET...

  status       TARGET...  unit ID, input source, signal and firmware of each monitor
  source IN    TARGET...  switch to IN: HDMI1, HDMI2, HDMI3 or VGA (any case)
  reset        TARGET...  restore the defaults, then read the four values again
  diagnostic   TARGET...  start the diagnostic mode
  scan         TARGET...  the unit IDs that answer on each line

TARGET is a serial line (on Linux a device such as /dev/ttyUSB0, on Windows COM1, COM2 ...) or
a serial device server in raw TCP mode, tcp:HOST:PORT. All targets run at once, each on its own
line; the results come in the order given.

options (anywhere after the command):
  --unit N    address unit N (0-255) instead of asking the unit ID at address "0" first
  --ids A-B   the unit IDs scan tries, within 0-255 (default 1-9)
  --json      one JSON object per target and line
  --help      this text
  --version   the version

exit status: 0 every target succeeded, 1 a monitor failed (no answer, refusal, a failed write),
2 a usage error (nothing was opened or sent), 3 a line could not be opened or set up (wins over
1), 130 Ctrl-C.
)";

namespace {

// A whole number within low and high, nothing else.
bool Number(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 3 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

bool ReadIds(const std::string& text, Request& request, std::string& error) {
    const size_t dash = text.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string::npos || !Number(text.substr(0, dash), 0, 255, first) ||
        !Number(text.substr(dash + 1), 0, 255, last) || first > last) {
        error = "--ids wants a range A-B within 0-255, such as 1-9, not \"" + text + "\"";
        return false;
    }
    request.firstId = first;
    request.lastId = last;
    return true;
}

} // namespace

Parsed ReadCommandLine(const std::vector<std::string>& args, Request& request,
                       std::vector<line::Target>& targets, std::string& error) {
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h")
            return Parsed::Help;
        if (arg == "--version")
            return Parsed::Version;
    }

    CLI::App app("kelvanectl");
    app.set_help_flag();
    app.require_subcommand(1, 1);
    std::string unit;
    std::string ids;
    app.add_option("--unit", unit);
    app.add_option("--ids", ids);
    app.add_flag("--json", request.json);

    std::string sourceName;
    for (const char* name : COMMAND_NAMES) {
        CLI::App* command = app.add_subcommand(name);
        // The options belong to the whole command line, wherever they stand.
        command->fallthrough();
        if (std::string(name) == "source")
            command->add_option("IN", sourceName)->required();
        command->add_option("TARGET", request.targets)->required();
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        if (args.empty() || args[0].rfind("-", 0) == 0)
            error = "a command comes first: status, source, reset, diagnostic or scan";
        else if (std::find(std::begin(COMMAND_NAMES), std::end(COMMAND_NAMES), args[0]) ==
                 std::end(COMMAND_NAMES))
            error = "unknown command \"" + args[0] + "\"";
        else if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr)
            error = args[0] + " needs " + (args[0] == "source" ? "a source and " : "") +
                    "at least one TARGET";
        else
            error = e.what();
        return Parsed::UsageError;
    }
    const std::string command = app.get_subcommands().front()->get_name();
    request.command = static_cast<Command>(
        std::find(std::begin(COMMAND_NAMES), std::end(COMMAND_NAMES), command) -
        std::begin(COMMAND_NAMES));

    if (request.command == Command::Source) {
        request.source = protocol::SourceByName(sourceName);
        if (request.source < 0) {
            error = "the source is HDMI1, HDMI2, HDMI3 or VGA, not \"" + sourceName + "\"";
            return Parsed::UsageError;
        }
    }
    if (!unit.empty()) {
        int value = 0;
        if (!Number(unit, 0, 255, value)) {
            error = "--unit wants a unit ID from 0 to 255, not \"" + unit + "\"";
            return Parsed::UsageError;
        }
        if (request.command == Command::Scan) {
            error = "--unit does not go with scan, which tries every unit of --ids";
            return Parsed::UsageError;
        }
        request.unit = value;
    }
    if (!ids.empty()) {
        if (request.command != Command::Scan) {
            error = "--ids goes with scan";
            return Parsed::UsageError;
        }
        if (!ReadIds(ids, request, error))
            return Parsed::UsageError;
    }

    targets.clear();
    for (const std::string& text : request.targets) {
        line::Target target;
        if (!line::ParseTarget(text, target, error)) {
            error = "\"" + text + "\": " + error;
            return Parsed::UsageError;
        }
        for (const line::Target& earlier : targets) {
            if (line::SameLine(earlier, target)) {
                error = "\"" + text + "\" is the line of \"" + earlier.text + "\" again";
                return Parsed::UsageError;
            }
        }
        targets.push_back(target);
    }
    return Parsed::Run;
}
