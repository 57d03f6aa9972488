// The listening socket: a numeric address of either family, bound as given; a port in use and a
// name refused in words.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "service/http/Listener.h"

using service::http::Listen;

TEST(Listener, BindsANumericAddressOfEitherFamilyAndNamesAPortInUse) {
    const struct {
        const char* host;
        int family;
    } cases[] = {{"127.0.0.1", AF_INET}, {"::1", AF_INET6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        int port = 0;
        std::string error;
        const int fd = Listen(c.host, port, error);
        ASSERT_GE(fd, 0) << error;
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length), 0);
        EXPECT_EQ(bound.ss_family, c.family);
        EXPECT_GT(port, 0);
        int same = port;
        EXPECT_EQ(Listen(c.host, same, error), -1);
        EXPECT_NE(error.find(" is in use"), std::string::npos) << error;
        ::close(fd);
    }
    int port = 0;
    std::string error;
    EXPECT_EQ(Listen("localhost", port, error), -1);
    EXPECT_EQ(error, "\"localhost\" is not a numeric address");
}
