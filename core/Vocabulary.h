// The words every face of the console programs and the service shares, written once: what went
// wrong with a command or a poll, and what the signal query found. The sources' names are in
// core/Sources.h.
//   Failure, FAILURES, FAILURE_COUNT  what went wrong: its name (for scripts, the API, the metrics'
//                                     reason label) and its words (for people)
//   FailureName, FailureWords, FailureNamed  from a failure to its name and words, and back
//   FailureOf                         the failure an exchange's result stands for
//   SignalName                        "ok" or "none"
// Standard C++ only.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string_view>
#include "core/Frame.h"

namespace protocol {

// In the order of FAILURES. None is no failure at all.
enum class Failure : unsigned char {
    None,
    Open,        // the line could not be opened (or set up)
    NoAnswer,    // the monitor did not answer, or not wholly
    Refused,     // the monitor answered with a refusal
    Write,       // a frame could not be written to the line
    Interrupted, // cut short by Ctrl-C or a stop before it finished
    Busy,        // not run: too many operations already wait for the line
    // More than one monitor answered at address "0": a daisy chain whose unit was not given.
    SeveralAnswers,
};

struct FailureText {
    const char* name;  // for programs: "no-answer"
    const char* words; // for people: "no answer"
};

inline constexpr FailureText FAILURES[] = {
    {"", ""},
    {"open", "cannot open the line"},
    {"no-answer", "no answer"},
    {"refused", "refused"},
    {"write", "cannot write to the line"},
    {"interrupted", "interrupted"},
    {"busy", "too many operations wait for the line"},
    {"several-answers", "more than one monitor answered at address 0: give --unit"},
};
inline constexpr int FAILURE_COUNT = static_cast<int>(std::size(FAILURES));

constexpr const char* FailureName(Failure failure) {
    return FAILURES[static_cast<int>(failure)].name;
}

constexpr const char* FailureWords(Failure failure) {
    return FAILURES[static_cast<int>(failure)].words;
}

// The failure of a name; none for a name that is no failure's (the empty one included).
constexpr std::optional<Failure> FailureNamed(std::string_view name) {
    for (int i = 1; i < FAILURE_COUNT; ++i)
        if (name == FAILURES[i].name)
            return static_cast<Failure>(i);
    return std::nullopt;
}

// An acknowledge is no failure; a refusal, a frame that could not be written, and everything else
// (no answer, or no acknowledge read) are.
constexpr Failure FailureOf(CommandResult result) {
    switch (result) {
    case CMD_ACK:
        return Failure::None;
    case CMD_NAK:
        return Failure::Refused;
    case CMD_SEND_FAILED:
        return Failure::Write;
    default:
        return Failure::NoAnswer;
    }
}

// What the signal query found, as every face names it.
constexpr const char* SignalName(bool signal) {
    return signal ? "ok" : "none";
}

} // namespace protocol
