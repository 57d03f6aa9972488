// Whether a POST is taken: the rules by the client's address, its token and its body's type. The
// end-to-end table (tests/service/test_requests.py) runs them through the real server; a client
// from another machine can only be had here, since kelvaned without a token listens on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fstream>
#include "service/Security.h"

using service::JudgePost;

TEST(PostRules, AreJudgedByClientTokenAndContentType) {
    const struct {
        const char* token; // the token file's one line: empty for none
        const char* client;
        const char* authorization;
        const char* type;
        int status;
    } cases[] = {
        {"", "127.0.0.1", "", "application/json", 0},
        {"", "127.3.2.1", "", "Application/JSON; charset=utf-8", 0},
        {"", "::1", "", "application/json", 0},
        {"", "::ffff:127.0.0.1", "", "application/json", 0},
        {"", "10.0.0.9", "", "application/json", 403},
        {"", "::ffff:10.0.0.9", "", "application/json", 403},
        {"", "1270:0::1", "", "application/json", 403},
        {"", "127.0.0.1", "", "text/plain", 415},
        {"", "127.0.0.1", "", "", 415},
        {"", "127.0.0.1", "", "application/jsonp", 415},
        {"tok", "10.0.0.9", "Bearer tok", "application/json", 0},
        {"tok", "10.0.0.9", "bearer  tok ", "application/json", 0},
        {"tok", "127.0.0.1", "", "application/json", 401},
        {"tok", "10.0.0.9", "Bearer", "application/json", 403},
        {"tok", "10.0.0.9", "Bearer to", "application/json", 403},
        {"tok", "10.0.0.9", "Bearer tok2", "application/json", 403},
        {"tok", "10.0.0.9", "Basic tok", "application/json", 403},
        {"tok", "10.0.0.9", "Bearer tok", "text/plain", 415},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgePost(*c.token ? service::Tokens{{"", c.token}} : service::Tokens{}, c.client,
                            c.authorization, c.type)
                      .status,
                  c.status)
            << "token \"" << c.token << "\", client " << c.client << ", \"" << c.authorization
            << "\", \"" << c.type << "\"";
}

TEST(PostRules, AnyLabelledTokenIsTakenAndNamesItsHolder) {
    const service::Tokens tokens = {{"ops-phone", "alpha"}, {"", "bare"}, {"desk", "gamma"}};
    const struct {
        const char* presented;
        int status;
        const char* label;
    } cases[] = {
        {"alpha", 0, "ops-phone"}, {"bare", 0, ""},          {"gamma", 0, "desk"},
        {"ops-phone", 403, "-"},   {"alphagamma", 403, "-"}, {"gamm", 403, "-"},
    };
    for (const auto& c : cases) {
        std::string label = "-";
        EXPECT_EQ(JudgePost(tokens, "10.0.0.9", std::string("Bearer ") + c.presented,
                            "application/json", &label)
                      .status,
                  c.status)
            << c.presented;
        EXPECT_EQ(label, c.label) << c.presented;
    }
}

TEST(PostRules, TokensCompareWholeAndExactly) {
    EXPECT_TRUE(service::SameToken("abc", "abc"));
    EXPECT_FALSE(service::SameToken("abc", "abd"));
    EXPECT_FALSE(service::SameToken("abc", "ab"));
    EXPECT_FALSE(service::SameToken("ab", "abc"));
    EXPECT_FALSE(service::SameToken("abc", std::string("abc\0", 4)));
    EXPECT_FALSE(service::SameToken("", "a"));
}

TEST(Secret, IsTheFirstLineWithoutTheBlanksAroundIt) {
    const std::string path = ::testing::TempDir() + "mqtt-password";
    const std::pair<const char*, const char*> cases[] = {
        {"s3cret", "s3cret"},     {"s3cret\n", "s3cret"},
        {"s3cret\r\n", "s3cret"}, {" s3cret \r\nnext\n", "s3cret"},
        {"s3 cret\n", "s3 cret"},
    };
    for (const auto& [text, expected] : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        ::chmod(path.c_str(), 0600);
        std::string secret, error;
        EXPECT_TRUE(service::LoadToken(path, secret, error)) << error;
        EXPECT_EQ(secret, expected) << text;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << " \r\nsecond line\n";
    std::string secret, error;
    EXPECT_FALSE(service::LoadToken(path, secret, error));
    EXPECT_EQ(error, path + " holds nothing on its first line");
}
