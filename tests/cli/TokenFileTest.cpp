// The token file, case by case: who may touch it, how its lines are read, and which token a
// client sends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fstream>
#include <string>
#include <vector>
#include "commands/TokenFile.h"

namespace {

struct TokenCase {
    mode_t mode;
    std::string text;
    std::string expect; // the lines read, "LABEL=TOKEN;..." ; or a part of the error
    bool ok;
};

std::ostream& operator<<(std::ostream& out, const TokenCase& c) {
    return out << std::oct << c.mode << " \"" << c.text.substr(0, 40) << "\"";
}

class TokenFile : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenFile, IsReadAsTheTableSays) {
    const TokenCase& c = GetParam();
    const std::string path = ::testing::TempDir() + "kelvane-token";
    ::unlink(path.c_str());
    std::ofstream(path, std::ios::binary) << c.text;
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    std::vector<TokenLine> lines;
    std::string error;
    ASSERT_EQ(ReadTokenFile(path, lines, error), c.ok) << error;
    if (c.ok) {
        std::string read;
        for (const TokenLine& line : lines)
            read += line.label + "=" + line.token + ";";
        EXPECT_EQ(read, c.expect);
        std::string token;
        ASSERT_TRUE(ReadToken(path, token, error));
        EXPECT_EQ(token, lines.front().token) << "a client sends the first line's token";
    } else {
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << "the error names the file: " << error;
        std::string token;
        EXPECT_FALSE(ReadToken(path, token, error));
    }
    ::unlink(path.c_str());
}

// A token file holds 64 KiB at most, and the refusal says so.
constexpr std::size_t LIMIT_BYTES = 65536;

INSTANTIATE_TEST_SUITE_P(
    Cases, TokenFile,
    ::testing::Values(
        TokenCase{0600, "s3cret\n", "=s3cret;", true}, TokenCase{0400, "s3cret", "=s3cret;", true},
        TokenCase{0640, " \ts3cret \r\n", "=s3cret;", true},
        TokenCase{0600, "ops  s3cret\nci\tt0ken\r\n", "ops=s3cret;ci=t0ken;", true},
        TokenCase{0600, "\n  \nops s3cret\n\n", "ops=s3cret;", true},
        TokenCase{0644, "s3cret\n", "readable or writable by others", false},
        TokenCase{0602, "s3cret\n", "readable or writable by others", false},
        TokenCase{0620, "s3cret\n", "writable by its group", false},
        TokenCase{0600, "", "holds no token", false},
        TokenCase{0600, " \r\n\n", "holds no token", false},
        TokenCase{0600, "ops s3cret\na b c\n", ":2: a line holds TOKEN or LABEL TOKEN", false},
        TokenCase{0600, std::string(LIMIT_BYTES, 'x'), "=" + std::string(LIMIT_BYTES, 'x') + ";",
                  true},
        TokenCase{0600, std::string(LIMIT_BYTES + 1, 'x'), "is over 65536 bytes", false}));

TEST(TokenFileKinds, ADirectoryOrNothingIsNoTokenFile) {
    std::vector<TokenLine> lines;
    std::string error;
    EXPECT_FALSE(ReadTokenFile(::testing::TempDir(), lines, error));
    EXPECT_NE(error.find("not a file"), std::string::npos) << error;
    EXPECT_FALSE(ReadTokenFile(::testing::TempDir() + "no-such-token", lines, error));
    EXPECT_NE(error.find("not a file"), std::string::npos) << error;
}

} // namespace
