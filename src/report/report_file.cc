#include "report/report_file.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

std::string reportPath(const std::optional<std::string>& userDataDir, const char* fileName) {
  if (userDataDir && !userDataDir->empty()) return joinPath(*userDataDir, fileName);
  return joinPath(appSupportDirectory(), fileName);
}

bool writeReportBytes(const std::string& destination, const std::function<std::string()>& render) {
  std::string temporary = destination + ".tmp";
  if (!makeDirectories(parentPath(destination))) return false;
  if (writeNewFile(temporary, render()) && replaceWithFile(temporary, destination)) return true;
  unlink(temporary.c_str());
  return false;
}

std::string reportTimestamp() {
  // Calendar arithmetic in UTC: unlike gmtime, it never reads the time zone
  // database.
  using namespace std::chrono;
  auto now = floor<seconds>(system_clock::now());
  auto today = floor<days>(now);
  year_month_day date{today};
  hh_mm_ss time{now - today};
  char buf[32];
  snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
           static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
           static_cast<long long>(time.hours().count()),
           static_cast<long long>(time.minutes().count()),
           static_cast<long long>(time.seconds().count()));
  return buf;
}

}  // namespace quillon
