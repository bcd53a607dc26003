// The result report: one JSON line that says what a launch did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

inline constexpr const char* kLauncherVersion = "0.28.0-mac";

struct ResultReport {
  std::string status;  // "passthrough", "ok" or "blocked"
  std::string ip;
  std::string countryCode;
  std::string provider;
  std::string timezone;
  int64_t elapsedMs = 0;
  std::string lat;
  std::string lng;
  std::string lang;
  std::string acceptLang;
  std::string errorCode;
  std::string message;
  std::string launcherVersion = kLauncherVersion;
};

std::string resultReportPath(const std::optional<std::string>& userDataDir);

// The report as one line of JSON with a fixed key order and a final newline.
std::string resultReportJSON(const ResultReport& report);

bool writeReportFile(const ResultReport& report, const std::string& destination);

}  // namespace quillon
