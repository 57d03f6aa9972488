// The protocol core's reading of an answer, case by case from the table the line trace's tests
// run too, and two cores working two lines at once.
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include "core/MonitorProtocol.h"
#include "tests/support/FakeLine.h"

namespace {

struct LineCase {
    std::string frame;
    std::vector<std::pair<std::uint64_t, std::string>> arrivals; // ms after the frame, bytes
    std::string reading;
    std::uint64_t pacedEndMs = 0; // when each policy has its reading, ms after the frame
    std::uint64_t fastEndMs = 0;
    std::string note;
};

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Bytes as the trace shows them: <xx> is a byte in hex, any other character itself.
std::string ReadBytes(const std::string& shown) {
    std::string bytes;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '<' && i + 3 < shown.size() && shown[i + 3] == '>') {
            bytes += static_cast<char>(std::stoi(shown.substr(i + 1, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += shown[i];
        }
    }
    return bytes;
}

std::vector<LineCase> LoadCases() {
    std::ifstream file(LINE_CASES_FILE);
    std::vector<LineCase> cases;
    std::string line;
    char slash = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream columns(line);
        for (std::string field; std::getline(columns, field, '|');)
            fields.push_back(Trim(field));
        LineCase c{fields.at(0), {}, fields.at(2), 0, 0, fields.size() > 4 ? fields[4] : ""};
        std::stringstream(fields.at(3)) >> c.pacedEndMs >> slash >> c.fastEndMs;
        std::stringstream groups(fields.at(1));
        for (std::string group; std::getline(groups, group, ',');) {
            std::stringstream parts(group);
            std::uint64_t ms = 0;
            std::string shown;
            parts >> ms >> shown;
            c.arrivals.emplace_back(ms, ReadBytes(shown));
        }
        cases.push_back(c);
    }
    return cases;
}

std::string ReadingOf(const Exchange& exchange) {
    switch (exchange.result) {
    case CMD_ACK:
        return "ACK";
    case CMD_NAK:
        return "NAK";
    case CMD_LINK_ERROR:
        return exchange.received == 0 ? "no answer" : "partial";
    default:
        return "write failed";
    }
}

CommandFrame FrameOf(const std::string& text) {
    CommandFrame frame{};
    text.copy(reinterpret_cast<char*>(&frame), sizeof frame);
    return frame;
}

struct PolicyCase {
    LineCase line;
    Timing timing;
};

std::vector<PolicyCase> UnderBothPolicies() {
    std::vector<PolicyCase> cases;
    for (const LineCase& c : LoadCases())
        for (Timing timing : {Timing::Paced, Timing::AnswerDriven})
            cases.push_back({c, timing});
    return cases;
}

class LineCases : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(LineCases, TheCoreReadsTheAnswerAsTheTableSaysAndWhenItSays) {
    const LineCase& c = GetParam().line;
    const Timing timing = GetParam().timing;
    ASSERT_LE(c.arrivals.size(), 2u) << "a fake answer has at most two groups of bytes";
    VirtualTime time;
    FakeLine line(time);
    LineModel::Answer answer;
    if (!c.arrivals.empty())
        answer = {c.arrivals[0].second, c.arrivals[0].first};
    if (c.arrivals.size() == 2) {
        answer.lateBytes = c.arrivals[1].second;
        answer.lateDelay = c.arrivals[1].first;
    }
    line.answers.push_back(answer);
    MonitorProtocol core(line, time, timing);
    const CommandFrame frame = FrameOf(c.frame);
    const bool readData = protocol::DataBytes(c.frame.substr(3, 3)) == protocol::QUERY_DATA_BYTES;
    const char* policy = timing == Timing::Paced ? "paced" : "answer-driven";
    EXPECT_EQ(ReadingOf(core.Transact(frame, readData)), c.reading)
        << c.frame << " " << policy << ": " << c.note;
    EXPECT_EQ(line.frames, std::vector<std::string>{c.frame});
    EXPECT_EQ(time.Now() - line.frameTimes.at(0),
              timing == Timing::Paced ? c.pacedEndMs : c.fastEndMs)
        << c.frame << " " << policy << ": " << c.note;
}

INSTANTIATE_TEST_SUITE_P(FromTheTable, LineCases, ::testing::ValuesIn(UnderBothPolicies()));

TEST(TwoCores, WorkTwoLinesAtOnceWithoutSharingAnything) {
    // Each thread switches its own monitor over and over: one monitor acknowledges at once, the
    // other refuses once every time and takes the resend. Nothing of one may reach the other.
    struct Side {
        char address;
        int source;
        std::vector<LineModel::Answer> answers;
        std::vector<SwitchOutcome> outcomes;
        std::vector<std::string> frames;
    };
    Side left{'1', 1, {{"!"}, {"SOK!"}}, {}, {}};
    Side right{'7', 3, {{"?"}, {"!"}, {"NOS!"}}, {}, {}};
    constexpr int ROUNDS = 200;
    auto work = [](Side& side) {
        VirtualTime time;
        FakeLine line(time);
        MonitorProtocol core(line, time);
        for (int i = 0; i < ROUNDS; ++i) {
            line.answers.insert(line.answers.end(), side.answers.begin(), side.answers.end());
            side.outcomes.push_back(core.SwitchSource(side.address, side.source));
        }
        side.frames = line.frames;
    };
    std::thread first(work, std::ref(left));
    std::thread second(work, std::ref(right));
    first.join();
    second.join();

    for (const SwitchOutcome& outcome : left.outcomes) {
        EXPECT_EQ(outcome.first, CMD_ACK);
        EXPECT_TRUE(outcome.Switched() && outcome.signal.signal);
    }
    for (const SwitchOutcome& outcome : right.outcomes) {
        EXPECT_EQ(outcome.first, CMD_NAK);
        EXPECT_TRUE(outcome.Switched() && !outcome.signal.signal);
    }
    EXPECT_EQ(left.frames.size(), 2u * ROUNDS);
    EXPECT_EQ(right.frames.size(), 3u * ROUNDS);
    for (const std::string& frame : left.frames)
        EXPECT_TRUE(frame == "@@1SSSHD2" || frame == "@@1SIG000") << frame;
    for (const std::string& frame : right.frames)
        EXPECT_TRUE(frame == "@@7SSSVGA" || frame == "@@7SIG000") << frame;
}

} // namespace
