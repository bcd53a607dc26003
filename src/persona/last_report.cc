#include "persona/last_report.h"

#include <cstdio>

#include "report/result_report.h"

namespace quillon {

namespace {

std::string textOf(const Json& report, const char* key) {
  auto it = report.find(key);
  return it != report.end() && it->is_string() ? it->get<std::string>() : "";
}

}  // namespace

const char* jsonFileStateName(JsonFileState state) {
  switch (state) {
    case JsonFileState::read:
      return "read";
    case JsonFileState::missing:
      return "missing";
    case JsonFileState::malformed:
      return "malformed";
    case JsonFileState::tooLarge:
      return "too large";
    case JsonFileState::notRegular:
      return "not a regular file";
    case JsonFileState::unreadable:
      return "unreadable";
  }
  return "unreadable";
}

std::optional<long long> secondsSince(const std::string& timestamp, std::time_t now) {
  int year, month, day, hour, minute, second;
  char zulu = 0, extra = 0;
  if (timestamp.size() != 20 ||
      std::sscanf(timestamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &year, &month, &day, &hour,
                  &minute, &second, &zulu, &extra) != 7 ||
      zulu != 'Z' || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<long long>(now) - static_cast<long long>(timegm(&tm));
}

LastReport readLastReport(const std::optional<std::string>& userDataDir, std::time_t now) {
  LastReport last;
  JsonFileRead file = readJsonObjectFileChecked(resultReportPath(userDataDir));
  last.state = file.state;
  if (!file.object) return last;
  const Json& report = *file.object;
  auto status = report.find("status");
  if (status == report.end() || !status->is_string()) {
    last.state = JsonFileState::malformed;
    return last;
  }
  last.status = status->get<std::string>();
  last.timestamp = textOf(report, "ts");
  last.ip = textOf(report, "ip");
  last.countryCode = textOf(report, "country_code");
  last.timezone = textOf(report, "timezone");
  last.lat = textOf(report, "lat");
  last.lng = textOf(report, "lng");
  last.lang = textOf(report, "lang");
  last.acceptLang = textOf(report, "accept_lang");
  last.ageSeconds = secondsSince(last.timestamp, now);
  return last;
}

}  // namespace quillon
