// The error report: whole bytes, optional keys, the generic serialiser and
// the file's life (written safely, removed when stale).
#include "report/error_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "platform/paths.h"
#include "report/report_file.h"
#include "support/test_files.h"

namespace quillon {
namespace {

// The report with its timestamp replaced by TS, after checking its form.
std::string withoutTimestamp(const std::string& json) {
  const std::string key = "\"ts\":\"";
  size_t at = json.find(key);
  if (at == std::string::npos) return json;
  std::string ts = json.substr(at + key.size(), 20);
  EXPECT_TRUE(std::regex_match(ts, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)"))) << ts;
  return json.substr(0, at + key.size()) + "TS" + json.substr(at + key.size() + 20);
}

ErrorReport unreachableReport() {
  ErrorReport r;
  r.step = kDiscoveryStep;
  r.errorCode = "PROXY_UNREACHABLE";
  r.message =
      "curl exit 7 against https://geo.quillon.test/geoip?format=json via "
      "socks5://user:pw@127.0.0.1:1 after 3 ms";
  r.proxy = "socks5://user:pw@127.0.0.1:1";
  r.discoveryURL = "https://geo.quillon.test/geoip?format=json";
  r.curlExitCode = 7;
  r.elapsedMs = 3;
  return r;
}

TEST(ErrorReportJson, FailureWithCurlStatus) {
  EXPECT_EQ(withoutTimestamp(errorReportJSON(unreachableReport())),
            "{\"schema\":1,\"ts\":\"TS\",\"step\":\"discover_proxy_ip\","
            "\"error_code\":\"PROXY_UNREACHABLE\",\"message\":\"curl exit 7 against "
            "https://geo.quillon.test/geoip?format=json via socks5://user:pw@127.0.0.1:1 after 3 "
            "ms\",\"proxy\":\"socks5://user:pw@127.0.0.1:1\","
            "\"discovery_url\":\"https://geo.quillon.test/geoip?format=json\","
            "\"curl_exit_code\":7,\"elapsed_ms\":3,\"launcher_version\":\"0.28.0-mac\"}\n");
}

TEST(ErrorReportJson, FailureBeforeCurlRanHasNoCurlStatus) {
  ErrorReport r;
  r.step = kDiscoveryStep;
  r.errorCode = "CURL_NOT_FOUND";
  r.message = "/usr/bin/curl missing \u2014 macOS always ships it; environment is broken";
  r.proxy = "socks5://127.0.0.1:1080";
  r.discoveryURL = "https://ip.quillon.test/myip";
  EXPECT_EQ(withoutTimestamp(errorReportJSON(r)),
            "{\"schema\":1,\"ts\":\"TS\",\"step\":\"discover_proxy_ip\","
            "\"error_code\":\"CURL_NOT_FOUND\",\"message\":\"/usr/bin/curl missing \u2014 macOS "
            "always ships it; environment is broken\",\"proxy\":\"socks5://127.0.0.1:1080\","
            "\"discovery_url\":\"https://ip.quillon.test/myip\",\"elapsed_ms\":0,"
            "\"launcher_version\":\"0.28.0-mac\"}\n");
}

TEST(ErrorReportJson, AbsentOptionalsAreLeftOutNeverNull) {
  ErrorReport r;
  r.step = "s";
  r.errorCode = "INTERNAL";
  r.message = "m";
  r.elapsedMs = -5;
  r.curlExitCode = 0;
  EXPECT_EQ(withoutTimestamp(errorReportJSON(r)),
            "{\"schema\":1,\"ts\":\"TS\",\"step\":\"s\",\"error_code\":\"INTERNAL\","
            "\"message\":\"m\",\"curl_exit_code\":0,\"elapsed_ms\":-5,"
            "\"launcher_version\":\"0.28.0-mac\"}\n");
}

TEST(ErrorReportJson, MessageIsEscapedLikeTheResultReport) {
  ErrorReport r = unreachableReport();
  r.message = "got \"<h1>\"\r\nline\\two\ttab \x01 \u00e9 \U0001F600";
  std::string json = errorReportJSON(r);
  EXPECT_NE(json.find("\"message\":\"got \\\"<h1>\\\"\\r\\nline\\\\two\\ttab \\u0001 \u00e9 "
                      "\U0001F600\",\"proxy\""),
            std::string::npos)
      << json;
  EXPECT_EQ(json.find('\n'), json.size() - 1);
}

TEST(ErrorReportSerialiser, WritesEveryValueKind) {
  std::vector<ReportEntry> entries = {
      {"text", std::string("a\"b")},
      {"int", 42},
      {"wide", int64_t{-9223372036854775807 - 1}},
      {"other", nullptr},
      {"key\"quoted", std::string()},
  };
  EXPECT_EQ(serializeReportEntries(entries),
            "{\"text\":\"a\\\"b\",\"int\":42,\"wide\":-9223372036854775808,\"other\":null,"
            "\"key\\\"quoted\":\"\"}\n");
  EXPECT_EQ(serializeReportEntries({}), "{}\n");
}

TEST(ErrorReportFile, WrittenWholeThroughTheSafeWriter) {
  test::TempDir dir;
  std::string path = errorReportPath(dir / "profile/nested");
  EXPECT_EQ(path, dir / "profile/nested/.quillon-launcher-error.json");
  test::writeFile(path, "old report");
  test::writeFile(path + ".tmp", "stale temporary");
  ASSERT_TRUE(writeReportFile(unreachableReport(), path));
  std::string written = test::readFile(path);
  EXPECT_EQ(withoutTimestamp(written), withoutTimestamp(errorReportJSON(unreachableReport())));
  EXPECT_FALSE(test::exists(path + ".tmp"));
}

TEST(ErrorReportFile, PathFallsBackToTheApplicationFolder) {
  EXPECT_EQ(errorReportPath(std::nullopt), joinPath(appSupportDirectory(), kErrorReportName));
  EXPECT_EQ(errorReportPath(std::string()), joinPath(appSupportDirectory(), kErrorReportName));
}

TEST(ErrorReportFile, StaleReportIsRemovedAndNothingElse) {
  test::TempDir dir;
  std::string path = errorReportPath(dir.path());
  test::writeFile(path, "{}\n");
  removeStaleErrorReport(path);
  EXPECT_FALSE(test::exists(path));
  removeStaleErrorReport(path);  // nothing there: no effect, no failure
  EXPECT_FALSE(test::exists(path));

  // A directory in its place is left alone, contents and all.
  test::writeFile(path + "/keep", "x");
  removeStaleErrorReport(path);
  EXPECT_EQ(test::readFile(path + "/keep"), "x");
}

}  // namespace
}  // namespace quillon
