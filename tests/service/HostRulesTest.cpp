// The names kelvaned answers to and the pages it takes a POST from: the guard against a page of
// another site that reaches it through its visitor's browser under a name of its own.
#include <gtest/gtest.h>
#include "service/HostRules.h"

using service::JudgeHost;
using service::JudgeOrigin;
using service::ListenAddress;

TEST(HostRules, ARequestIsServedUnderLoopbacksNamesTheListeningAddressAndAllowedHostsAlone) {
    const ListenAddress loopback{"127.0.0.1", 9420};
    const ListenAddress site{"10.0.0.5", 9420};
    const ListenAddress v6{"2001:db8::5", 9420};
    const std::vector<std::string> none;
    const std::vector<std::string> allowed{"screens.example.org"};
    const struct {
        const char* host;
        const ListenAddress& listen;
        const std::vector<std::string>& allowed;
        int status;
    } cases[] = {
        {"127.0.0.1:9420", loopback, none, 0},
        {"127.0.0.1", loopback, none, 0},
        {"127.3.2.1:80", loopback, none, 0},
        {"localhost:9420", loopback, none, 0},
        {"LocalHost.:9420", loopback, none, 0},
        {"[::1]:9420", loopback, none, 0},
        {"[0:0::1]", loopback, none, 0},
        {"", loopback, none, 0},
        {"10.0.0.5:9420", site, none, 0},
        {"[2001:DB8:0::5]:9420", v6, none, 0},
        {"screens.example.org:9420", loopback, allowed, 0},
        {"Screens.Example.Org", site, allowed, 0},
        {"evil.example:9420", loopback, none, 421},
        {"evil.example:9420", loopback, allowed, 421},
        {"screens.example.org.evil.example", site, allowed, 421},
        {"10.0.0.5:9420", loopback, none, 421},
        {"10.0.0.6:9420", site, none, 421},
        {"128.0.0.1:9420", loopback, none, 421},
        {"127.evil.example:9420", loopback, none, 421},
        {"localhost.evil.example", loopback, none, 421},
        {"[::2]:9420", loopback, none, 421},
        {"[::1", loopback, none, 421},
        {"127.0.0.1:port", loopback, none, 421},
        {"127.0.0.1:99999", loopback, none, 421},
        {"127.0.0.1:9420:1", loopback, none, 421},
        {"user@127.0.0.1", loopback, none, 421},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeHost(c.host, c.listen, c.allowed).status, c.status)
            << "Host \"" << c.host << "\", listening on " << c.listen.Text();
}

TEST(HostRules, APostIsTakenWithoutOriginOrFromTheOriginItsHostNames) {
    const struct {
        const char* origin;
        const char* host;
        int status;
    } cases[] = {
        {"", "127.0.0.1:9420", 0},
        {"http://127.0.0.1:9420", "127.0.0.1:9420", 0},
        {"HTTP://LOCALHOST:9420", "localhost:9420", 0},
        {"http://[::1]:9420", "[::1]:9420", 0},
        {"http://screens.example.org", "screens.example.org", 0},
        {"http://screens.example.org:80", "screens.example.org", 0},
        {"http://screens.example.org", "screens.example.org:80", 0},
        {"https://screens.example.org", "screens.example.org", 0},
        {"https://screens.example.org", "screens.example.org:443", 0},
        {"http://evil.example:9420", "127.0.0.1:9420", 403},
        {"http://127.0.0.1:9421", "127.0.0.1:9420", 403},
        {"http://127.0.0.1", "127.0.0.1:9420", 403},
        {"http://localhost:9420", "127.0.0.1:9420", 403},
        {"https://screens.example.org", "screens.example.org:80", 403},
        {"ftp://127.0.0.1:9420", "127.0.0.1:9420", 403},
        {"null", "127.0.0.1:9420", 403},
        {"127.0.0.1:9420", "127.0.0.1:9420", 403},
        {"http://127.0.0.1:9420", "", 403},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeOrigin(c.origin, c.host).status, c.status)
            << "Origin \"" << c.origin << "\", Host \"" << c.host << "\"";
}
