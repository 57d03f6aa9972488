// The configuration reader: what a good file gives, and where a bad one is wrong. (The table of
// bad files runs against the real program: tests/service/test_config.py.)
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include "line/Target.h"
#include "service/Config.h"

using service::Config;
using service::ParseConfig;

namespace {

Config Read(const std::string& text) {
    Config config;
    std::string error;
    EXPECT_TRUE(ParseConfig(text, "site.toml", config, error)) << error;
    return config;
}

std::string ErrorOf(const std::string& text) {
    Config config;
    std::string error;
    EXPECT_FALSE(ParseConfig(text, "site.toml", config, error));
    return error;
}

} // namespace

TEST(ConfigReader, AnEmptyFileListensOnLoopbackAndPollsEveryTenSecondsPaced) {
    const Config config = Read("");
    EXPECT_EQ(config.listen.Text(), "127.0.0.1:9420");
    EXPECT_TRUE(config.listen.Loopback());
    EXPECT_EQ(config.pollIntervalS, 10);
    EXPECT_EQ(config.timing, Timing::Paced);
    EXPECT_FALSE(config.tokenFile);
    EXPECT_TRUE(config.monitors.empty());
}

TEST(ConfigReader, TakesEverySettingAndTheMonitorsInTheirOrder) {
    const Config config = Read(R"(
listen = "[::1]:9500"
poll_interval_s = 3600
timing = "fast"
token_file = "/etc/kelvaned/token"
allowed_hosts = ["Screens.Example.org", "10.0.0.5"]

[[monitor]]
name = "lobby-left"
target = "tcp:10.0.0.7:4001"
unit = 1

[[monitor]]
name = "lobby_right-2"
target = "TCP:10.0.0.7:4001"
unit = 255

[[monitor]]
name = "desk"
target = "/dev/ttyUSB0"
)");
    EXPECT_EQ(config.listen.host, "::1");
    EXPECT_EQ(config.listen.port, 9500);
    EXPECT_EQ(config.listen.Text(), "[::1]:9500");
    EXPECT_TRUE(config.listen.Loopback());
    EXPECT_EQ(config.pollIntervalS, 3600);
    EXPECT_EQ(config.timing, Timing::AnswerDriven);
    EXPECT_EQ(config.tokenFile, "/etc/kelvaned/token");
    EXPECT_EQ(config.allowedHosts, (std::vector<std::string>{"screens.example.org", "10.0.0.5"}));
    ASSERT_EQ(config.monitors.size(), 3u);
    EXPECT_EQ(config.monitors[0].name, "lobby-left");
    EXPECT_EQ(config.monitors[0].target.port, 4001);
    EXPECT_EQ(config.monitors[0].unit, 1);
    EXPECT_EQ(config.monitors[0].line, 8);
    EXPECT_EQ(config.monitors[1].unit, 255);
    EXPECT_EQ(config.monitors[2].name, "desk");
    EXPECT_EQ(config.monitors[2].target.path, "/dev/ttyUSB0");
    EXPECT_FALSE(config.monitors[2].unit) << "asked at address 0: it is alone on its line";
    EXPECT_EQ(config.Where("token_file"), "site.toml:5: token_file: ");
}

TEST(ConfigReader, OnlyLoopbackAddressesCountAsLoopback) {
    const struct {
        const char* listen;
        bool loopback;
    } cases[] = {{"127.0.0.1:0", true},    {"127.9.8.7:1", true}, {"[::1]:9420", true},
                 {"0.0.0.0:9420", false},  {"[::]:9420", false},  {"10.0.0.2:9420", false},
                 {"128.0.0.1:9420", false}};
    for (const auto& c : cases) {
        service::ListenAddress address;
        std::string error;
        ASSERT_TRUE(service::ParseListen(c.listen, address, error)) << c.listen << ": " << error;
        EXPECT_EQ(address.Loopback(), c.loopback) << c.listen;
    }
}

// A daemon reloaded again and again must not run out of descriptors. (Before the tests that
// look names up: a lookup's socket must not be counted.)
TEST(ConfigReader, ReadingTheFileLeavesNoDescriptorOpen) {
    const auto open = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    char path[] = "/tmp/kelvaned-config-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    ::close(file);
    const auto before = open();
    Config config;
    std::string error;
    EXPECT_TRUE(service::ReadConfig(path, config, error)) << error;
    EXPECT_FALSE(service::ReadConfig("/tmp", config, error));
    EXPECT_EQ(open(), before);
    ::unlink(path);
}

TEST(ConfigReader, AllowedHostsTakesHostNamesAlone) {
    const struct {
        const char* name;
        bool valid;
    } cases[] = {{"screens.example.org", true},
                 {"kelvaned", true},
                 {"10.0.0.5", true},
                 {"a-b.c", true},
                 {"", false},
                 {"-a.org", false},
                 {"a-.org", false},
                 {"a..org", false},
                 {"a.org.", false},
                 {"a_b.org", false},
                 {"a.org:9420", false},
                 {"[::1]", false},
                 {"http://a.org", false},
                 {"a b", false}};
    for (const auto& c : cases)
        EXPECT_EQ(service::ValidHostName(c.name), c.valid) << "\"" << c.name << "\"";
    EXPECT_TRUE(service::ValidHostName(std::string(63, 'a') + "." + std::string(63, 'b')));
    EXPECT_FALSE(service::ValidHostName(std::string(64, 'a') + ".org"));
    const std::string label(63, 'a');
    const std::string longest = label + "." + label + "." + label + "." + std::string(61, 'a');
    EXPECT_TRUE(service::ValidHostName(longest)) << "253 characters in all";
    EXPECT_FALSE(service::ValidHostName(longest + "a")) << "254 characters in all";
}

TEST(ConfigReader, AnErrorNamesTheFileTheLineAndTheKeyOfTheMonitor) {
    EXPECT_EQ(ErrorOf("\n[[monitor]]\nname = \"a\"\ntarget = \"tcp:h:1\"\nunit = 256\n"),
              "site.toml:5: monitor[1].unit: 256 is not within 0-255");
    EXPECT_EQ(ErrorOf("[[monitor]]\nname = \"a\"\ntarget = \"tcp:h:1\"\nunit = 1\n"
                      "[[monitor]]\nname = \"b\"\ntarget = \"tcp:h:1\"\n"),
              "site.toml:5: monitor[2].unit: missing: b shares its line with a, so its unit "
              "must be given");
    EXPECT_EQ(ErrorOf("poll_interval_s = 0\n"), "site.toml:1: poll_interval_s: 0 is not within "
                                                "1-3600");
    EXPECT_EQ(ErrorOf("poll_interval_s = 3601\n"), "site.toml:1: poll_interval_s: 3601 is not "
                                                   "within 1-3600");
}

// Targets that name one endpoint are one line, however they are written: after the host's
// lookup (each distinct one once) and after the links of a serial path are followed.
TEST(ConfigLines, TargetsThatNameOneEndpointAreOneLineHoweverWritten) {
    char folder[] = "/tmp/kelvaned-lines-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string device = std::string(folder) + "/ttyUSB0";
    const std::string link = std::string(folder) + "/usb-FTDI_FT232R-if00-port0";
    std::ofstream(device).put('\n');
    ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
    const std::string nowhere = "/dev/kelvaned-no-such-line";
    const std::string unknown = "kelvaned-no-such-host.invalid";
    const struct {
        std::vector<std::string> targets;
        std::vector<std::size_t> lines;
    } cases[] = {
        {{"tcp:127.0.0.1:7001", "tcp:localhost:7001", "tcp:127.1:7001",
          "tcp:[::ffff:127.0.0.1]:7001", "TCP:LocalHost:7001"},
         {0, 0, 0, 0, 0}},
        {{"tcp:127.0.0.1:7001", "tcp:127.0.0.1:7002", "tcp:127.0.0.2:7001", "tcp:[::1]:7001",
          "tcp:127.0.0.1:7001"},
         {0, 1, 2, 3, 0}},
        // A name that does not resolve (yet) is its text, whatever its case.
        {{"tcp:" + unknown + ":7001", "tcp:127.0.0.1:7001",
          "tcp:KELVANED-no-such-host.invalid:7001", "tcp:" + unknown + ":7002"},
         {0, 1, 0, 2}},
        {{link, nowhere, device, nowhere}, {0, 1, 0, 1}},
        {{nowhere, "tcp:" + nowhere.substr(5) + ":7001"}, {0, 1}},
    };
    for (const auto& c : cases) {
        std::string text;
        for (std::size_t i = 0; i < c.targets.size(); ++i)
            text += "[[monitor]]\nname = \"m" + std::to_string(i) + "\"\ntarget = \"" +
                    c.targets[i] + "\"\nunit = " + std::to_string(i + 1) + "\n";
        const Config config = Read(text);
        std::vector<std::size_t> lines;
        for (const service::MonitorConfig& monitor : config.monitors)
            lines.push_back(monitor.lineIndex);
        EXPECT_EQ(lines, c.lines) << text;
        std::vector<std::string> firsts;
        for (const service::LineConfig& line : config.lines)
            firsts.push_back(line.target.text);
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < c.targets.size(); ++i)
            if (c.lines[i] == expected.size())
                expected.push_back(c.targets[i]);
        EXPECT_EQ(firsts, expected) << "each line as its first monitor names it";
        EXPECT_EQ(config.monitors.back().target.text, c.targets.back()) << "as written";
    }
    ::unlink(link.c_str());
    ::unlink(device.c_str());
    ::rmdir(folder);
}

// Targets that share any endpoint are one line, through others too: a name with several
// addresses joins the lines of each.
TEST(ConfigLines, TargetsSharingAnyEndpointAreOneLine) {
    const struct {
        std::vector<std::vector<std::string>> endpoints;
        std::vector<std::size_t> lines;
    } cases[] = {
        {{{"a"}, {"b"}, {"a", "b"}, {"c"}}, {0, 0, 0, 1}},
        {{{"a"}, {"b"}, {"c"}, {"c", "b"}, {"a"}}, {0, 1, 1, 1, 0}},
        {{{"a", "b"}, {"c"}, {"b"}, {"d"}, {"c", "d"}}, {0, 1, 0, 1, 1}},
        {{{"a"}, {"b"}, {"c"}, {"c", "a"}, {"b", "c"}}, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(line::LinesOfEndpoints(c.endpoints), c.lines);
}
