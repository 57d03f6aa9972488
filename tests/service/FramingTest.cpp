// The framing of a request judged from its head: any head two readers could take to end at
// different bytes is refused, and so are a declared body and a head over their bounds.
#include <gtest/gtest.h>
#include "service/http/Framing.h"
#include "service/http/Limits.h"

using service::http::JudgeFraming;
using service::http::MAX_BODY_BYTES;
using service::http::MAX_HEAD_BYTES;

TEST(Framing, IsTakenOnlyWhenTheHeadFramesTheBodyBeyondDoubt) {
    using Headers = std::vector<std::pair<std::string, std::string>>;
    const struct {
        Headers headers;
        std::size_t headBytes;
        int status;
    } cases[] = {
        {{{"Host", "x"}}, 100, 0},
        {{{"Host", "x"}, {"Content-Length", "12"}}, 100, 0},
        {{{"Host", "x"}, {"content-length", " 0 "}}, 100, 0},
        {{{"Host", "x"}, {"Transfer-Encoding", "Chunked"}}, 100, 0},
        {{{"Content-Length", std::to_string(MAX_BODY_BYTES)}}, 100, 0},
        {{{"Host", "x"}}, MAX_HEAD_BYTES, 0},
        {{{"Host", "x"}}, MAX_HEAD_BYTES + 1, 431},
        {{{"Content-Length", std::to_string(MAX_BODY_BYTES + 1)}}, 100, 413},
        {{{"Content-Length", "99999999999999999"}}, 100, 413},
        {{{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, 100, 400},
        {{{"Transfer-Encoding", "chunked"}, {"Content-Length", "5"}}, 100, 400},
        {{{"Content-Length", "5"}, {"Content-Length", "6"}}, 100, 400},
        {{{"Content-Length", "5"}, {"CONTENT-LENGTH", "5"}}, 100, 400},
        {{{"Content-Length", "2x"}}, 100, 400},
        {{{"Content-Length", "-1"}}, 100, 400},
        {{{"Content-Length", "+5"}}, 100, 400},
        {{{"Content-Length", ""}}, 100, 400},
        {{{"Content-Length", "1234567890123456789"}}, 100, 400},
        {{{"Transfer-Encoding", "gzip"}}, 100, 400},
        {{{"Transfer-Encoding", "gzip, chunked"}}, 100, 400},
        {{{"Transfer-Encoding", "identity"}}, 100, 400},
        {{{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}}, 100, 400},
        {{{"Host", "a"}, {"Host", "b"}}, 100, 400},
    };
    for (const auto& c : cases) {
        std::string head;
        for (const auto& [name, value] : c.headers)
            head += name + ": " + value + "; ";
        EXPECT_EQ(JudgeFraming(c.headers, c.headBytes).status, c.status)
            << head << c.headBytes << " bytes";
    }
}
