// What a command came to on one target, as kelvanectl prints it and the service answers it: a line
// a person reads at a glance, or one JSON object.
//   TextReport  one line for a person, every byte shown safely
//   ReportJson  the JSON object: the same keys for every outcome of a command
//   JsonReport  that object on one line, strict UTF-8
//   ValidUtf8   a text from a monitor as well-formed UTF-8, for every face that shows it
//   ReadReport, ReadMonitorView  the outcome back from kelvaned's answers: an operation's
//               ReportJson (R), a monitor's state (M) as a status (commands/ReportReading.cpp)
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include "commands/Commands.h"

// The text with each byte that is not well-formed UTF-8 replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

// "TARGET: unit 1, source HDMI1, signal ok, firmware 1.02", or "TARGET: error: ..." followed by
// the values read before the failure. Printable ASCII and well-formed UTF-8 of printable
// characters show as they are, every other byte as <xx>.
std::string TextReport(const std::string& target, Command command, const Outcome& outcome);

// {"target", "command", "ok", "error", "message", and the command's values}, every key present
// whatever happened (null for what is unknown). Its strings are well-formed UTF-8: a byte of the
// monitor or of the command line that is not became U+FFFD, so any dump of it is valid JSON.
nlohmann::ordered_json ReportJson(const std::string& target, Command command,
                                  const Outcome& outcome);

// ReportJson on one line.
std::string JsonReport(const std::string& target, Command command, const Outcome& outcome);

// The outcome an R tells of the command: ok, error, message and the command's values. False when
// the JSON is not an object of the command's keys.
bool ReadReport(const nlohmann::json& report, Command command, Outcome& outcome);

// A status outcome from kelvaned's state of a monitor, as its last poll left it: the values known,
// and for a monitor that did not answer that poll, its failure. False when the JSON is not one.
bool ReadMonitorView(const nlohmann::json& monitor, Outcome& outcome);
