// The line as the core meets it: how long bytes take at the monitors' speed, and a frame whose
// bytes cannot all be written.
#include <gtest/gtest.h>
#include "core/ProtocolRules.h"
#include "tests/support/FakeMonitor.h"

namespace {

using namespace protocol;

TEST(Wire, CarriesTenBitsAByteAt19200Baud) {
    // A start bit, eight data bits and a stop bit: 1920 bytes a second.
    EXPECT_DOUBLE_EQ(WireTimeMs(9), 4.6875);
    EXPECT_DOUBLE_EQ(WireTimeMs(1920), 1000.0);
}

TEST(Wire, AByteThatCannotBeWrittenFailsItsFrameAndNothingFollowsIt) {
    FakeMonitor m({"HD1!"});
    m.line.failingWrites = {4};
    EXPECT_EQ(m.core.ReadSource('1').result, CMD_SEND_FAILED);
    EXPECT_EQ(m.line.written, "@@1");
    EXPECT_TRUE(m.time.sleeps.empty()) << "no wait for the answer to a frame that did not go out";
}

} // namespace
