// The error report: one JSON line left next to the result report when egress
// discovery fails, naming the step, the error and what it was tried with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "report/result_report.h"

namespace quillon {

inline constexpr const char* kDiscoveryStep = "discover_proxy_ip";

struct ErrorReport {
  std::string step;
  std::string errorCode;
  std::string message;
  std::optional<std::string> proxy;
  std::optional<std::string> discoveryURL;
  std::optional<int64_t> curlExitCode;
  int64_t elapsedMs = 0;
  std::string launcherVersion = kLauncherVersion;
};

// A value of a report entry. Strings and integers of either width are
// written as such; any other alternative is written as null.
using ReportValue = std::variant<std::string, int, int64_t, std::nullptr_t>;
using ReportEntry = std::pair<std::string, ReportValue>;

std::string errorReportPath(const std::optional<std::string>& userDataDir);

// Deletes the report file at path; a missing file or any failure is ignored.
// Only a file or link is removed, never a directory.
void removeStaleErrorReport(const std::string& path);

// The entries in report order; absent optionals are left out. The timestamp
// is taken now.
std::vector<ReportEntry> errorReportEntries(const ErrorReport& report);

// {"key":value,...} and a line feed, keys and strings through jsonEscape.
std::string serializeReportEntries(const std::vector<ReportEntry>& entries);

// serializeReportEntries(errorReportEntries(report)).
std::string errorReportJSON(const ErrorReport& report);

bool writeReportFile(const ErrorReport& report, const std::string& destination);

}  // namespace quillon
