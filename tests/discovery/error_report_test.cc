// The error report: whole bytes, optional keys and the file's life.
#include "report/error_report.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/test_files.h"

namespace quillon {
namespace {

std::string withoutTimestamp(const std::string& json) {
  return std::regex_replace(json, std::regex(R"("ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")"),
                            "\"ts\":TS");
}

TEST(ErrorReport, WholeBytesWrittenSafelyAndRemovedWhenStale) {
  ErrorReport full{kDiscoveryStep,
                   "PROXY_UNREACHABLE",
                   "got \"<h1>\"\r\n\x01 \u00e9",
                   "socks5://u:pw@h:1",
                   "https://g/geoip",
                   7,
                   3};
  ErrorReport bare{"s", "INTERNAL", "m", std::nullopt, std::nullopt, std::nullopt, -5};
  EXPECT_EQ(
      withoutTimestamp(errorReportJSON(full)),
      "{\"schema\":1,\"ts\":TS,\"step\":\"discover_proxy_ip\",\"error_code\":\"PROXY_UNREACHABLE\","
      "\"message\":\"got \\\"<h1>\\\"\\r\\n\\u0001 \u00e9\",\"proxy\":\"socks5://u:pw@h:1\","
      "\"discovery_url\":\"https://g/geoip\",\"curl_exit_code\":7,\"elapsed_ms\":3,"
      "\"launcher_version\":\"0.28.0-mac\"}\n");
  EXPECT_EQ(withoutTimestamp(errorReportJSON(bare)),
            "{\"schema\":1,\"ts\":TS,\"step\":\"s\",\"error_code\":\"INTERNAL\",\"message\":\"m\","
            "\"elapsed_ms\":-5,\"launcher_version\":\"0.28.0-mac\"}\n");

  test::TempDir dir;
  std::string path = errorReportPath(dir / "profile");
  EXPECT_EQ(path, dir / "profile/.quillon-launcher-error.json");
  ASSERT_TRUE(writeReportFile(full, path));
  EXPECT_EQ(withoutTimestamp(test::readFile(path)), withoutTimestamp(errorReportJSON(full)));
  removeStaleErrorReport(path);
  EXPECT_FALSE(test::exists(path));
  test::writeFile(path + "/keep", "x");
  removeStaleErrorReport(path);
  EXPECT_TRUE(test::exists(path + "/keep"));
}

}  // namespace
}  // namespace quillon
