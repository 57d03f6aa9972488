// The fleet in the Prometheus text format (version 0.0.4), rendered from what the workers already
// know: a scrape never waits for a monitor.
//   METRICS_CONTENT_TYPE   the format's media type
//   EscapeLabelValue       a label value as the format writes it
//   RenderMetrics          every series of every monitor, and the build's
#pragma once

#include <string>
#include <vector>
#include "service/Fleet.h"

namespace service {

inline constexpr const char* METRICS_CONTENT_TYPE = "text/plain; version=0.0.4; charset=utf-8";

// Backslash, double quote and line feed escaped with a backslash.
std::string EscapeLabelValue(const std::string& value);

// One series per line (labels line and target) and per monitor (labels monitor, target, unit,
// empty until learned, and line) for each metric, and kelvane_build_info; a value that is not
// known has no series.
std::string RenderMetrics(const std::vector<MonitorState>& monitors,
                          const std::vector<LineState>& lines, const std::string& version);

} // namespace service
