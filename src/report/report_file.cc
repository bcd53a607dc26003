#include "report/report_file.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

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
  time_t now = time(nullptr);
  tm utc{};
  gmtime_r(&now, &utc);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buf;
}

}  // namespace quillon
