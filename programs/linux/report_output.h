// What the Linux program prints of an administrative report: lines for a person (at most 80
// columns where the content allows) or one JSON document for scripts (docs/json-report.md).
#pragma once

#include <string>

#include "admin/report.h"

namespace cli {

// The JSON document's format number; raised only when a field changes its meaning or goes.
inline constexpr int kJsonFormat = 1;

// The report of --list or --verify as lines for a person.
std::string ReportText(const admin::Report& report);

// The report as one JSON document, ending in a line feed.
std::string ReportJson(const admin::Report& report, const std::string& strVersion);

}  // namespace cli
