#include "Options.h"

#include "Console.h"
#include "options/OptionRules.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>

namespace monitor_sim {

namespace {

constexpr unsigned kMaxMs = 24u * 60 * 60 * 1000; // a day is more than any test waits

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A whole number from low to high, in decimal digits as the console programs read them.
std::optional<unsigned> parseNumber(std::string text, unsigned low, unsigned high) {
    if (!options::ReadDecimal(text).empty())
        return std::nullopt;
    const unsigned long number = std::stoul(text);
    if (number < low || number > high)
        return std::nullopt;
    return static_cast<unsigned>(number);
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return items;
        start = comma + 1;
    }
}

bool isSourceName(const std::string& name) {
    return std::find(kAllSources.begin(), kAllSources.end(), name) != kAllSources.end();
}

bool isPortName(const std::string& name) {
    return name.size() > 3 && name.compare(0, 3, "COM") == 0 && name[3] != '0' &&
           parseNumber(name.substr(3), 1, 255);
}

// "A-B" as the numbers A to B, "A" as A alone; low..high, A not above B.
std::optional<std::pair<unsigned, unsigned>> numberRange(const std::string& text, unsigned low,
                                                         unsigned high) {
    const std::size_t dash = text.find('-');
    const std::optional<unsigned> first = parseNumber(text.substr(0, dash), low, high);
    const std::optional<unsigned> last =
        dash == std::string::npos ? first : parseNumber(text.substr(dash + 1), low, high);
    if (!first || !last || *last < *first)
        return std::nullopt;
    return std::make_pair(*first, *last);
}

// "3", "1,2,5", "1-8" or "1-3,7": unit IDs 0..255, none twice.
std::optional<std::vector<unsigned>> unitList(const std::string& text) {
    std::vector<unsigned> units;
    for (const std::string& item : splitList(text)) {
        const auto range = numberRange(item, 0, 255);
        if (!range)
            return std::nullopt;
        for (unsigned unit = range->first; unit <= range->second; ++unit) {
            if (std::find(units.begin(), units.end(), unit) != units.end())
                return std::nullopt;
            units.push_back(unit);
        }
    }
    return units;
}

// The ports of --listen: "PORT", "FIRST-LAST" or "FIRSTxCOUNT" ("0x8": eight free ones). A range
// starts at 1: port 0 is a free port, and a range of free ports is a count.
std::optional<ListenAddress> listenPorts(ListenAddress address, const std::string& text) {
    const std::size_t times = text.find('x');
    if (times != std::string::npos) {
        const std::optional<unsigned> first = parseNumber(text.substr(0, times), 0, 65535);
        const std::optional<unsigned> count = parseNumber(text.substr(times + 1), 1, kMostPorts);
        if (!first || !count || (*first != 0 && *first + *count - 1 > 65535))
            return std::nullopt;
        address.port = *first;
        address.count = *count;
        return address;
    }
    const auto range = numberRange(text, 0, 65535);
    if (!range || (range->first == 0 && range->second != 0) ||
        range->second - range->first >= kMostPorts)
        return std::nullopt;
    address.port = range->first;
    address.count = range->second - range->first + 1;
    return address;
}

// "PORTS" or "HOST:PORTS".
std::optional<ListenAddress> listenAddress(const std::string& text) {
    ListenAddress address;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        address.host = text.substr(0, colon);
        if (address.host.empty())
            return std::nullopt;
    }
    return listenPorts(address, colon == std::string::npos ? text : text.substr(colon + 1));
}

// "late,nak,refuse": the kinds of fault --random makes, none twice.
std::optional<std::vector<FaultKind>> faultKindList(const std::string& text) {
    std::vector<FaultKind> kinds;
    for (const std::string& name : splitList(text)) {
        const std::optional<FaultKind> kind = faultKindNamed(name);
        if (!kind || std::find(kinds.begin(), kinds.end(), *kind) != kinds.end())
            return std::nullopt;
        kinds.push_back(*kind);
    }
    return kinds;
}

// A CLI11 rule for a switch's value: fits says whether the text is right, and may put it in the
// form the switch keeps (upper case, plain decimal); otherwise the error says what is wanted.
CLI::Validator rule(std::function<bool(std::string&)> fits, std::string wants) {
    return CLI::Validator(
        [fits = std::move(fits), wants = std::move(wants)](std::string& text) {
            const std::string given = text;
            return fits(text) ? std::string() : wants + ", not \"" + given + "\"";
        },
        "");
}

CLI::Validator wholeNumber(unsigned low, unsigned high) {
    return rule(
        [low, high](std::string& text) {
            const std::optional<unsigned> number = parseNumber(text, low, high);
            if (number)
                text = std::to_string(*number);
            return number.has_value();
        },
        "wants a whole number from " + std::to_string(low) + " to " + std::to_string(high));
}

CLI::Validator nonEmpty(std::string wants) {
    return rule([](std::string& text) { return !text.empty(); }, std::move(wants));
}

// What the switches said beyond the values they set.
struct Given {
    bool source = false;
    bool faultRate = false;
    bool faultKinds = false;
    bool cable = false;
};

const char* const kDescription = R"(monitor-sim: a simulated display monitor on a serial port.

It opens a COM port at 19200 baud 8N1 (no flow control, DTR and RTS off) and
answers the nine-byte command frames of the control panel the way a monitor
would, so the panel can be tried and tested without a monitor. Connect the
panel to the other end of a null-modem cable (or a virtual port pair). With
--listen it is a serial device server in raw TCP mode instead, or a whole
fleet of them, with a monitor (or a daisy chain of monitors) on the serial
side of each. Whatever carries the bytes, they keep the pace of a line at
19200 baud 8N1, ten bits a byte, both ways.
)";

const char* const kFooter = R"(Answers (bytes on the line, "!" acknowledges, "?" is the NAK byte):
  @@0UIG000 -> 001!          unit ID as three digits
  @@1SSG000 -> HD1!          active source
  @@1SIG000 -> SOK!          or NOS! with --no-signal
  @@1FVSENA -> FV1.02!       "FV" + firmware
  @@1SSSHD2 -> !             or ? when the monitor has no such input
  @@1DSSEXE -> !             back to the settings it was started with
  @@1DCSPON -> !             or ? with --old-firmware
  @@1KESFAC, @@1KESPLS -> !
  Unknown commands and wrong arguments get just "?".
  Bytes that cannot start a frame are dropped; a partial frame is dropped
  when its rest has not come within 500 ms.
  On a chain (--unit-id 1,2) "@@0UIG000" gets "000012!!": both answers at
  once, byte by byte.

Timing: a frame counts as received when its ninth byte would have come at
19200 baud: over TCP, where all nine come at once, 9 byte-times (4.7 ms)
after its first. Answers (with --delay, --late-ack and the late answers of
--random) are timed from then, and their bytes go out no faster than the
line carries them: each is handed on once it would be through, 0.52 ms
after the one before. What --random draws depends on the seed and the
frame's number alone (the Nth frame the line receives, for any unit), never
on time; see --faults for the kinds whose effect does.

Log: one line per event, written at once, ending in LF:
  <ms> <KIND> <details>
  With several --listen ports, a line about one port has the port in
  brackets at the start of its details: "RX [7003] @@1SIG000"; the listening
  lines name their port, and the CONFIG lines, alike for every port, none.
  <ms> is GetTickCount64() when the line is written, so other processes on
  the machine can compare it with their own; it moves in steps of about
  16 ms. Line bytes are shown as they are for "!".."~" except "<"; every
  other byte (space included) as <xx> in hex.
  KIND is one of:
  listening  first lines: "listening on COMn", or "listening on
             tcp:127.0.0.1:PORT" with the port the server listens on,
             one line for each port
  CONFIG     the monitor's settings (one line for each unit of a chain)
  FAULTS     the active fault switches; with --random its seed (a port's
             own: the seed given plus the port's place, from 0)
  READY      the ready event was set
  CLIENT     --listen: a client connected, went or was dropped
  NOISE      junk bytes start (they are not logged one by one)
  RX         a complete frame received, e.g. "RX @@1SIG000"
  UNIT       on a chain: which unit answers the frame, or that all do
  TX         bytes written to the line, exactly, e.g. "TX SOK!", once the
             last of them has gone out; with --late-ack the acknowledge
             byte is a TX line of its own
  NOTE       what a frame did or why it got a NAK
  IGNORE     a frame not answered: for another unit, --silent, or cable
             about to be pulled (--drop-after, --pull-after)
  FAULT      --random: what the draw did to this frame, e.g. "FAULT frame 7:
             late 540 ms", "FAULT frame 8: none", or none (a pull, left
             out) when --faults leaves the kind drawn out. Written before
             the frame's NOTE and TX lines
  CABLE      the cable pulled out, put back and the port opened again
  LOST       bytes that came with a frame that pulled the cable, or that
             a client sent while the cable was out (--listen)
  DROP       bytes that cannot start a frame
  STALE      a partial frame dropped after 500 ms
  ERROR      a port or ready-event error (then exit 1)
  EXIT       why the program stops

Exit codes: 0 after --drop-after (on every port), --exit-after-ms or Ctrl+C;
1 when a port, the log file or the ready event cannot be opened, or a port
fails (the others stop too), or the cable does not answer a pull; 2 for bad
switches.)";

// Declares every switch on app, storing what it says in options and given.
void defineSwitches(CLI::App& app, Options& options, Given& given) {
    app.description(kDescription);
    app.footer(kFooter);
    app.formatter(std::make_shared<options::UsageFormatter>(
        " --port COMn | --listen [HOST:]PORTS [switches]\n\n"));
    app.get_formatter()->column_width(22);
    // Given twice, a switch keeps its last value; CLI11 refuses it by default.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    // Added again below, at the end of the list.
    app.set_help_flag();

    auto text = [&](const char* name, const char* shown, const char* group, const char* help,
                    std::function<void(const std::string&)> take) {
        return app.add_option_function<std::string>(name, std::move(take), help)
            ->option_text(shown)
            ->group(group);
    };
    auto number = [&](const char* name, const char* shown, unsigned low, unsigned high,
                      const char* group, const char* help, std::function<void(unsigned)> take) {
        return app.add_option_function<unsigned>(name, std::move(take), help)
            ->option_text(shown)
            ->group(group)
            ->transform(wholeNumber(low, high));
    };
    auto flag = [&](const char* name, const char* group, const char* help,
                    std::function<void()> take) {
        return app.add_flag_callback(name, std::move(take), help)->group(group);
    };

    const char* line = "The line";
    text("--port", "COMn", line, "serial port to listen on; this or --listen is required",
         [&](const std::string& name) { options.port = name; })
        ->transform(rule(
            [](std::string& name) {
                name = upper(name);
                return isPortName(name);
            },
            "wants a COM port name such as COM9"));
    text("--listen", "[HOST:]PORTS", line,
         "be a serial device server in raw TCP mode instead:\n"
         "listen on HOST (default 127.0.0.1) at TCP port PORTS\n"
         "(0: a free one, named in the \"listening\" line). One\n"
         "client at a time: the bytes of its connection are the\n"
         "line; the next client waits until it has gone. Where a\n"
         "fault pulls the cable (--pull-after, --random) the\n"
         "client's connection is dropped instead.\n"
         "A fleet of servers, up to 64, each its own line with its\n"
         "own chain (--unit-id) and state, every fault switch on\n"
         "each: PORTS FIRST-LAST (7001-7008), or FIRSTxCOUNT\n"
         "(7001x8; 0x8 for eight free ports). Each port has its own\n"
         "\"listening\" line, and its number in the log lines about it",
         [&](const std::string& address) { options.listen = listenAddress(address); })
        ->check(rule([](std::string& address) { return listenAddress(address).has_value(); },
                     "wants a TCP port 0..65535, a range FIRST-LAST or FIRSTxCOUNT of at most " +
                         std::to_string(kMostPorts) +
                         ", maybe after HOST:, such as 127.0.0.1:4001 or 7001-7008"));

    const char* monitor = "The monitor";
    text("--unit-id", "N[,N...]", monitor,
         "unit ID 0..255, default 1; frames addressed \"0\" or\n"
         "'0'+N (e.g. \"1\", \":\" for 10) are answered, others not.\n"
         "Several IDs (1,2,5), ranges of them (1-8) or both (1-3,7)\n"
         "make a daisy chain on one line: each unit answers at its\n"
         "own address only and keeps its own state;\n"
         "at \"0\" they all answer at once and their answers collide\n"
         "(their bytes interleave), so a controller must not ask\n"
         "\"0\" on a chain. Every port of a fleet has the same chain",
         [&](const std::string& units) { options.unitIds = *unitList(units); })
        ->check(rule([](std::string& units) { return unitList(units).has_value(); },
                     "wants unit IDs 0..255 or ranges of them (1-8), comma separated, none "
                     "twice"));
    text("--source", "SRC", monitor,
         "active input source HD1, HD2, HD3 or VGA; default HD1,\n"
         "or the first of --sources when HD1 is not among them",
         [&](const std::string& source) {
             options.monitor.source = source;
             given.source = true;
         })
        ->transform(rule(
            [](std::string& source) {
                source = upper(source);
                return isSourceName(source);
            },
            "wants HD1, HD2, HD3 or VGA"));
    text("--sources", "LIST", monitor,
         "inputs this monitor has, comma separated, default\n"
         "HD1,HD2,HD3,VGA; SSS to any other source gets a NAK",
         [&](const std::string& list) {
             options.monitor.sources.clear();
             for (const std::string& source : splitList(list))
                 if (std::find(options.monitor.sources.begin(), options.monitor.sources.end(),
                               source) == options.monitor.sources.end())
                     options.monitor.sources.push_back(source);
         })
        ->transform(rule(
            [](std::string& list) {
                list = upper(list);
                const std::vector<std::string> sources = splitList(list);
                return std::all_of(sources.begin(), sources.end(), isSourceName);
            },
            "wants a comma-separated list of HD1, HD2, HD3, VGA"));
    flag("--no-signal", monitor,
         "the active input carries no signal (SIG answers NOS,\notherwise SOK)",
         [&] { options.monitor.signal = false; });
    text("--firmware", "TEXT", monitor, "firmware version, exactly 4 characters, default 1.02",
         [&](const std::string& firmware) { options.monitor.firmware = firmware; })
        ->check(rule(
            [](std::string& firmware) {
                return firmware.size() == 4 &&
                       std::all_of(firmware.begin(), firmware.end(),
                                   [](char c) { return c >= 0x20 && c <= 0x7E; });
            },
            "wants exactly 4 plain ASCII characters such as 1.02"));
    flag("--old-firmware", monitor, "no diagnostic mode: DCS PON gets a NAK",
         [&] { options.monitor.diagnosticMode = false; });
    flag("--refuse-fv", monitor, "refuse the firmware query: FVS answers \"?ERROR\" + NAK",
         [&] { options.monitor.refuseFirmwareQuery = true; });

    const char* faults = "Faults on the line (they combine where it makes sense)";
    Faults& f = options.faults;
    flag("--silent", faults, "never answer", [&] { f.silent = true; });
    flag("--nak", faults, "NAK byte instead of \"!\" on every answer (data still sent)",
         [&] { f.nakAlways = true; });
    number("--nak-first", "N", 0, 1000000, faults,
           "NAK byte on the answers to the first N frames, then normal\n"
           "(each unit of a chain counts its own)",
           [&](unsigned n) { f.nakFirst = n; });
    number("--delay", "MS", 0, kMaxMs, faults,
           "write each answer MS ms after the frame's ninth byte\n(default 0: at once)",
           [&](unsigned ms) { f.delayMs = ms; });
    number("--delay-first", "N", 1, 1000000, faults,
           "--delay only the answers to the first N frames, then\n"
           "answer at once (each unit of a chain counts its own): an\n"
           "answer that comes after the client gave up, and lies on\n"
           "the line when its next frame goes out",
           [&](unsigned n) { f.delayFirst = n; });
    number("--late-ack", "MS", 0, kMaxMs, faults,
           "data bytes at once (or after --delay), the acknowledge\n"
           "byte MS ms after the frame's ninth byte; 450 lands after\n"
           "the panel's first acknowledge read gave up and before\n"
           "its second",
           [&](unsigned ms) { f.lateAckMs = ms; });
    number("--partial", "N", 0, 6, faults,
           "send only the first N data bytes (0..6), then the\nacknowledge byte",
           [&](unsigned n) { f.partial = n; });
    number("--noise", "MS", 1, kMaxMs, faults,
           "send one junk byte \"~\" every MS ms, forever, also\n"
           "between frames, while still answering frames. It keeps\n"
           "time, not count: where its bytes fall among the frames\n"
           "depends on the client's pace",
           [&](unsigned ms) { f.noiseMs = ms; });
    number("--drop-after", "N", 1, 1000000, faults,
           "after N frames for this unit, close the port and exit 0\n"
           "(the monitor goes away); pending answer bytes go out first.\n"
           "A fleet's ports close each after its own N frames, and\n"
           "the program exits once all have",
           [&](unsigned n) { f.dropAfter = n; });
    number("--pull-after", "N", 1, 1000000, faults,
           "answer the Nth frame for this unit, then pull the cable out\n"
           "250 ms after the answer went out (the panel has read it by\n"
           "then, and sends its next frame no sooner than 300 ms after\n"
           "its last) and leave it out: the panel's writes fail. Once\n"
           "someone puts it back, open the port again and answer as\n"
           "before. Needs the cable (--cable). With --listen: drop the\n"
           "client's connection; the next client puts it back",
           [&](unsigned n) { f.pullAfter = n; });

    const char* random = "Random faults";
    number("--random", "SEED", 0, 999999999, random,
           "for each frame, at random, a normal answer or one fault,\n"
           "drawn from SEED (0..999999999) and the frame's number\n"
           "(the Nth frame the line receives) alone, never from time:\n"
           "the same SEED gives the same faults frame by frame, however\n"
           "fast the frames come. Each port of a fleet draws from SEED\n"
           "plus its place (0, 1, ...), so they do not fault alike.\n"
           "  late     the whole answer after the panel's first\n"
           "           acknowledge read gave up and before its second\n"
           "           read: 400..700 ms after the frame, plus 100 ms\n"
           "           for each data byte the panel reads (3 for UIG,\n"
           "           SSG, SIG; 6 for FV..)\n"
           "  partial  only the first bytes of the answer (at least\n"
           "           one is missing; a bare \"!\" is lost whole)\n"
           "  junk     1 to 6 junk bytes, never \"!\", instead of it\n"
           "  silent   no answer; the command is not carried out\n"
           "  nak      the command is carried out, but \"?\" comes\n"
           "           instead of \"!\"\n"
           "  refuse   the command is refused: not carried out, \"?\"\n"
           "           alone (a switch to an input the monitor has, a\n"
           "           reset, a query...), at once or, as often, as\n"
           "           late as a late answer: a late \"?\" refuses too\n"
           "  pull     no answer: the cable is pulled out for 0.3 to\n"
           "           3 s, then put back and the port opened again\n"
           "           (needs the cable; without it: a normal answer;\n"
           "           with --listen: the client's connection dropped,\n"
           "           and what any client sends for that time lost)\n"
           "Every frame's draw is logged as a FAULT line.",
           [&](unsigned seed) { options.randomSeed = seed; });
    number("--fault-rate", "PCT", 0, 100, random,
           "frames out of 100 that get a fault, default 30; they share\n"
           "out late 6 : partial 5 : junk 5 : silent 4 : nak 5 :\n"
           "refuse 4 : pull 1",
           [&](unsigned percent) {
               options.faultPercent = percent;
               given.faultRate = true;
           });
    text("--faults", "KINDS", random,
         "the kinds of fault --random makes, comma separated;\n"
         "default all: late,partial,junk,silent,nak,refuse,pull.\n"
         "A frame that draws a kind left out gets its answer as it\n"
         "is, and every other frame keeps its fault. Leave pull out\n"
         "to compare clients of different pace: which frames come\n"
         "while the cable is out, lost, and so the number of every\n"
         "frame after, depends on time",
         [&](const std::string& kinds) {
             options.faultKinds = *faultKindList(kinds);
             given.faultKinds = true;
         })
        ->check(rule([](std::string& kinds) { return faultKindList(kinds).has_value(); },
                     "wants kinds of fault from late, partial, junk, silent, nak, refuse, pull, "
                     "comma separated, none twice"));

    text("--cable", "DIR", "The test cable (tools/null-modem/cable.py)",
         "the cable's folder as a Windows path, where it logs in\n"
         "cable.log and is pulled out while the file \"pulled\" is\n"
         "there; default: the KELVANE_CABLE environment variable\n"
         "(not with --listen). Only the pulls of --random and\n"
         "--pull-after are outlived: a port that fails otherwise\n"
         "still ends the simulator",
         [&](const std::string& folder) {
             options.cableFolder = toUtf16(folder);
             given.cable = true;
         })
        ->check(nonEmpty("wants a folder"));

    const char* running = "Running it";
    text("--log", "FILE", running, "append the log to FILE instead of writing it to stdout",
         [&](const std::string& file) { options.logFile = toUtf16(file); })
        ->check(nonEmpty("wants a file name"));
    text("--ready-event", "NAME", running,
         "once the port is open and set up (with --listen: once\n"
         "every port listens), open or create the named manual-reset\n"
         "Win32 event NAME and set it",
         [&](const std::string& name) { options.readyEvent = toUtf16(name); })
        ->check(nonEmpty("wants an event name"));
    number("--exit-after-ms", "MS", 1, kMaxMs, running, "exit (code 0) MS ms after start",
           [&](unsigned ms) { options.exitAfterMs = ms; });
    app.set_help_flag("-h,--help", "this text")->group(running);
}

// The fault switches that --random does not combine with, when given.
std::vector<std::string> fixedFaults(const Faults& faults) {
    std::vector<std::string> given;
    if (faults.silent)
        given.push_back("--silent");
    if (faults.nakAlways)
        given.push_back("--nak");
    if (faults.nakFirst)
        given.push_back("--nak-first");
    if (faults.delayMs)
        given.push_back("--delay");
    if (faults.delayFirst)
        given.push_back("--delay-first");
    if (faults.lateAckMs)
        given.push_back("--late-ack");
    if (faults.partial)
        given.push_back("--partial");
    if (faults.noiseMs)
        given.push_back("--noise");
    if (faults.dropAfter)
        given.push_back("--drop-after");
    if (faults.pullAfter)
        given.push_back("--pull-after");
    return given;
}

bool checkCombinations(const Options& options, const Given& given, std::string& error) {
    if (given.faultRate && !options.randomSeed) {
        error = "--fault-rate goes with --random";
        return false;
    }
    if (given.faultKinds && !options.randomSeed) {
        error = "--faults goes with --random";
        return false;
    }
    const std::vector<std::string> fixed = fixedFaults(options.faults);
    if (options.randomSeed && !fixed.empty()) {
        error = "--random makes faults of its own and does not combine with " + fixed.front();
        return false;
    }
    if (options.faults.delayFirst && !options.faults.delayMs) {
        error = "--delay-first goes with --delay";
        return false;
    }
    if (options.faults.pullAfter && options.faults.dropAfter) {
        error = "--pull-after and --drop-after do not combine: the cable goes or the monitor does";
        return false;
    }
    if (options.listen && given.cable) {
        error = "--cable goes with --port: with --listen a pull drops the client's connection";
        return false;
    }
    if (options.faults.pullAfter && !options.listen && options.cableFolder.empty()) {
        error = "--pull-after needs the cable's folder: --cable DIR or KELVANE_CABLE";
        return false;
    }
    if (!options.port.empty() && options.listen) {
        error = "--port and --listen do not combine: the line is a COM port or a TCP port";
        return false;
    }
    if (options.port.empty() && !options.listen) {
        error = "--port COMn or --listen [HOST:]PORTS is required";
        return false;
    }
    return true;
}

// CLI11 would take "--silent=false" and the like; a flag here takes no value.
bool refuseFlagValues(const CLI::App& app, const std::vector<std::string>& args,
                      std::string& error) {
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        if (arg.rfind("--", 0) != 0 || equals == std::string::npos)
            continue;
        const std::string name = arg.substr(0, equals);
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option && option->get_expected_max() == 0) {
            error = name + " takes no value";
            return false;
        }
    }
    return true;
}

} // namespace

bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error,
                  const std::wstring& cableFromEnvironment) {
    // Windows hands wmain the arguments in UTF-16; CLI11 reads UTF-8.
    std::vector<std::string> utf8;
    for (const std::wstring& arg : args)
        utf8.push_back(arg == L"/?" ? "--help" : toUtf8(arg));

    CLI::App app("", "monitor-sim");
    Given given;
    defineSwitches(app, options, given);
    if (!refuseFlagValues(app, utf8, error))
        return false;
    try {
        std::reverse(utf8.begin(), utf8.end()); // CLI11 takes the arguments last first
        app.parse(utf8);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }

    if (options.cableFolder.empty() && !options.listen)
        options.cableFolder = cableFromEnvironment;
    if (!checkCombinations(options, given, error))
        return false;
    const auto& sources = options.monitor.sources;
    if (std::find(sources.begin(), sources.end(), options.monitor.source) == sources.end()) {
        if (given.source) {
            error = "--source " + options.monitor.source + " is not among --sources";
            return false;
        }
        options.monitor.source = sources.front();
    }
    options.monitor.unitId = options.unitIds.front();
    return true;
}

std::string usageText() {
    Options options;
    Given given;
    CLI::App app("", "monitor-sim");
    defineSwitches(app, options, given);
    return app.help();
}

} // namespace monitor_sim
