// How kelvaned shows a monitor, written once for every face that shows one: the API, the event
// stream, the log (and the metrics' labels, which take the same names).
//   MonitorJson   a monitor's state as the API and the event stream show it (M)
//   MonitorText   one line for the log: "answering: unit 1, ..." or "not answering (no answer)"
//   WordsJson     the words of the failures and the sources' names, for the page
//   Rfc3339       a time in ms since 1970 as "2026-03-01T12:00:05Z", or with milliseconds
// An operation's result (R) is commands/Report.h's ReportJson, the one kelvanectl prints.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include "service/Fleet.h"

namespace service {

// {"name", "target", "line", "unit", "reachable", "source", "signal", "firmware", "last_ok",
// "error", "polls", "failures"}.
nlohmann::json MonitorJson(const MonitorState& monitor);

std::string MonitorText(const MonitorState& monitor);

// {"failures": {NAME: WORDS, ...}, "sources": [NAME, ...]}.
nlohmann::json WordsJson();

std::string Rfc3339(std::int64_t wallMs, bool milliseconds = false);

} // namespace service
