// The core's longer operations on the virtual clock: the source switch, the default setting and
// the diagnostic mode, with their waits, polls, stops and bounds, and each operation's floor.
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "core/MonitorProtocol.h"
#include "tests/support/FakeMonitor.h"

namespace {

using namespace protocol;
using Frames = std::vector<std::string>;
using Waits = std::vector<std::uint32_t>;

// The core's own waits of a line's operation, without those of its exchanges' answers.
Waits LongWaits(const VirtualTime& time) {
    Waits waits;
    for (std::uint32_t ms : time.sleeps)
        if (ms != ANSWER_WAIT_MS && ms != LATE_ACK_WAIT_MS)
            waits.push_back(ms);
    return waits;
}

using Monitor = FakeMonitor;

TEST(SwitchSource, ARefusalGetsTheSameFrameAfter2000msAndTheSignalIsReadAgain3000msLater) {
    Monitor m({"?", "!", "NOS!"});
    const SwitchOutcome outcome = m.core.SwitchSource('2', 2);
    EXPECT_EQ(outcome.first, CMD_NAK);
    EXPECT_TRUE(outcome.Switched());
    EXPECT_EQ(outcome.signal.result, CMD_ACK);
    EXPECT_FALSE(outcome.signal.signal);
    EXPECT_EQ(m.line.frames, (Frames{"@@2SSSHD3", "@@2SSSHD3", "@@2SIG000"}));
    EXPECT_EQ(LongWaits(m.time), (Waits{2000, 3000}));
    const auto& at = m.line.frameTimes;
    EXPECT_GE(at[1] - at[0], RESEND_WAIT_MS + ANSWER_WAIT_MS);
    EXPECT_GE(at[2] - at[1], SWITCH_WAIT_MS + ANSWER_WAIT_MS);
}

TEST(SwitchSource, RefusedTwiceOrUnansweredStopsWithoutARecheck) {
    Monitor refused({"?", "?"});
    EXPECT_EQ(refused.core.SwitchSource('1', 0).result, CMD_NAK);
    EXPECT_EQ(refused.line.frames, (Frames{"@@1SSSHD1", "@@1SSSHD1"}));
    EXPECT_EQ(LongWaits(refused.time), (Waits{RESEND_WAIT_MS}));

    Monitor silent({});
    const SwitchOutcome outcome = silent.core.SwitchSource('1', 3);
    EXPECT_EQ(outcome.result, CMD_LINK_ERROR);
    EXPECT_EQ(silent.line.frames, (Frames{"@@1SSSVGA"}));
    EXPECT_EQ(LongWaits(silent.time), Waits{});
}

// Refused, resent and acknowledged, each exchange meeting a line that chatters until its drain
// gives up, and each byte of its answer coming as its read would give up. The bound holds, and it
// is short of this only by the read a real drain may be in when it reaches its limit.
TEST(SwitchSource, AtItsLongestStaysWithinItsBoundAndComesCloseToIt) {
    Monitor m({});
    m.line.chattersUntilDrained = true;
    // After the answer wait, a read of 100 ms for each data byte and the acknowledge, then the
    // late wait and its read.
    const std::uint64_t firstRead = ANSWER_WAIT_MS + READ_TIMEOUT_MS;
    const auto lastRead = [&](std::uint64_t dataBytes) {
        return firstRead + dataBytes * READ_TIMEOUT_MS + LATE_ACK_WAIT_MS + READ_TIMEOUT_MS;
    };
    m.line.answers = {{.lateBytes = "?", .lateDelay = lastRead(0)},
                      {.lateBytes = "!", .lateDelay = lastRead(0)},
                      {.bytes = "NOS",
                       .delay = firstRead,
                       .lateBytes = "!",
                       .lateDelay = lastRead(QUERY_DATA_BYTES),
                       .spacing = READ_TIMEOUT_MS}};
    const SwitchOutcome outcome = m.core.SwitchSource('1', 1);
    EXPECT_EQ(outcome.first, CMD_NAK);
    EXPECT_TRUE(outcome.Switched());
    EXPECT_EQ(outcome.signal.result, CMD_ACK);
    EXPECT_EQ(m.line.frames, (Frames{"@@1SSSHD2", "@@1SSSHD2", "@@1SIG000"}));
    EXPECT_LE(m.time.Now(), SWITCH_LIMIT_MS);
    EXPECT_GE(m.time.Now(), SWITCH_LIMIT_MS - 3 * READ_TIMEOUT_MS);
}

TEST(SwitchSource, ASourceOutsideTheTableSendsNothing) {
    for (int source : {-1, SOURCE_COUNT, 99}) {
        Monitor m({"!"});
        EXPECT_FALSE(m.core.SwitchSource('1', source).Switched());
        EXPECT_EQ(m.line.written, "") << source;
        EXPECT_EQ(m.time.sleeps, Waits{});
    }
}

TEST(RestoreDefaults, PollsTheSignalUntilTheFirstGoodOneThenSettlesAndRereads) {
    Monitor m({"!", "NOS!", "SOK!", "HD1!", "SOK!", "001!", "001.02!"});
    std::vector<Query> asked;
    const ResetOutcome outcome = m.core.RestoreDefaults('1', [&](Query query) {
        asked.push_back(query);
        MonitorStatus status;
        return m.core.Ask(query, '1', status) == CMD_ACK;
    });
    EXPECT_EQ(outcome.result, CMD_ACK);
    EXPECT_EQ(outcome.polls, 2);
    EXPECT_TRUE(outcome.signal);
    EXPECT_EQ(m.line.frames, (Frames{"@@1DSSEXE", "@@1SIG000", "@@1SIG000", "@@1SSG000",
                                     "@@1SIG000", "@@0UIG000", "@@1FVSENA"}));
    EXPECT_EQ(LongWaits(m.time), (Waits{SETTLE_WAIT_MS}));
    EXPECT_EQ(asked, (std::vector<Query>{RESET_REREADS[0], RESET_REREADS[1], RESET_REREADS[2],
                                         RESET_REREADS[3]}));
    // The settling wait lies between the last poll and the first reread.
    EXPECT_GE(m.line.frameTimes[3] - m.line.frameTimes[2], SETTLE_WAIT_MS);
}

TEST(RestoreDefaults, PollsFiveTimesAtMostAndStopsRereadingWhenToldTo) {
    Monitor m({"!", "NOS!", "NOS!", "NOS!", "NOS!", "NOS!", "NOS!"});
    int rereads = 0;
    const ResetOutcome outcome = m.core.RestoreDefaults('1', [&](Query) {
        ++rereads;
        return false;
    });
    EXPECT_EQ(outcome.polls, SIGNAL_POLLS);
    EXPECT_FALSE(outcome.signal);
    EXPECT_EQ(m.line.frames.size(), 1u + SIGNAL_POLLS);
    EXPECT_EQ(rereads, 1);
}

TEST(RestoreDefaults, ARefusedResetStopsThere) {
    Monitor m({"?", "SOK!"});
    bool reread = false;
    const ResetOutcome outcome = m.core.RestoreDefaults('1', [&](Query) { return reread = true; });
    EXPECT_EQ(outcome.result, CMD_NAK);
    EXPECT_EQ(outcome.polls, 0);
    EXPECT_FALSE(reread);
    EXPECT_EQ(m.line.frames, Frames{"@@1DSSEXE"});
    EXPECT_EQ(LongWaits(m.time), Waits{});
}

TEST(ReadSource, KnowsEachWireCodeAndNoOther) {
    const struct {
        const char* answer;
        int source;
    } cases[] = {{"HD1!", 0},  {"HD2!", 1},  {"HD3!", 2}, {"VGA!", 3},
                 {"HD4!", -1}, {"hd1!", -1}, {"DVI!", -1}};
    for (const auto& c : cases) {
        Monitor m({c.answer});
        const SourceReading reading = m.core.ReadSource('1');
        EXPECT_EQ(reading.result, CMD_ACK) << c.answer;
        EXPECT_EQ(reading.source, c.source) << c.answer;
    }
}

TEST(StartDiagnostic, PausesAfterEachAcknowledgedFrameAndStopsAtTheFirstOneNotAcknowledged) {
    Monitor all({"!", "!", "!"});
    EXPECT_TRUE(all.core.StartDiagnostic('3').Started());
    EXPECT_EQ(all.line.frames, (Frames{"@@3DCSPON", "@@3KESFAC", "@@3KESPLS"}));
    EXPECT_EQ(LongWaits(all.time),
              (Waits{DIAGNOSTIC_FRAMES[0].waitAfterMs, DIAGNOSTIC_FRAMES[1].waitAfterMs}));

    Monitor second({"!", "?", "!"});
    const DiagnosticOutcome outcome = second.core.StartDiagnostic('3');
    EXPECT_EQ(outcome.failedStep, 2);
    EXPECT_EQ(outcome.result, CMD_NAK);
    EXPECT_EQ(second.line.frames, (Frames{"@@3DCSPON", "@@3KESFAC"}));
    EXPECT_EQ(LongWaits(second.time), Waits{DIAGNOSTIC_FRAMES[0].waitAfterMs});
}

// The floors the help tells are what each operation takes on a monitor that answers at once, the
// frames' own time on the line aside: the fake line carries them in no time.
TEST(Floors, AreWhatEachOperationTakesOnAMonitorThatAnswersAtOnce) {
    const std::string STATUS[] = {"001!", "HD1!", "SOK!", "001.02!"};
    const auto askAll = [](Monitor& m, bool unitKnown) {
        return [&m, unitKnown](Query query) {
            MonitorStatus status;
            return (unitKnown && query == Query::UnitId) ||
                   m.core.Ask(query, '1', status) == CMD_ACK;
        };
    };
    const struct {
        const char* operation;
        std::vector<std::string> answers;
        std::function<void(Monitor&)> run;
        double floorMs;
    } cases[] = {
        {"status",
         {STATUS, STATUS + 4},
         [](Monitor& m) { m.core.ReadStatus(std::nullopt); },
         StatusFloorMs(true)},
        {"status of a known unit",
         {STATUS + 1, STATUS + 4},
         [](Monitor& m) { m.core.ReadStatus(1); },
         StatusFloorMs(false)},
        {"switch",
         {"001!", "!", "SOK!"},
         [](Monitor& m) {
             m.core.ReadUnitId();
             m.core.SwitchSource('1', 0);
         },
         SwitchFloorMs(true)},
        {"switch of a known unit",
         {"!", "SOK!"},
         [](Monitor& m) { m.core.SwitchSource('1', 0); },
         SwitchFloorMs(false)},
        {"reset",
         {"001!", "!", "SOK!", "HD1!", "SOK!", "001!", "001.02!"},
         [&](Monitor& m) {
             m.core.ReadUnitId();
             m.core.RestoreDefaults('1', askAll(m, false));
         },
         ResetFloorMs(true)},
        {"reset of a known unit",
         {"!", "SOK!", "HD1!", "SOK!", "001.02!"},
         [&](Monitor& m) { m.core.RestoreDefaults('1', askAll(m, true)); },
         ResetFloorMs(false)},
        {"diagnostic",
         {"001!", "!", "!", "!"},
         [](Monitor& m) {
             m.core.ReadUnitId();
             m.core.StartDiagnostic('1');
         },
         DiagnosticFloorMs(true)},
        {"diagnostic of a known unit",
         {"!", "!", "!"},
         [](Monitor& m) { m.core.StartDiagnostic('1'); },
         DiagnosticFloorMs(false)},
        {"probe of a unit ID where nothing answers",
         {},
         [](Monitor& m) { m.core.ProbeUnit('1'); },
         SilentProbeMs()},
    };
    for (const auto& c : cases) {
        Monitor m(c.answers);
        c.run(m);
        EXPECT_TRUE(m.line.answers.empty()) << c.operation;
        EXPECT_DOUBLE_EQ(m.time.Now() + m.line.frames.size() * WireTimeMs(FRAME_SIZE), c.floorMs)
            << c.operation;
    }
}

} // namespace
