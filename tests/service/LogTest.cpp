// kelvaned's log: whatever a monitor or a file sent, one event stays one line.
#include <gtest/gtest.h>
#include "service/Log.h"
#include "tests/support/CapturedStderr.h"

TEST(LogLines, EscapeControlCharactersBackslashesAndBrokenUtf8AndKeepPrintableUtf8) {
    const struct {
        std::string text;
        std::string logged;
    } cases[] = {
        {"firmware 2.05", "firmware 2.05"},
        {"1.0\n2", "1.0\\n2"},
        {"a\r\tb\\n", "a\\r\\tb\\\\n"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"Halle S\xC3\xBC\x64 \xE2\x80\x94 \xE5\x8F\x97\xE4\xBB\x98",
         "Halle S\xC3\xBC\x64 \xE2\x80\x94 \xE5\x8F\x97\xE4\xBB\x98"},
        {"\xC2\xA0\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBD\xF0\x9F\x96\xA5\xF4\x8F\xBF\xBF",
         "\xC2\xA0\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEF\xBF\xBD\xF0\x9F\x96\xA5\xF4\x8F\xBF\xBF"},
        {"\xC2\x85", "\\xc2\\x85"},                   // U+0085, a control character
        {"\xC0\xAF", "\\xc0\\xaf"},                   // an overlong "/"
        {"\xE0\x9F\xBF", "\\xe0\\x9f\\xbf"},          // overlong, three bytes
        {"\xED\xA0\x80", "\\xed\\xa0\\x80"},          // a surrogate
        {"\xF0\x8F\xBF\xBF", "\\xf0\\x8f\\xbf\\xbf"}, // overlong, four bytes
        {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, // beyond U+10FFFF
        {"\xE2\x82", "\\xe2\\x82"},                   // cut short at the end
        {"\xE2\x82"
         "A\xF0\x9F\x96",
         "\\xe2\\x82A\\xf0\\x9f\\x96"},
        {"\xFF\xF5\x80", "\\xff\\xf5\\x80"},
        {"\x80\xBF\x80\x80", "\\x80\\xbf\\x80\\x80"}, // continuations without a lead
    };
    for (const auto& c : cases)
        EXPECT_EQ(service::Escaped(c.text), c.logged) << c.text;
}

TEST(LogLines, AValueWithALineBreakIsLoggedOnOneLine) {
    CapturedStderr logged;
    service::Log("hall (tcp:10.0.0.7:4001): answering: firmware 1.0\nkelvaned: forged\r\n");
    // Not the journal: the line begins with its time, "2026-12-09T09:14:03.120Z ".
    const std::string line = logged.Text();
    ASSERT_GT(line.size(), 25u);
    EXPECT_EQ(line.substr(23, 2), "Z ");
    EXPECT_EQ(line.substr(25), "kelvaned: hall (tcp:10.0.0.7:4001): answering: firmware "
                               "1.0\\nkelvaned: forged\\r\\n\n");
}

TEST(LogLines, OnlyAJournalStreamNamingStderrItselfLeavesTheTimeToTheJournal) {
    const struct {
        const char* variable;
        bool journal;
    } cases[] = {
        {"8:1234", true},  {nullptr, false},   {"", false},  {"8:1235", false},
        {"9:1234", false}, {"8:1234x", false}, {"8", false}, {"dev:ino", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(service::IsJournal(c.variable, 8, 1234), c.journal)
            << (c.variable ? c.variable : "(unset)");
}
