// The error report: whole bytes, optional keys and the file's life (written
// safely, removed when stale).
#include "report/error_report.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/paths.h"
#include "report/report_file.h"
#include "support/test_files.h"

namespace quillon {
namespace {

// The report with its timestamp replaced by TS, after checking its form.
std::string withoutTimestamp(const std::string& json) {
  const std::string key = "\"ts\":\"";
  size_t at = json.find(key) + key.size();
  EXPECT_TRUE(
      std::regex_match(json.substr(at, 20), std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)")))
      << json;
  return json.substr(0, at) + "TS" + json.substr(at + 20);
}

ErrorReport report(const char* code, const std::string& message) {
  ErrorReport r;
  r.step = kDiscoveryStep;
  r.errorCode = code;
  r.message = message;
  r.proxy = "socks5://user:pw@127.0.0.1:1";
  r.discoveryURL = "https://geo.quillon.test/geoip?format=json";
  return r;
}

TEST(ErrorReportJson, WholeBytesWithAndWithoutOptionalKeys) {
  ErrorReport unreachable =
      report("PROXY_UNREACHABLE", "got \"<h1>\"\r\nline\\two\ttab \x01 \u00e9");
  unreachable.curlExitCode = 7;
  unreachable.elapsedMs = 3;
  ErrorReport missing = report("CURL_NOT_FOUND", "/usr/bin/curl missing \u2014 macOS");
  ErrorReport bare;
  bare.step = "s";
  bare.errorCode = "INTERNAL";
  bare.message = "m";
  bare.curlExitCode = 0;
  bare.elapsedMs = -5;
  const std::string head = "{\"schema\":1,\"ts\":\"TS\",\"step\":";
  const std::string where =
      "\"proxy\":\"socks5://user:pw@127.0.0.1:1\","
      "\"discovery_url\":\"https://geo.quillon.test/geoip?format=json\",";
  const std::string tail = "\"launcher_version\":\"0.28.0-mac\"}\n";
  const std::pair<ErrorReport, std::string> cases[] = {
      {unreachable, head +
                        "\"discover_proxy_ip\",\"error_code\":\"PROXY_UNREACHABLE\","
                        "\"message\":\"got \\\"<h1>\\\"\\r\\nline\\\\two\\ttab \\u0001 \u00e9\"," +
                        where + "\"curl_exit_code\":7,\"elapsed_ms\":3," + tail},
      {missing, head +
                    "\"discover_proxy_ip\",\"error_code\":\"CURL_NOT_FOUND\","
                    "\"message\":\"/usr/bin/curl missing \u2014 macOS\"," +
                    where + "\"elapsed_ms\":0," + tail},
      {bare, head +
                 "\"s\",\"error_code\":\"INTERNAL\",\"message\":\"m\",\"curl_exit_code\":0,"
                 "\"elapsed_ms\":-5," +
                 tail},
  };
  for (const auto& [r, bytes] : cases) EXPECT_EQ(withoutTimestamp(errorReportJSON(r)), bytes);
}

TEST(ErrorReportFile, WrittenWholeAndRemovedWhenStaleButNeverADirectory) {
  EXPECT_EQ(errorReportPath(std::nullopt), joinPath(appSupportDirectory(), kErrorReportName));
  EXPECT_EQ(errorReportPath(std::string()), joinPath(appSupportDirectory(), kErrorReportName));
  test::TempDir dir;
  std::string path = errorReportPath(dir / "profile/nested");
  EXPECT_EQ(path, dir / "profile/nested/.quillon-launcher-error.json");
  test::writeFile(path, "old report");
  test::writeFile(path + ".tmp", "stale temporary");
  ErrorReport r = report("INTERNAL", "m");
  ASSERT_TRUE(writeReportFile(r, path));
  EXPECT_EQ(withoutTimestamp(test::readFile(path)), withoutTimestamp(errorReportJSON(r)));
  EXPECT_FALSE(test::exists(path + ".tmp"));

  removeStaleErrorReport(path);
  EXPECT_FALSE(test::exists(path));
  removeStaleErrorReport(path);  // nothing there: no effect, no failure
  test::writeFile(path + "/keep", "x");
  removeStaleErrorReport(path);
  EXPECT_EQ(test::readFile(path + "/keep"), "x");
}

}  // namespace
}  // namespace quillon
