#include "cli/Usage.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>
#include "cli/Remote.h"
#include "core/ProtocolRules.h"
#include "options/OptionRules.h"
#include "res/Version.h"

using namespace protocol;

namespace {

// What each command does, for the list of commands in the help; in the order of Command.
constexpr const char* COMMAND_HELP[] = {
    "unit ID, input source, signal and firmware of each monitor",
    "switch each monitor to IN: HDMI1, HDMI2, HDMI3 or VGA (any case)",
    "restore the defaults, wait for a signal, then read the four values again",
    "start the diagnostic mode",
    "the unit IDs that answer on each line: 1-9, or those of --ids",
};

constexpr int HIGHEST_UNIT = 255;

std::string Seconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000);
    return text;
}

std::string Footer() {
    std::string text = R"(
TARGET is a serial line (on Linux a device such as /dev/ttyUSB0, on Windows COM1, COM2 ...) or a
serial device server in raw TCP mode, tcp:HOST:PORT. All targets run at once, each on its own
line, so a call takes about as long as its slowest target; the results print in the order given.

How long a command takes on a monitor that answers:
)";
    // Each operation's floor from the core, with the unit-ID query first and with --unit.
    auto row = [](const char* name, double (*floorMs)(bool withUnitQuery)) {
        return "  " + std::string(name) + std::string(12 - std::strlen(name), ' ') + "about " +
               Seconds(floorMs(true)) + " (" + Seconds(floorMs(false)) + " with --unit)";
    };
    text += row("status", StatusFloorMs) + "\n";
    text += row("source", SwitchFloorMs) + "\n";
    text += row("reset", ResetFloorMs) + ", " + Seconds(ExchangeFloorMs()) +
            " more for each further signal poll (" + std::to_string(SIGNAL_POLLS) +
            " polls at most)\n";
    text += row("diagnostic", DiagnosticFloorMs) + "\n";
    text += "  scan        about " + Seconds(ExchangeFloorMs()) +
            " for each unit ID that answers, " + Seconds(SilentProbeMs()) +
            " for each that does not\n";
    text += R"(
These are the paced times: every exchange waits its fixed times, which are what a monitor may
need at the most. With --fast an exchange takes what the answer takes, a few milliseconds on a
prompt monitor, and never longer than the paced one (status about 0.05 s); the monitor's own waits
stay (the switch's, the reset's settling, the diagnostic's pauses). Leave --fast off for a monitor
or a converter that needs a pause between commands.

A daisy chain (several monitors on one line) needs --unit N: without it every command asks the
unit ID at address "0", where all the monitors of the chain answer at once, and stops with
several-answers. scan lists the units of a chain.

Through kelvaned: where kelvaned holds the lines (it holds each line and device server alone),
give --server URL (or KELVANE_SERVER) and name the monitors as its configuration does, or @GROUP
for each monitor of a group. status then shows kelvaned's last poll; the operations run on its
lines and answer as here. --unit and --fast belong to kelvaned's configuration, and
scan needs the line itself. An operation needs kelvaned's token when it has one: --token-file
FILE (or KELVANE_TOKEN_FILE), a file that neither others nor the group may write or others read;
its first line is TOKEN or LABEL TOKEN. https:// URLs are verified against the system's
certificates, or those of --ca-file.

"Permission denied" on a serial line: add the user to the dialout group
(sudo usermod -aG dialout USER), then log out and in again.

Exit status: 0 every target succeeded; 1 a monitor failed (no answer, a refusal, a failed write,
several answers; through kelvaned also a line too busy); 2 a usage error (nothing was opened or
sent); 3 a line could not be opened or set up, or through kelvaned: kelvaned cannot be reached,
refuses the token, or knows no such monitor or group (wins over 1); 130 Ctrl-C (wins over 1 and
3): finished targets print as usual, the others as "interrupted", and a second Ctrl-C ends the
program at once (an operation kelvaned runs goes on there).)";
    return text;
}

// A whole number, as the console programs read one.
CLI::Validator Decimal() {
    return CLI::Validator(options::ReadDecimal, "");
}

const CLI::Range UNIT_IDS(0, HIGHEST_UNIT);

// "A-B": two unit IDs, the first not above the second; written back as "A B" for CLI11 to read
// as a pair.
CLI::Validator IdRange() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const size_t dash = text.find('-');
            if (dash == std::string::npos)
                return "wants a range A-B such as 1-9, not \"" + text + "\"";
            std::string first = text.substr(0, dash);
            std::string last = text.substr(dash + 1);
            for (std::string* id : {&first, &last}) {
                std::string error = options::ReadDecimal(*id);
                if (error.empty())
                    error = UNIT_IDS(*id);
                if (!error.empty())
                    return error;
            }
            if (std::stoi(first) > std::stoi(last))
                return "the first unit ID comes first, as in 1-9";
            text = first + " " + last;
            return "";
        },
        "");
}

// kelvaned's address: an http:// or https:// URL with a host; its closing "/" is dropped.
CLI::Validator ServerUrl() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::string lower = [&] {
                std::string l = text.substr(0, 8);
                std::transform(l.begin(), l.end(), l.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                return l;
            }();
            const size_t scheme = lower.rfind("http://", 0) == 0    ? 7
                                  : lower.rfind("https://", 0) == 0 ? 8
                                                                    : 0;
            while (text.size() > scheme && text.back() == '/')
                text.pop_back();
            if (scheme == 0 || text.size() == scheme)
                return "wants kelvaned's URL, http://HOST:PORT or https://HOST:PORT, not \"" +
                       text + "\"";
            return "";
        },
        "");
}

std::vector<std::string> SourceNames() {
    std::vector<std::string> names;
    for (const InputSource& source : SOURCES)
        names.emplace_back(source.name);
    return names;
}

std::vector<std::string> CommandNames() {
    return {std::begin(COMMAND_NAMES), std::end(COMMAND_NAMES)};
}

// The reason of a usage error, in one line.
std::string Reason(const CLI::Error& error, const std::vector<std::string>& args) {
    const std::vector<std::string> names = CommandNames();
    const bool knownCommand = std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
        return std::find(names.begin(), names.end(), arg) != names.end();
    });
    std::string reason = error.what();
    if (!knownCommand) {
        const auto first = std::find_if(args.begin(), args.end(), [](const std::string& arg) {
            return arg.empty() || arg[0] != '-';
        });
        reason = first == args.end()
                     ? "a command comes first: status, source, reset, diagnostic or scan"
                     : "unknown command \"" + *first + "\"";
    } else if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
        reason = std::find(args.begin(), args.end(), "scan") != args.end()
                     ? "--unit does not go with scan, which tries every unit of --ids"
                     : "--ids goes with scan alone";
    }
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    return reason;
}

} // namespace

Parsed ReadCommandLine(const std::vector<std::string>& args, Request& request,
                       std::vector<line::Target>& targets, Through& through, std::string& text) {
    CLI::App app("kelvanectl: display monitors on RS-232 lines and device servers, from a script",
                 "kelvanectl");
    // The options go anywhere after the command, and the parser takes them there (a script that
    // puts them first still works, but the help does not teach it).
    app.formatter(std::make_shared<options::UsageFormatter>(
        " COMMAND [IN] TARGET... [OPTIONS]\n"
        "       kelvanectl COMMAND [IN] MONITOR|@GROUP... --server URL [OPTIONS]\n"
        "       (the options go anywhere after the command)\n\n"));
    app.get_formatter()->label("SUBCOMMANDS", "COMMAND");
    app.get_formatter()->column_width(24);
    app.footer(Footer());
    app.require_subcommand(1, 1);
    app.set_help_flag("--help,-h", "this text");
    app.set_version_flag("--version", KELVANE_VERSION_TEXT, "the version");

    int unitId = 0;
    CLI::Option* unit =
        app.add_option("--unit", unitId,
                       "address unit N instead of asking the unit ID at address \"0\" first")
            ->type_name("N")
            ->transform(Decimal())
            ->check(UNIT_IDS);
    std::string ids;
    CLI::Option* idRange = app.add_option("--ids", ids, "the unit IDs scan tries (default 1-9)")
                               ->type_name("A-B:(within 0-255)")
                               ->transform(IdRange());
    app.add_flag("--json", request.json, "one JSON object per target and line");
    bool fast = false;
    CLI::Option* fastFlag =
        app.add_flag("--fast", fast,
                     "read each answer as it arrives instead of waiting the paced times (below)");
    through = Through{};
    app.add_option("--server", through.server,
                   "send the commands to kelvaned at URL instead of opening the lines (below)")
        ->type_name("URL")
        ->envname("KELVANE_SERVER")
        ->transform(ServerUrl());
    app.add_option("--token-file", through.tokenFile, "the file of kelvaned's token (below)")
        ->type_name("FILE")
        ->envname("KELVANE_TOKEN_FILE");
    app.add_option("--ca-file", through.caFile, "https: the certificates kelvaned's is signed by")
        ->type_name("FILE");

    std::string sourceName;
    for (size_t i = 0; i < std::size(COMMAND_NAMES); ++i) {
        CLI::App* command = app.add_subcommand(COMMAND_NAMES[i], COMMAND_HELP[i]);
        // The options belong to the whole command line, wherever they stand; one help for all.
        command->fallthrough();
        command->group("Commands");
        command->set_help_flag();
        if (static_cast<Command>(i) == Command::Source)
            command->add_option("IN", sourceName)
                ->required()
                ->transform(CLI::IsMember(SourceNames(), CLI::ignore_case));
        command->add_option("TARGET", request.targets)->required();
        if (static_cast<Command>(i) == Command::Scan)
            command->excludes(unit);
        else
            command->excludes(idRange);
        command->callback([&request, i] { request.command = static_cast<Command>(i); });
    }

    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::CallForHelp&) {
        text = app.get_formatter()->make_help(&app, "kelvanectl", CLI::AppFormatMode::Normal);
        return Parsed::Help;
    } catch (const CLI::CallForVersion&) {
        text = KELVANE_VERSION_TEXT;
        return Parsed::Version;
    } catch (const CLI::Error& e) {
        text = Reason(e, args);
        return Parsed::UsageError;
    }
    if (unit->count() != 0)
        request.unit = unitId;
    if (fast)
        request.timing = Timing::AnswerDriven;
    if (!ids.empty())
        std::istringstream(ids) >> request.firstId >> request.lastId;
    if (request.command == Command::Source)
        request.source = SourceByName(sourceName);

    targets.clear();
    if (through.Kelvaned()) {
        // What kelvaned's configuration holds; a scan needs the line that kelvaned holds.
        const char* refused = request.command == Command::Scan
                                  ? "scan needs the line itself: it does not go through kelvaned"
                              : unit->count() != 0 ? "--unit goes with a line: kelvaned's "
                                                     "configuration gives each monitor's unit"
                              : fastFlag->count() != 0
                                  ? "--fast goes with a line: kelvaned's configuration gives its "
                                    "timing"
                                  : nullptr;
        if (refused != nullptr) {
            text = refused;
            return Parsed::UsageError;
        }
        for (size_t i = 0; i < request.targets.size(); ++i) {
            const std::string& name = request.targets[i];
            if (name.empty() || name == std::string(1, GROUP_PREFIX)) {
                text = "TARGET: a monitor's name, or @ and a group's name";
                return Parsed::UsageError;
            }
            if (std::find(request.targets.begin(), request.targets.begin() + i, name) !=
                request.targets.begin() + i) {
                text = "\"" + name + "\" is given twice";
                return Parsed::UsageError;
            }
        }
        text.clear();
        return Parsed::Run;
    }
    for (const std::string& name : request.targets) {
        line::Target target;
        if (!line::ParseTarget(name, target, text)) {
            text = "TARGET: \"" + name + "\": " + text;
            return Parsed::UsageError;
        }
        for (const line::Target& earlier : targets) {
            if (line::SameLine(earlier, target)) {
                text = "\"" + name + "\" is the line of \"" + earlier.text + "\" again";
                return Parsed::UsageError;
            }
        }
        targets.push_back(target);
    }
    text.clear();
    return Parsed::Run;
}
