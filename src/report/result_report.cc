#include "report/result_report.h"

#include "report/json_escape.h"
#include "report/report_file.h"

namespace quillon {

std::string resultReportPath(const std::optional<std::string>& userDataDir) {
  return reportPath(userDataDir, kResultReportName);
}

std::string resultReportJSON(const ResultReport& r) {
  std::string out = "{\"schema\":1";
  auto text = [&out](const char* key, const std::string& value) {
    out += ",\"";
    out += key;
    out += "\":\"";
    out += jsonEscape(value);
    out += '"';
  };
  out += ",\"ts\":\"" + reportTimestamp() + "\"";
  text("status", r.status);
  text("ip", r.ip);
  text("timezone", r.timezone);
  text("country_code", r.countryCode);
  text("lat", r.lat);
  text("lng", r.lng);
  text("lang", r.lang);
  text("accept_lang", r.acceptLang);
  out += ",\"elapsed_ms\":" + std::to_string(r.elapsedMs);
  text("provider", r.provider);
  text("error_code", r.errorCode);
  text("message", r.message);
  text("launcher_version", r.launcherVersion);
  out += "}\n";
  return out;
}

bool writeReportFile(const ResultReport& report, const std::string& destination) {
  return writeReportBytes(destination, [&report] { return resultReportJSON(report); });
}

}  // namespace quillon
