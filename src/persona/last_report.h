// The last launch's result report of a profile, as quillon-persona reads it:
// never trusted, never changed.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "config/json_read.h"

namespace quillon {

struct LastReport {
  JsonFileState state = JsonFileState::missing;  // "malformed" also when status is not text
  std::string status;
  std::string timestamp;
  std::string ip;
  std::string countryCode;
  std::string timezone;
  std::string lat, lng, lang, acceptLang;
  std::optional<long long> ageSeconds;  // from its timestamp to now
};

LastReport readLastReport(const std::optional<std::string>& userDataDir, std::time_t now);

// Seconds from an RFC 3339 UTC time of the report's form ("2026-12-06T14:01:21Z")
// to now; none for any other text.
std::optional<long long> secondsSince(const std::string& timestamp, std::time_t now);

// "read", "missing", "malformed", "too large", "not a regular file", "unreadable".
const char* jsonFileStateName(JsonFileState state);

}  // namespace quillon
