// The gzip answers: whether a client's Accept-Encoding takes them, and that they unpack to the
// text.
#include <gtest/gtest.h>
#include <zlib.h>
#include "service/Gzip.h"

using service::AcceptsGzip;
using service::Gzip;

TEST(Gzip, IsTakenOnlyWhereTheHeaderAcceptsItWithAWeightAboveZero) {
    const struct {
        const char* header;
        bool accepts;
    } cases[] = {
        {"gzip", true},
        {"deflate, gzip;q=0.8", true},
        {"gzip;q=1", true},
        {" GZIP ", true},
        {"*", true},
        {"br;q=1.0, gzip; q=0.5", true},
        {"gzip;level=1", true},
        {"", false},
        {"identity", false},
        {"gzip;q=0", false},
        {"gzip;q=0.0", false},
        {"deflate", false},
        {"x-gzip2", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AcceptsGzip(c.header), c.accepts) << "\"" << c.header << "\"";
}

TEST(Gzip, UnpacksToTheTextWithTheGzipHeader) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "kelvane_monitor_up{name=\"m" + std::to_string(i) + "\"} 1\n";
    const std::string packed = Gzip(text);
    ASSERT_GE(packed.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(packed[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(packed[1]), 0x8b);
    EXPECT_LT(packed.size(), text.size() / 4);

    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string unpacked(text.size() + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(unpacked.data());
    stream.avail_out = static_cast<uInt>(unpacked.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    unpacked.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(unpacked, text);
}

TEST(Gzip, GoesOnlyToAClientThatTakesItAndEveryAnswerVariesByIt) {
    const service::Packed body = service::Pack(std::string(2000, 'k'));
    const service::Packed unpackable{body.text, std::make_shared<const std::string>()};
    const auto header = [](const service::http::Response& r, const std::string& name) {
        for (const auto& [key, value] : r.headers)
            if (key == name)
                return value;
        return std::string("-");
    };
    service::http::Request asking;
    asking.headers = {{"accept-encoding", "gzip"}};
    const struct {
        const service::http::Request& request;
        const service::Packed& body;
        const std::shared_ptr<const std::string>& sent;
        const char* encoding;
    } cases[] = {{asking, body, body.gzip, "gzip"},
                 {service::http::Request{}, body, body.text, "-"},
                 {asking, unpackable, body.text, "-"}};
    for (const auto& c : cases) {
        const service::http::Response r = service::PackedAnswer(c.request, c.body, "text/plain");
        EXPECT_EQ(r.body, c.sent);
        EXPECT_EQ(header(r, "Content-Encoding"), c.encoding);
        EXPECT_EQ(header(r, "Vary"), "Accept-Encoding");
        EXPECT_EQ(r.type, "text/plain");
    }
}
