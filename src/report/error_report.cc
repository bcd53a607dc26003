#include "report/error_report.h"

#include <sys/stat.h>
#include <unistd.h>

#include <type_traits>

#include "report/json_escape.h"
#include "report/report_file.h"

namespace quillon {

namespace {

void appendValue(std::string& out, const ReportValue& value) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          out += '"';
          out += jsonEscape(v);
          out += '"';
        } else if constexpr (std::is_integral_v<T>) {
          out += std::to_string(v);
        } else {
          out += "null";
        }
      },
      value);
}

}  // namespace

std::string errorReportPath(const std::optional<std::string>& userDataDir) {
  return reportPath(userDataDir, kErrorReportName);
}

void removeStaleErrorReport(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) unlink(path.c_str());
}

std::vector<ReportEntry> errorReportEntries(const ErrorReport& report) {
  std::vector<ReportEntry> entries;
  entries.emplace_back("schema", 1);
  entries.emplace_back("ts", reportTimestamp());
  entries.emplace_back("step", report.step);
  entries.emplace_back("error_code", report.errorCode);
  entries.emplace_back("message", report.message);
  if (report.proxy) entries.emplace_back("proxy", *report.proxy);
  if (report.discoveryURL) entries.emplace_back("discovery_url", *report.discoveryURL);
  if (report.curlExitCode) entries.emplace_back("curl_exit_code", *report.curlExitCode);
  entries.emplace_back("elapsed_ms", report.elapsedMs);
  entries.emplace_back("launcher_version", report.launcherVersion);
  return entries;
}

std::string serializeReportEntries(const std::vector<ReportEntry>& entries) {
  std::string out = "{";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ',';
    out += '"';
    out += jsonEscape(entries[i].first);
    out += "\":";
    appendValue(out, entries[i].second);
  }
  out += "}\n";
  return out;
}

std::string errorReportJSON(const ErrorReport& report) {
  return serializeReportEntries(errorReportEntries(report));
}

bool writeReportFile(const ErrorReport& report, const std::string& destination) {
  return writeReportBytes(destination, [&report] { return errorReportJSON(report); });
}

}  // namespace quillon
