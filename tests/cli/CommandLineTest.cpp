// kelvanectl's command line, case by case: what runs, what is refused and why, and the help.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <vector>
#include "cli/Usage.h"

namespace {

struct Case {
    std::vector<std::string> args;
    Parsed parsed;
    std::string expect; // Run: the request as Describe writes it; UsageError: part of the reason
};

// What a run was asked, in one line to compare.
std::string Describe(const Request& r, const std::vector<line::Target>& targets,
                     const Through& through) {
    std::string text = CommandName(r.command);
    if (r.command == Command::Source)
        text += " source=" + std::to_string(r.source);
    if (r.unit)
        text += " unit=" + std::to_string(*r.unit);
    if (r.command == Command::Scan)
        text += " ids=" + std::to_string(r.firstId) + "-" + std::to_string(r.lastId);
    if (r.json)
        text += " json";
    if (r.timing == Timing::AnswerDriven)
        text += " fast";
    for (const line::Target& t : targets)
        text += t.kind == line::Target::Kind::Tcp
                    ? " tcp(" + t.host + "," + std::to_string(t.port) + ")"
                    : " serial(" + t.path + ")";
    if (through.Kelvaned()) {
        text += " server=" + through.server;
        if (!through.tokenFile.empty())
            text += " token=" + through.tokenFile;
        for (const std::string& name : r.targets)
            text += " name(" + name + ")";
    }
    return text;
}

std::ostream& operator<<(std::ostream& out, const Case& c) {
    for (const std::string& arg : c.args)
        out << arg << ' ';
    return out;
}

class CommandLine : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLine, IsReadAsTheTableSays) {
    const Case& c = GetParam();
    Request request;
    std::vector<line::Target> targets;
    Through through;
    std::string text;
    const Parsed parsed = ReadCommandLine(c.args, request, targets, through, text);
    ASSERT_EQ(parsed, c.parsed) << text;
    if (parsed == Parsed::Run) {
        EXPECT_EQ(Describe(request, targets, through), c.expect);
    }
    if (parsed == Parsed::UsageError) {
        EXPECT_NE(text.find(c.expect), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << "one line: " << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(
        // What runs, with the options anywhere after the command (and, as ever, before it).
        Case{{"status", "/dev/ttyUSB0"}, Parsed::Run, "status serial(/dev/ttyUSB0)"},
        Case{{"source", "hdmi2", "/dev/a", "--unit", "3"},
             Parsed::Run,
             "source source=1 unit=3 serial(/dev/a)"},
        Case{{"source", "--json", "Vga", "/dev/a"},
             Parsed::Run,
             "source source=3 json serial(/dev/a)"},
        Case{{"--unit", "3", "reset", "/dev/a"}, Parsed::Run, "reset unit=3 serial(/dev/a)"},
        Case{{"status", "/dev/a", "--fast"}, Parsed::Run, "status fast serial(/dev/a)"},
        Case{{"scan", "--fast", "--ids", "1-16", "tcp:h:1"},
             Parsed::Run,
             "scan ids=1-16 fast tcp(h,1)"},
        Case{{"diagnostic", "/dev/a", "--unit", "255"},
             Parsed::Run,
             "diagnostic unit=255 serial(/dev/a)"},
        Case{{"status", "--unit", "010", "/dev/a"}, Parsed::Run, "status unit=10 serial(/dev/a)"},
        Case{{"status", "--unit", "0", "/dev/a"}, Parsed::Run, "status unit=0 serial(/dev/a)"},
        Case{{"scan", "/dev/a"}, Parsed::Run, "scan ids=1-9 serial(/dev/a)"},
        Case{{"scan", "--ids", "0-255", "/dev/a", "tcp:h:65535"},
             Parsed::Run,
             "scan ids=0-255 serial(/dev/a) tcp(h,65535)"},
        Case{{"scan", "/dev/a", "--ids", "7-7"}, Parsed::Run, "scan ids=7-7 serial(/dev/a)"},
        Case{{"status", "TCP:[::1]:4001", "/dev/a"},
             Parsed::Run,
             "status tcp(::1,4001) serial(/dev/a)"},
        // What is refused, and why.
        Case{{}, Parsed::UsageError, "a command comes first"},
        Case{{"--json"}, Parsed::UsageError, "a command comes first"},
        Case{{"stat", "/dev/a"}, Parsed::UsageError, "unknown command \"stat\""},
        Case{{"status"}, Parsed::UsageError, "TARGET"},
        Case{{"source", "/dev/a"}, Parsed::UsageError, "IN"},
        Case{{"source", "HDMI4", "/dev/a"}, Parsed::UsageError, "HDMI4"},
        Case{{"status", "--unit", "256", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"status", "--unit", "-1", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"status", "--unit", "0x10", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"status", "--unit", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"status", "--unit", "", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"status", "--unit", "0000000001", "/dev/a"}, Parsed::UsageError, "--unit"},
        Case{{"scan", "--unit", "1", "/dev/a"}, Parsed::UsageError, "--unit does not go with scan"},
        Case{{"status", "--ids", "1-3", "/dev/a"}, Parsed::UsageError, "--ids goes with scan"},
        Case{{"scan", "--ids", "9-1", "/dev/a"}, Parsed::UsageError, "--ids"},
        Case{{"scan", "--ids", "1-256", "/dev/a"}, Parsed::UsageError, "--ids"},
        Case{{"scan", "--ids", "5", "/dev/a"}, Parsed::UsageError, "--ids"},
        Case{{"status", "tcp:host:0"}, Parsed::UsageError, "from 1 to 65535"},
        Case{{"status", "tcp:host:65536"}, Parsed::UsageError, "from 1 to 65535"},
        Case{{"status", "tcp:host"}, Parsed::UsageError, "tcp:HOST:PORT"},
        Case{{"status", "tcp:h:1", "TCP:H:1"}, Parsed::UsageError, "again"},
        Case{{"status", "/dev/a", "--bogus"}, Parsed::UsageError, "--bogus"},
        // Through kelvaned: names and groups, the switches before the command or after it.
        Case{{"status", "lobby", "--server", "http://127.0.0.1:9420/"},
             Parsed::Run,
             "status server=http://127.0.0.1:9420 name(lobby)"},
        Case{{"--server", "HTTPS://k:1", "--token-file", "/t", "source", "vga", "@hall", "/dev/a"},
             Parsed::Run,
             "source source=3 server=HTTPS://k:1 token=/t name(@hall) name(/dev/a)"},
        Case{{"scan", "a", "--server", "http://h:1"}, Parsed::UsageError, "scan needs the line"},
        Case{{"status", "a", "--unit", "1", "--server", "http://h:1"},
             Parsed::UsageError,
             "--unit goes with a line"},
        Case{{"status", "a", "--fast", "--server", "http://h:1"},
             Parsed::UsageError,
             "--fast goes with a line"},
        Case{{"status", "a", "--server", "ftp://h"}, Parsed::UsageError, "kelvaned's URL"},
        Case{{"status", "a", "--server", "http:///"}, Parsed::UsageError, "kelvaned's URL"},
        Case{{"status", "a", "a", "--server", "http://h:1"}, Parsed::UsageError, "given twice"},
        Case{{"status", "@", "--server", "http://h:1"}, Parsed::UsageError, "a group's name"},
        Case{{"status", "", "--server", "http://h:1"}, Parsed::UsageError, "a monitor's name"},
        // The help and the version, wherever they stand.
        Case{{"--help"}, Parsed::Help, ""}, Case{{"source", "VGA", "-h"}, Parsed::Help, ""},
        Case{{"status", "/dev/a", "--version"}, Parsed::Version, ""}));

TEST(CommandLineHelp, SaysWhereOptionsGoHowLongCommandsTakeAndWhatAChainAndDialoutNeed) {
    Request request;
    std::vector<line::Target> targets;
    Through through;
    std::string help;
    ASSERT_EQ(ReadCommandLine({"--help"}, request, targets, through, help), Parsed::Help);
    for (const char* part : {"anywhere after the command",
                             "--unit",
                             "--ids",
                             "--json",
                             "--fast",
                             "--version",
                             "--server URL",
                             "KELVANE_SERVER",
                             "--token-file",
                             "KELVANE_TOKEN_FILE",
                             "@GROUP",
                             "scan needs the line itself",
                             "refuses the token",
                             "a pause between commands",
                             "daisy chain",
                             "dialout",
                             "source IN TARGET...   switch each monitor to IN",
                             "status      about 1.2 s (0.9 s with --unit)",
                             "source      about 3.9 s (3.6 s with --unit)",
                             "reset       about 4.6 s (4.0 s with --unit)",
                             "diagnostic  about 4.2 s (3.9 s with --unit)",
                             "scan        about 0.3 s",
                             "1.3 s for each that does not",
                             "130"})
        EXPECT_NE(help.find(part), std::string::npos) << part << " in\n" << help;
}

TEST(CommandLineEnvironment, NamesTheServerAndTheTokenFileUnlessTheCommandLineDoes) {
    ::setenv("KELVANE_SERVER", "http://10.0.0.9:9420", 1);
    ::setenv("KELVANE_TOKEN_FILE", "/etc/token", 1);
    Request request;
    std::vector<line::Target> targets;
    Through through;
    std::string text;
    ASSERT_EQ(ReadCommandLine({"reset", "hall"}, request, targets, through, text), Parsed::Run);
    EXPECT_EQ(Describe(request, targets, through),
              "reset server=http://10.0.0.9:9420 token=/etc/token name(hall)");
    ASSERT_EQ(ReadCommandLine({"reset", "hall", "--server", "http://h:2"}, request, targets,
                              through, text),
              Parsed::Run);
    EXPECT_EQ(through.server, "http://h:2");
    ::setenv("KELVANE_SERVER", "", 1);
    ASSERT_EQ(ReadCommandLine({"reset", "/dev/a"}, request, targets, through, text), Parsed::Run);
    EXPECT_FALSE(through.Kelvaned()) << "an empty KELVANE_SERVER is none";
    ::unsetenv("KELVANE_SERVER");
    ::unsetenv("KELVANE_TOKEN_FILE");
}

} // namespace
