// The sources' names and codes, as the monitors send them and as people type and read them.
#include <gtest/gtest.h>
#include "core/Sources.h"

using namespace protocol;

TEST(Sources, AreFoundByCodeAndByNameInAnyCaseAndListedAsASentence) {
    const struct {
        const char* text;
        int byCode;
        int byName;
    } cases[] = {{"HD1", 0, -1},   {"HDMI1", -1, 0},  {"hdmi2", -1, 1},  {"HD3", 2, -1},
                 {"VGA", 3, 3},    {"vga", -1, 3},    {"HDMI4", -1, -1}, {"", -1, -1},
                 {"HDMI", -1, -1}, {"HDMI10", -1, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(SourceByCode(c.text), c.byCode) << c.text;
        EXPECT_EQ(SourceByName(c.text), c.byName) << c.text;
    }
    EXPECT_STREQ(SourceName(3), "VGA");
    EXPECT_STREQ(SourceName(SOURCE_COUNT), "?");
    EXPECT_STREQ(SourceName(-1), "?");
    EXPECT_EQ(SourceChoices(), "HDMI1, HDMI2, HDMI3 or VGA");
}
