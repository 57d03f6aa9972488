#include "Options.h"

#include "Console.h"

#include <algorithm>

namespace monitor_sim {

namespace {

constexpr unsigned kMaxMs = 24u * 60 * 60 * 1000; // a day is more than any test waits

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool parseNumber(const std::string& text, unsigned low, unsigned high, unsigned& value) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long number = std::stoul(text);
    if (number < low || number > high)
        return false;
    value = static_cast<unsigned>(number);
    return true;
}

bool isSourceName(const std::string& name) {
    return std::find(kAllSources.begin(), kAllSources.end(), name) != kAllSources.end();
}

bool isPortName(const std::string& name) {
    unsigned number = 0;
    return name.size() > 3 && name.compare(0, 3, "COM") == 0 && name[3] != '0' &&
           parseNumber(name.substr(3), 1, 255, number);
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

// Walks the arguments, handing out values for switches given as "--name value" or "--name=value".
class ArgReader {
public:
    explicit ArgReader(const std::vector<std::wstring>& args) : args_(args) {}

    bool next(std::string& name) {
        if (index_ >= args_.size())
            return false;
        name = toUtf8(args_[index_++]);
        inlineValue_.reset();
        if (name.rfind("--", 0) == 0) {
            const std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                inlineValue_ = name.substr(equals + 1);
                name.resize(equals);
            }
        }
        return true;
    }

    bool value(const std::string& name, std::string& value, std::string& error) {
        if (inlineValue_) {
            value = *inlineValue_;
            inlineValue_.reset();
            return true;
        }
        if (index_ >= args_.size()) {
            error = name + " needs a value";
            return false;
        }
        value = toUtf8(args_[index_++]);
        return true;
    }

    std::wstring wideValue(const std::string& name, std::string& error) {
        std::string text;
        if (!value(name, text, error))
            return {};
        return toUtf16(text);
    }

    bool hasInlineValue() const { return inlineValue_.has_value(); }

private:
    const std::vector<std::wstring>& args_;
    std::size_t index_ = 0;
    std::optional<std::string> inlineValue_;
};

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

bool checkCombinations(const Options& options, bool faultRateGiven, std::string& error) {
    if (faultRateGiven && !options.randomSeed) {
        error = "--fault-rate goes with --random";
        return false;
    }
    const std::vector<std::string> fixed = fixedFaults(options.faults);
    if (options.randomSeed && !fixed.empty()) {
        error = "--random makes faults of its own and does not combine with " + fixed.front();
        return false;
    }
    if (options.faults.pullAfter && options.faults.dropAfter) {
        error = "--pull-after and --drop-after do not combine: the cable goes or the monitor does";
        return false;
    }
    if (options.faults.pullAfter && options.cableFolder.empty()) {
        error = "--pull-after needs the cable's folder: --cable DIR or KELVANE_CABLE";
        return false;
    }
    return true;
}

} // namespace

bool parseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error,
                  const std::wstring& cableFromEnvironment) {
    ArgReader reader(args);
    std::string name;
    std::string value;
    bool sourceGiven = false;
    bool faultRateGiven = false;

    auto number = [&](unsigned low, unsigned high, unsigned& out) {
        if (!reader.value(name, value, error))
            return false;
        if (!parseNumber(value, low, high, out)) {
            error = name + " wants a whole number from " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not \"" + value + "\"";
            return false;
        }
        return true;
    };
    auto optionalNumber = [&](unsigned low, unsigned high, std::optional<unsigned>& out) {
        unsigned n = 0;
        if (!number(low, high, n))
            return false;
        out = n;
        return true;
    };

    while (reader.next(name)) {
        const bool isFlag = name == "--help" || name == "-h" || name == "/?" ||
                            name == "--no-signal" || name == "--old-firmware" ||
                            name == "--silent" || name == "--nak" || name == "--refuse-fv";
        if (isFlag && reader.hasInlineValue()) {
            error = name + " takes no value";
            return false;
        }
        bool ok = true;
        if (name == "--help" || name == "-h" || name == "/?") {
            options.help = true;
        } else if (name == "--port") {
            ok = reader.value(name, value, error);
            if (ok && !isPortName(upper(value))) {
                error = "--port wants a COM port name such as COM9, not \"" + value + "\"";
                ok = false;
            }
            options.port = upper(value);
        } else if (name == "--unit-id") {
            ok = number(0, 255, options.monitor.unitId);
        } else if (name == "--source") {
            ok = reader.value(name, value, error);
            if (ok && !isSourceName(upper(value))) {
                error = "--source wants HD1, HD2, HD3 or VGA, not \"" + value + "\"";
                ok = false;
            }
            options.monitor.source = upper(value);
            sourceGiven = true;
        } else if (name == "--sources") {
            if (!reader.value(name, value, error))
                return false;
            std::vector<std::string> sources;
            for (const std::string& item : splitList(upper(value))) {
                if (!isSourceName(item)) {
                    error = "--sources wants a comma-separated list of HD1, HD2, HD3, VGA, not \"" +
                            value + "\"";
                    ok = false;
                    break;
                }
                if (std::find(sources.begin(), sources.end(), item) == sources.end())
                    sources.push_back(item);
            }
            options.monitor.sources = sources;
        } else if (name == "--no-signal") {
            options.monitor.signal = false;
        } else if (name == "--firmware") {
            ok = reader.value(name, value, error);
            if (ok && (value.size() != 4 || !std::all_of(value.begin(), value.end(), [](char c) {
                           return c >= 0x20 && c <= 0x7E;
                       }))) {
                error = "--firmware wants exactly 4 plain ASCII characters such as 1.02, not \"" +
                        value + "\"";
                ok = false;
            }
            options.monitor.firmware = value;
        } else if (name == "--old-firmware") {
            options.monitor.diagnosticMode = false;
        } else if (name == "--refuse-fv") {
            options.monitor.refuseFirmwareQuery = true;
        } else if (name == "--silent") {
            options.faults.silent = true;
        } else if (name == "--nak") {
            options.faults.nakAlways = true;
        } else if (name == "--nak-first") {
            ok = number(0, 1000000, options.faults.nakFirst);
        } else if (name == "--delay") {
            ok = number(0, kMaxMs, options.faults.delayMs);
        } else if (name == "--late-ack") {
            ok = optionalNumber(0, kMaxMs, options.faults.lateAckMs);
        } else if (name == "--partial") {
            ok = optionalNumber(0, 6, options.faults.partial);
        } else if (name == "--noise") {
            ok = optionalNumber(1, kMaxMs, options.faults.noiseMs);
        } else if (name == "--drop-after") {
            ok = optionalNumber(1, 1000000, options.faults.dropAfter);
        } else if (name == "--pull-after") {
            ok = optionalNumber(1, 1000000, options.faults.pullAfter);
        } else if (name == "--random") {
            ok = optionalNumber(0, 999999999, options.randomSeed);
        } else if (name == "--fault-rate") {
            ok = number(0, 100, options.faultPercent);
            faultRateGiven = true;
        } else if (name == "--cable") {
            options.cableFolder = reader.wideValue(name, error);
            ok = error.empty();
            if (ok && options.cableFolder.empty()) {
                error = "--cable wants a folder";
                ok = false;
            }
        } else if (name == "--exit-after-ms") {
            ok = optionalNumber(1, kMaxMs, options.exitAfterMs);
        } else if (name == "--log") {
            options.logFile = reader.wideValue(name, error);
            ok = error.empty();
            if (ok && options.logFile.empty()) {
                error = "--log wants a file name";
                ok = false;
            }
        } else if (name == "--ready-event") {
            options.readyEvent = reader.wideValue(name, error);
            ok = error.empty();
            if (ok && options.readyEvent.empty()) {
                error = "--ready-event wants an event name";
                ok = false;
            }
        } else {
            error = "unknown switch \"" + name + "\"";
            ok = false;
        }
        if (!ok)
            return false;
    }

    if (options.help)
        return true;
    if (options.cableFolder.empty())
        options.cableFolder = cableFromEnvironment;
    if (!checkCombinations(options, faultRateGiven, error))
        return false;
    if (options.port.empty()) {
        error = "--port COMn is required";
        return false;
    }
    if (options.monitor.sources.empty()) {
        error = "--sources lists no source";
        return false;
    }
    const auto& sources = options.monitor.sources;
    const bool hasActive =
        std::find(sources.begin(), sources.end(), options.monitor.source) != sources.end();
    if (!hasActive) {
        if (sourceGiven) {
            error = "--source " + options.monitor.source + " is not among --sources";
            return false;
        }
        options.monitor.source = sources.front();
    }
    return true;
}

std::string usageText() {
    return R"(monitor-sim: a simulated display monitor on a serial port.

It opens a COM port at 19200 baud 8N1 (no flow control, DTR and RTS off) and
answers the nine-byte command frames of the control panel the way a monitor
would, so the panel can be tried and tested without a monitor. Connect the
panel to the other end of a null-modem cable (or a virtual port pair).

Usage: monitor-sim --port COMn [switches]

The monitor:
  --port COMn         serial port to listen on (required)
  --unit-id N         unit ID 0..255, default 1; frames addressed "0" or
                      '0'+N (e.g. "1", ":" for 10) are answered, others not
  --source SRC        active input source HD1, HD2, HD3 or VGA; default HD1,
                      or the first of --sources when HD1 is not among them
  --sources LIST      inputs this monitor has, comma separated, default
                      HD1,HD2,HD3,VGA; SSS to any other source gets a NAK
  --no-signal         the active input carries no signal (SIG answers NOS,
                      otherwise SOK)
  --firmware TEXT     firmware version, exactly 4 characters, default 1.02
  --old-firmware      no diagnostic mode: DCS PON gets a NAK
  --refuse-fv         refuse the firmware query: FVS answers "?ERROR" + NAK

Faults on the line (they combine where it makes sense):
  --silent            never answer
  --nak               NAK byte instead of "!" on every answer (data still sent)
  --nak-first N       NAK byte on the answers to the first N frames, then normal
  --delay MS          write each answer MS ms after the frame's ninth byte
                      (default 0: at once)
  --late-ack MS       data bytes at once (or after --delay), the acknowledge
                      byte MS ms after the frame; 450 lands after the panel's
                      first acknowledge read gave up and before its second
  --partial N         send only the first N data bytes (0..6), then the
                      acknowledge byte
  --noise MS          send one junk byte "~" every MS ms, forever, also
                      between frames, while still answering frames
  --drop-after N      after N frames for this unit, close the port and exit 0
                      (the monitor goes away); pending answer bytes go out first
  --pull-after N      answer the Nth frame for this unit, then pull the cable out
                      250 ms after the answer went out (the panel has read it by
                      then, and sends its next frame no sooner than 300 ms after
                      its last) and leave it out: the panel's writes fail. Once
                      someone puts it back, open the port again and answer as
                      before. Needs the cable (--cable)

Random faults:
  --random SEED       for each frame for this unit, at random, a normal answer
                      or one fault; the Nth frame gets the Nth draw, so the same
                      SEED (0..999999999) gives the same faults frame by frame:
                        late     the whole answer after the panel's first
                                 acknowledge read gave up and before its second
                                 read: 400..700 ms after the frame, plus 100 ms
                                 for each data byte the panel reads (3 for UIG,
                                 SSG, SIG; 6 for FV..). The panel takes any late
                                 byte as an acknowledge, so a refusal ("?") is
                                 never sent late: it goes out at once
                        partial  only the first bytes of the answer (at least
                                 one is missing; a bare "!" is lost whole)
                        junk     1 to 6 junk bytes, never "!", instead of it
                        silent   no answer; the command is not carried out
                        nak      the command is carried out, but "?" comes
                                 instead of "!"
                        refuse   the command is refused: not carried out, "?"
                                 alone (a switch to an input the monitor has, a
                                 reset, a query...)
                        pull     no answer: the cable is pulled out for 0.3 to
                                 3 s, then put back and the port opened again
                                 (needs the cable; without it: a normal answer)
                      Every frame's draw is logged as a FAULT line.
  --fault-rate PCT    frames out of 100 that get a fault, default 30; they share
                      out late 6 : partial 5 : junk 5 : silent 4 : nak 5 :
                      refuse 4 : pull 1

The test cable (tools/null-modem/cable.py):
  --cable DIR         the cable's folder as a Windows path, where it logs in
                      cable.log and is pulled out while the file "pulled" is
                      there; default: the KELVANE_CABLE environment variable.
                      Only the pulls of --random and --pull-after are outlived:
                      a port that fails otherwise still ends the simulator

Running it:
  --log FILE          append the log to FILE instead of writing it to stdout
  --ready-event NAME  once the port is open and set up, open or create the
                      named manual-reset Win32 event NAME and set it
  --exit-after-ms MS  exit (code 0) MS ms after start
  --help              this text

Answers (bytes on the line, "!" acknowledges, "?" is the NAK byte):
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

Log: one line per event, written at once, ending in LF:
  <ms> <KIND> <details>
  <ms> is GetTickCount64() when the line is written, so other processes on
  the machine can compare it with their own; it moves in steps of about
  16 ms. Line bytes are shown as they are for "!".."~" except "<"; every
  other byte (space included) as <xx> in hex.
  KIND is one of:
  listening  first line: "listening on COMn"
  CONFIG     the monitor's settings
  FAULTS     the active fault switches
  READY      the ready event was set
  NOISE      junk bytes start (they are not logged one by one)
  RX         a complete frame received, e.g. "RX @@1SIG000"
  TX         bytes written to the line, exactly, e.g. "TX SOK!"; with
             --late-ack the acknowledge byte is a TX line of its own
  NOTE       what a frame did or why it got a NAK
  IGNORE     a frame not answered: for another unit, --silent, or cable
             about to be pulled (--drop-after, --pull-after)
  FAULT      --random: what the draw did to this frame, e.g. "FAULT frame 7:
             late 540 ms", "FAULT frame 8: none"; written before the frame's
             NOTE and TX lines
  CABLE      the cable pulled out, put back and the port opened again
  DROP       bytes that cannot start a frame
  STALE      a partial frame dropped after 500 ms
  ERROR      a port or ready-event error (then exit 1)
  EXIT       why the program stops

Exit codes: 0 after --drop-after, --exit-after-ms or Ctrl+C; 1 when the port,
the log file or the ready event cannot be opened, or the port fails, or the
cable does not answer a pull; 2 for bad switches.
)";
}

} // namespace monitor_sim
