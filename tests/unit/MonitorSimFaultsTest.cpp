// The simulated monitor's random faults and the switches that set them: a seed gives one sequence
// of faults, frame by frame, late answers fit the panel's second read, and the switches combine
// only sensibly; and the line's pace, whatever carries the bytes.
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include "core/ProtocolRules.h"
#include "tools/monitor-sim/FrameReader.h"
#include "tools/monitor-sim/Options.h"
#include "tools/monitor-sim/RandomFaults.h"
#include "tools/monitor-sim/Wire.h"

namespace {

using monitor_sim::Answer;
using monitor_sim::FaultKind;
using monitor_sim::Faults;
using monitor_sim::FaultShaper;
using monitor_sim::FrameFault;
using monitor_sim::RandomFaults;

bool Same(const FrameFault& a, const FrameFault& b) {
    return a.kind == b.kind && a.delayMs == b.delayMs && a.keep == b.keep && a.junk == b.junk &&
           a.pullMs == b.pullMs;
}

// The draws for frames that alternately read 0, 3 and 6 data bytes.
std::vector<FrameFault> Draws(unsigned seed, unsigned percent, size_t count) {
    RandomFaults faults(seed, percent);
    std::vector<FrameFault> draws;
    for (size_t i = 0; i < count; ++i)
        draws.push_back(faults.next(static_cast<unsigned>(i % 3) * 3));
    return draws;
}

std::map<FaultKind, size_t> Kinds(const std::vector<FrameFault>& draws) {
    std::map<FaultKind, size_t> kinds;
    for (const FrameFault& draw : draws)
        ++kinds[draw.kind];
    return kinds;
}

TEST(MonitorSimFaults, ADelayOfTheFirstFramesLeavesTheLaterAnswersAtOnce) {
    Faults faults;
    faults.delayMs = 1300;
    faults.delayFirst = 2;
    FaultShaper shaper(faults);
    const Answer answer{"SOK", true, ""};
    for (std::uint64_t expected : {1300u, 1300u, 0u, 0u})
        EXPECT_EQ(shaper.shape(answer).at(0).afterMs, expected);
}

TEST(RandomFaults, TheSameSeedGivesTheSameFaultsFrameByFrame) {
    const std::vector<FrameFault> first = Draws(42, 30, 2000);
    const std::vector<FrameFault> again = Draws(42, 30, 2000);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), again.begin(), Same));

    const std::vector<FrameFault> other = Draws(43, 30, 2000);
    EXPECT_FALSE(std::equal(first.begin(), first.end(), other.begin(), Same));
}

TEST(RandomFaults, TheNthFrameGetsTheNthDrawWhateverTheFramesBeforeIt) {
    RandomFaults commands(9, 30);
    RandomFaults firmwareQueries(9, 30);
    for (int frame = 0; frame < 500; ++frame)
        ASSERT_EQ(commands.next(0).kind, firmwareQueries.next(6).kind) << "frame " << frame;
}

TEST(RandomFaults, AFramesFaultComesFromTheSeedAndItsNumberAloneInWhateverOrderItIsAsked) {
    const std::vector<FrameFault> inOrder = Draws(21, 60, 300);
    const RandomFaults faults(21, 60);
    for (size_t frame = 300; frame >= 1; --frame)
        ASSERT_TRUE(Same(faults.draw(frame, static_cast<unsigned>((frame - 1) % 3) * 3),
                         inOrder[frame - 1]))
            << "frame " << frame;
}

TEST(RandomFaults, AKindLeftOutOfTheMixIsAnsweredAsItIsAndEveryOtherFrameKeepsItsFault) {
    const RandomFaults all(2, 100);
    const RandomFaults noPulls(2, 100,
                               {FaultKind::Late, FaultKind::Partial, FaultKind::Junk,
                                FaultKind::Silent, FaultKind::Nak, FaultKind::Refuse});
    EXPECT_TRUE(all.makes(FaultKind::Pull));
    EXPECT_FALSE(noPulls.makes(FaultKind::Pull));
    size_t pulls = 0;
    for (unsigned frame = 1; frame <= 3000; ++frame) {
        const FrameFault drawn = all.draw(frame, 3);
        const FrameFault made = noPulls.draw(frame, 3);
        if (drawn.kind != FaultKind::Pull) {
            ASSERT_TRUE(Same(made, drawn)) << "frame " << frame;
            continue;
        }
        ++pulls;
        EXPECT_EQ(made.kind, FaultKind::None);
        EXPECT_EQ(RandomFaults::describe(made, Answer{"SOK", true, ""}), "none (a pull, left out)");
        EXPECT_EQ(RandomFaults::shape(made, Answer{"SOK", true, ""})[0].bytes, "SOK!");
    }
    EXPECT_GT(pulls, 20u);
}

TEST(RandomFaults, TheFaultRateIsTheShareOfFramesWithAFaultAndAPullIsTheRarest) {
    const std::map<FaultKind, size_t> kinds = Kinds(Draws(5, 30, 20000));
    const size_t faulty = 20000 - kinds.at(FaultKind::None);
    EXPECT_GT(faulty, 5600u);
    EXPECT_LT(faulty, 6400u);
    for (FaultKind kind : {FaultKind::Late, FaultKind::Partial, FaultKind::Junk, FaultKind::Silent,
                           FaultKind::Nak, FaultKind::Refuse}) {
        ASSERT_TRUE(kinds.count(kind));
        EXPECT_GT(kinds.at(kind), kinds.at(FaultKind::Pull));
    }
    EXPECT_GT(kinds.at(FaultKind::Pull), 100u) << "about one frame in a hundred";

    EXPECT_EQ(Kinds(Draws(5, 0, 1000)).at(FaultKind::None), 1000u);
    EXPECT_EQ(Kinds(Draws(5, 100, 1000)).count(FaultKind::None), 0u);
}

TEST(RandomFaults, ALateAnswerLandsAfterThePanelsFirstAcknowledgeReadAndBeforeItsSecondEnds) {
    // The panel's first acknowledge read gives up 200 ms + 100 ms per data byte + 100 ms after
    // the frame; its second read starts 500 ms later.
    struct Case {
        unsigned dataReads, firstReadEnds;
    };
    for (const Case& c : {Case{0, 300}, Case{3, 600}, Case{6, 900}}) {
        const monitor_sim::TimeWindow window = monitor_sim::lateAnswerWindow(c.dataReads);
        EXPECT_EQ(window.lowMs, c.firstReadEnds + 100);
        EXPECT_EQ(window.highMs, c.firstReadEnds + 500 - 100);

        RandomFaults faults(11, 100);
        unsigned lowest = ~0u;
        unsigned highest = 0;
        for (int i = 0; i < 5000; ++i) {
            const FrameFault fault = faults.next(c.dataReads);
            if (fault.kind != FaultKind::Late)
                continue;
            lowest = std::min(lowest, fault.delayMs);
            highest = std::max(highest, fault.delayMs);
        }
        EXPECT_GE(lowest, window.lowMs);
        EXPECT_LE(highest, window.highMs);
        EXPECT_GT(highest - lowest, 250u) << "the delays spread over the window";
        // The frame's nine bytes and the answer's at the line's pace still leave a margin.
        EXPECT_LT(window.highMs + protocol::WireTimeMs(FRAME_SIZE + c.dataReads + 1) + 50,
                  c.firstReadEnds + protocol::LATE_ACK_WAIT_MS);
    }
}

TEST(RandomFaults, ThePanelReadsSixDataBytesForFirmwareThreeForQueriesNoneForCommands) {
    EXPECT_EQ(protocol::DataBytes("FVS"), 6u);
    for (const char* query : {"UIG", "SSG", "SIG"})
        EXPECT_EQ(protocol::DataBytes(query), 3u) << query;
    for (const char* command : {"SSS", "DSS", "DCS", "KES"})
        EXPECT_EQ(protocol::DataBytes(command), 0u) << command;
}

TEST(RandomFaults, ARefusalGoesOutLateAsOftenAsAtOnceAndALateAnswerStaysLateWhenItRefuses) {
    FrameFault late;
    late.kind = FaultKind::Late;
    late.delayMs = 500;
    for (const bool ack : {true, false}) {
        const auto writes = RandomFaults::shape(late, Answer{"", ack, ""});
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].afterMs, 500u);
        EXPECT_EQ(writes[0].bytes, ack ? "!" : "?");
    }

    const monitor_sim::TimeWindow window = monitor_sim::lateAnswerWindow(3);
    RandomFaults faults(8, 100);
    std::map<bool, size_t> refusals; // by whether they come late
    for (int i = 0; i < 3000; ++i) {
        const FrameFault draw = faults.next(3);
        if (draw.kind != FaultKind::Refuse)
            continue;
        ++refusals[draw.delayMs != 0];
        EXPECT_EQ(RandomFaults::shape(draw, Answer{})[0].afterMs, draw.delayMs);
        if (draw.delayMs == 0)
            continue;
        EXPECT_GE(draw.delayMs, window.lowMs);
        EXPECT_LE(draw.delayMs, window.highMs);
        EXPECT_EQ(RandomFaults::describe(draw, Answer{}).rfind("refuse late ", 0), 0u)
            << "the soak's judge knows a late answer by its log";
    }
    EXPECT_GT(refusals[true], 100u);
    EXPECT_GT(refusals[false], 100u);
}

TEST(RandomFaults, JunkIsOneToSixBytesAndNeverAnAcknowledge) {
    for (const FrameFault& draw : Draws(3, 100, 5000)) {
        if (draw.kind != FaultKind::Junk)
            continue;
        EXPECT_GE(draw.junk.size(), 1u);
        EXPECT_LE(draw.junk.size(), 6u);
        EXPECT_EQ(draw.junk.find('!'), std::string::npos);
        const auto writes = RandomFaults::shape(draw, Answer{"SOK", true, ""});
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].bytes, draw.junk);
    }
}

TEST(RandomFaults, APartialAnswerKeepsAtLeastOneByteAndLosesAtLeastOne) {
    for (const FrameFault& draw : Draws(4, 100, 3000)) {
        if (draw.kind != FaultKind::Partial)
            continue;
        const auto writes = RandomFaults::shape(draw, Answer{"SOK", true, ""});
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_GE(writes[0].bytes.size(), 1u);
        EXPECT_LE(writes[0].bytes.size(), 3u);
        EXPECT_EQ(std::string("SOK!").rfind(writes[0].bytes, 0), 0u) << "the first bytes";
        EXPECT_TRUE(RandomFaults::shape(draw, Answer{"", true, ""}).empty())
            << "a bare acknowledge is lost whole";
    }
}

TEST(RandomFaults, ANakKeepsTheDataARefusalIsTheNakAloneSilenceAndAPullSendNothing) {
    FrameFault fault;
    fault.kind = FaultKind::Nak;
    EXPECT_EQ(RandomFaults::shape(fault, Answer{"HD2", true, ""})[0].bytes, "HD2?");
    EXPECT_TRUE(RandomFaults::monitorActs(FaultKind::Nak));

    fault.kind = FaultKind::Refuse;
    EXPECT_EQ(RandomFaults::shape(fault, Answer{})[0].bytes, "?");
    for (FaultKind kind : {FaultKind::Silent, FaultKind::Pull}) {
        fault.kind = kind;
        EXPECT_TRUE(RandomFaults::shape(fault, Answer{}).empty());
    }
    for (FaultKind kind : {FaultKind::Refuse, FaultKind::Silent, FaultKind::Pull})
        EXPECT_FALSE(RandomFaults::monitorActs(kind)) << "the monitor does not carry it out";
}

TEST(RandomFaults, APullKeepsTheCableOutForAFewSeconds) {
    for (const FrameFault& draw : Draws(6, 100, 5000)) {
        if (draw.kind != FaultKind::Pull)
            continue;
        EXPECT_GE(draw.pullMs, 300u);
        EXPECT_LE(draw.pullMs, 3000u);
    }
}

struct SwitchCase {
    const char* name;
    std::vector<std::wstring> args;
    std::wstring environment; // KELVANE_CABLE
    bool accepted;
    std::vector<std::wstring> line = {L"--port", L"COM16"};
};

const std::vector<std::wstring> OVER_TCP = {L"--listen", L"127.0.0.1:0"};

class MonitorSimSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(MonitorSimSwitches, AreAcceptedOnlyInCombinationsThatMeanSomething) {
    std::vector<std::wstring> args = GetParam().line;
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    monitor_sim::Options options;
    std::string error;
    EXPECT_EQ(monitor_sim::parseOptions(args, options, error, GetParam().environment),
              GetParam().accepted)
        << error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MonitorSimSwitches,
    ::testing::Values(
        SwitchCase{"RandomWithASeed", {L"--random", L"7"}, L"", true},
        SwitchCase{"RandomWithARate", {L"--random", L"7", L"--fault-rate", L"100"}, L"", true},
        SwitchCase{"RateAbove100", {L"--random", L"7", L"--fault-rate", L"101"}, L"", false},
        SwitchCase{"RateWithoutRandom", {L"--fault-rate", L"50"}, L"", false},
        SwitchCase{"RandomAndAFixedFault", {L"--random", L"7", L"--silent"}, L"", false},
        SwitchCase{
            "RandomAndPullAfter", {L"--random", L"7", L"--pull-after", L"2"}, L"Z:\\c", false},
        SwitchCase{"PullAfterWithoutACable", {L"--pull-after", L"2"}, L"", false},
        SwitchCase{
            "PullAfterWithTheCableOfTheEnvironment", {L"--pull-after", L"2"}, L"Z:\\c", true},
        SwitchCase{
            "PullAfterWithACableSwitch", {L"--pull-after", L"2", L"--cable", L"Z:\\c"}, L"", true},
        SwitchCase{"PullAfterAndDropAfter",
                   {L"--pull-after", L"2", L"--drop-after", L"3", L"--cable", L"Z:\\c"},
                   L"",
                   false},
        SwitchCase{"PullAfterZero", {L"--pull-after", L"0", L"--cable", L"Z:\\c"}, L"", false},
        SwitchCase{"ListenOnAPortAlone", {}, L"", true, {L"--listen", L"4001"}},
        SwitchCase{"ListenOnAPortAbove65535", {}, L"", false, {L"--listen", L"65536"}},
        SwitchCase{"ListenWithoutAHost", {}, L"", false, {L"--listen", L":4001"}},
        SwitchCase{"ListenAndAComPort", {L"--listen", L"0"}, L"", false},
        SwitchCase{"NeitherAComPortNorListen", {L"--unit-id", L"2"}, L"", false, {}},
        SwitchCase{"PullAfterOverTcpDropsTheClientWithoutACable",
                   {L"--pull-after", L"2"},
                   L"",
                   true,
                   OVER_TCP},
        SwitchCase{"ACableOverTcp", {L"--cable", L"Z:\\c"}, L"", false, OVER_TCP},
        SwitchCase{"AChainOfUnits", {L"--unit-id", L"1,2,5"}, L"", true},
        SwitchCase{"AChainWithAUnitTwice", {L"--unit-id", L"1,2,1"}, L"", false},
        SwitchCase{"AChainWithAGap", {L"--unit-id", L"1,,2"}, L"", false},
        SwitchCase{"AChainOfARange", {L"--unit-id", L"1-8"}, L"", true},
        SwitchCase{
            "ADelayOfTheFirstFrames", {L"--delay", L"1300", L"--delay-first", L"1"}, L"", true},
        SwitchCase{"ADelayFirstWithoutADelay", {L"--delay-first", L"1"}, L"", false},
        SwitchCase{"AChainOfRangesAndUnits", {L"--unit-id", L"1-3,7,9-10"}, L"", true},
        SwitchCase{"AChainWhoseRangesOverlap", {L"--unit-id", L"1-3,3-5"}, L"", false},
        SwitchCase{"AChainOfARangeBackwards", {L"--unit-id", L"8-1"}, L"", false},
        SwitchCase{"AChainOfARangePast255", {L"--unit-id", L"250-256"}, L"", false},
        SwitchCase{"AChainOfAnOpenRange", {L"--unit-id", L"3-"}, L"", false},
        SwitchCase{"AFleetOfARange", {}, L"", true, {L"--listen", L"127.0.0.1:7001-7008"}},
        SwitchCase{"AFleetOfEightFreePorts", {}, L"", true, {L"--listen", L"127.0.0.1:0x8"}},
        SwitchCase{"AFleetOfACountFromAPort", {}, L"", true, {L"--listen", L"7001x32"}},
        SwitchCase{"AFleetOfTheMostPorts", {}, L"", true, {L"--listen", L"7001-7064"}},
        SwitchCase{"AFleetOfTooManyPorts", {}, L"", false, {L"--listen", L"7001-7065"}},
        SwitchCase{"AFleetOfTooManyFreePorts", {}, L"", false, {L"--listen", L"0x65"}},
        SwitchCase{"AFleetOfNoPorts", {}, L"", false, {L"--listen", L"0x0"}},
        SwitchCase{"AFleetPast65535", {}, L"", false, {L"--listen", L"65535x2"}},
        SwitchCase{"AFleetUpTo65535", {}, L"", true, {L"--listen", L"65534x2"}},
        SwitchCase{"AFleetOfARangeBackwards", {}, L"", false, {L"--listen", L"7008-7001"}},
        SwitchCase{"AFleetOfARangeFromZero", {}, L"", false, {L"--listen", L"0-7"}},
        SwitchCase{"AFleetOfARangeWithoutAHost", {}, L"", false, {L"--listen", L":7001-7002"}},
        SwitchCase{"RandomOfSomeKinds", {L"--random", L"7", L"--faults", L"late,nak"}, L"", true},
        SwitchCase{"KindsWithoutRandom", {L"--faults", L"late"}, L"", false},
        SwitchCase{
            "KindsWithOneUnknown", {L"--random", L"7", L"--faults", L"late,none"}, L"", false},
        SwitchCase{"KindsWithOneTwice", {L"--random", L"7", L"--faults", L"nak,nak"}, L"", false},
        SwitchCase{"KindsNone", {L"--random", L"7", L"--faults", L""}, L"", false},
        SwitchCase{"AFlagWithAValue", {L"--silent=true"}, L"", false},
        SwitchCase{"ANumberInHex", {L"--delay", L"0x10"}, L"", false},
        SwitchCase{"ASwitchTwice", {L"--delay", L"5", L"--delay", L"6"}, L"", true},
        SwitchCase{"AWordThatIsNoSwitch", {L"extra"}, L"", false}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return info.param.name; });

TEST(MonitorSimSwitchValues, RandomModeKeepsItsSeedAndTheCableSwitchWinsOverTheEnvironment) {
    monitor_sim::Options options;
    std::string error;
    ASSERT_TRUE(monitor_sim::parseOptions(
        {L"--port", L"COM16", L"--random", L"123", L"--cable", L"Z:\\mine"}, options, error,
        L"Z:\\theirs"));
    EXPECT_EQ(options.randomSeed, 123u);
    EXPECT_EQ(options.faultPercent, monitor_sim::kDefaultFaultPercent);
    EXPECT_EQ(options.cableFolder, L"Z:\\mine");
}

TEST(MonitorSimSwitchValues, AChainListensOverTcpWithoutTheCableAndNumbersAreDecimal) {
    monitor_sim::Options options;
    std::string error;
    ASSERT_TRUE(monitor_sim::parseOptions({L"--listen", L"localhost:4001", L"--unit-id", L"1,2,5",
                                           L"--delay", L"010", L"--delay", L"020"},
                                          options, error, L"Z:\\theirs"))
        << error;
    ASSERT_TRUE(options.listen);
    EXPECT_EQ(options.listen->host, "localhost");
    EXPECT_EQ(options.listen->port, 4001u);
    EXPECT_EQ(options.unitIds, (std::vector<unsigned>{1, 2, 5}));
    EXPECT_EQ(options.faults.delayMs, 20u) << "the last one, in decimal";
    EXPECT_TRUE(options.cableFolder.empty()) << "a socket has no test cable";
}

TEST(MonitorSimSwitchValues, AFleetTakesARangeOrACountOfPortsAndEachAChainOfRanges) {
    struct Case {
        const wchar_t* listen;
        const char* host;
        unsigned port, count;
    };
    for (const Case& c :
         {Case{L"127.0.0.1:7001-7008", "127.0.0.1", 7001, 8}, Case{L"0x8", "127.0.0.1", 0, 8},
          Case{L"localhost:7001x3", "localhost", 7001, 3}, Case{L"4001", "127.0.0.1", 4001, 1}}) {
        monitor_sim::Options options;
        std::string error;
        ASSERT_TRUE(monitor_sim::parseOptions({L"--listen", c.listen, L"--unit-id", L"1-3,7",
                                               L"--random", L"5", L"--faults", L"pull,nak"},
                                              options, error))
            << error;
        ASSERT_TRUE(options.listen);
        EXPECT_EQ(options.listen->host, c.host);
        EXPECT_EQ(options.listen->port, c.port);
        EXPECT_EQ(options.listen->count, c.count);
        EXPECT_EQ(options.unitIds, (std::vector<unsigned>{1, 2, 3, 7}));
        EXPECT_EQ(options.faultKinds, (std::vector<FaultKind>{FaultKind::Pull, FaultKind::Nak}));
    }
}

// The line's pace: 19200 baud, ten bits a byte, 520.8 microseconds each.
using monitor_sim::FrameReader;
using monitor_sim::LineEvent;
using monitor_sim::Transmitter;
using monitor_sim::wireUs;

constexpr std::uint64_t T0 = 5'000'000; // a steady clock's reading, in microseconds

TEST(MonitorSimWire, ByteTimesComeFromTheLinesSpeedRoundedUpToTheMicrosecond) {
    EXPECT_EQ(wireUs(0), 0u);
    EXPECT_EQ(wireUs(1), 521u);
    EXPECT_EQ(wireUs(9), 4688u);
    EXPECT_EQ(wireUs(12), 6250u);
}

TEST(MonitorSimWire, AFrameCountsFromWhenItsNinthByteWouldHaveComeOverTheLine) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint64_t, std::string>> chunks; // (came in at, bytes)
        std::vector<std::uint64_t> framesAt;
    };
    const std::vector<Case> cases = {
        {"nine bytes at once, nine byte-times after the first", {{T0, "@@1SIG000"}}, {T0 + 4688}},
        {"bytes at the line's pace or slower keep their own times",
         {{T0, "@@1S"}, {T0 + 4000, "IG000"}},
         {T0 + 4000 + wireUs(5)}},
        {"the ninth byte late: when it came and was through",
         {{T0, "@@1SIG00"}, {T0 + 90'000, "0"}},
         {T0 + 90'000 + 521}},
        {"two frames at once: the second nine byte-times after the first",
         {{T0, "@@1SIG000@@2SIG000"}},
         {T0 + 4688, T0 + wireUs(18)}},
        {"junk first takes its time on the line too", {{T0, "~~~@@1SIG000"}}, {T0 + wireUs(12)}},
        {"from the clock's very start", {{0, "@@1SIG000"}}, {4688}},
    };
    for (const Case& c : cases) {
        FrameReader reader;
        std::vector<std::uint64_t> framesAt;
        for (const auto& [at, bytes] : c.chunks)
            for (const LineEvent& event : reader.feed(bytes, at))
                if (event.kind == LineEvent::Kind::Frame)
                    framesAt.push_back(event.atUs);
        EXPECT_EQ(framesAt, c.framesAt) << c.name;
    }
}

TEST(MonitorSimWire, APartialFrameIsDroppedOnceItsFirstByteIsOlderThanHalfASecond) {
    FrameReader reader;
    EXPECT_TRUE(reader.feed("@@1", T0).empty());
    const std::uint64_t firstThrough = T0 + wireUs(1);
    EXPECT_TRUE(reader.expire(firstThrough + 500'000).empty());
    const std::vector<LineEvent> stale = reader.expire(firstThrough + 500'001);
    ASSERT_EQ(stale.size(), 1u);
    EXPECT_EQ(stale[0].kind, LineEvent::Kind::Stale);
    EXPECT_EQ(stale[0].bytes, "@@1");
}

TEST(MonitorSimWire, AnAnswersBytesGoOutOneByteTimeApartEachOnceItWouldBeThrough) {
    Transmitter line;
    line.send(T0, "SOK!", false);
    EXPECT_EQ(line.nextUs(), T0 + 521);
    struct Step {
        std::uint64_t at;
        const char* out;
    };
    std::vector<std::string> finished;
    for (const Step& step :
         {Step{T0, ""}, Step{T0 + 520, ""}, Step{T0 + 521, "S"}, Step{T0 + 1500, "O"},
          Step{T0 + wireUs(3), "K"}, Step{T0 + wireUs(4) - 1, ""}}) {
        EXPECT_EQ(line.take(step.at, finished), step.out) << step.at - T0;
        EXPECT_TRUE(finished.empty());
    }
    EXPECT_TRUE(line.carriesAnswer());
    EXPECT_EQ(line.take(T0 + wireUs(4), finished), "!");
    EXPECT_EQ(finished, std::vector<std::string>{"SOK!"})
        << "the answer is finished with its last byte";
    EXPECT_FALSE(line.carriesAnswer());
    EXPECT_FALSE(line.nextUs());
}

TEST(MonitorSimWire, AWriteWaitsForTheLineAndALateLoopSendsWhatIsDueAtOnce) {
    Transmitter line;
    line.send(T0, "FV1.02!", false);
    line.send(T0 + 1000, "~", true); // noise due while the answer is on the line
    line.send(T0 + 20'000, "!", false);
    std::vector<std::string> finished;
    EXPECT_EQ(line.take(T0 + wireUs(7), finished), "FV1.02!");
    EXPECT_EQ(line.nextUs(), T0 + wireUs(8)) << "the noise byte after the answer's last";
    EXPECT_EQ(line.take(T0 + 19'999, finished), "~");
    EXPECT_EQ(finished, std::vector<std::string>{"FV1.02!"}) << "noise is no answer";
    EXPECT_EQ(line.take(T0 + 20'520, finished), "") << "a write due later keeps its time";
    EXPECT_EQ(line.take(T0 + 20'521, finished), "!");

    line.send(T0 + 30'000, "HD1!", false);
    line.clear();
    EXPECT_FALSE(line.carriesAnswer()) << "bytes on their way go with the cable";
    EXPECT_EQ(line.take(T0 + 40'000, finished), "");
}

} // namespace
