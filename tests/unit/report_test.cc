// The result report: escaping, exact bytes, location and the safe writer.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <regex>

#include <gtest/gtest.h>

#include "report/json_escape.h"
#include "report/report_file.h"
#include "report/result_report.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::exists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Replaces the timestamp with TS after checking its form.
std::string withoutTimestamp(const std::string& json) {
  static const std::regex ts(R"("ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")");
  EXPECT_TRUE(std::regex_search(json, ts)) << json;
  return std::regex_replace(json, ts, "\"ts\":TS");
}

TEST(JsonEscape, EscapesOnlyWhatJsonNeeds) {
  EXPECT_EQ(jsonEscape("a\"b\\c\nd\re\tf"), "a\\\"b\\\\c\\nd\\re\\tf");
  EXPECT_EQ(jsonEscape(std::string("\x01\x08\x0c\x1b\x1f", 5)),
            "\\u0001\\u0008\\u000c\\u001b\\u001f");
  EXPECT_EQ(jsonEscape(std::string("nul\0x", 5)), "nul\\u0000x");
  EXPECT_EQ(jsonEscape("/\x7f"), "/\x7f");
  EXPECT_EQ(jsonEscape("caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x80\x94"),
            "caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x80\x94");
}

TEST(JsonEscape, InvalidUtf8BecomesReplacementCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(jsonEscape("a\xff"
                       "b"),
            "a" + fffd + "b");
  EXPECT_EQ(jsonEscape("\xC3"), fffd);                        // truncated sequence
  EXPECT_EQ(jsonEscape("\xC0\xAF"), fffd + fffd);             // overlong form
  EXPECT_EQ(jsonEscape("\xED\xA0\x80"), fffd + fffd + fffd);  // surrogate
}

TEST(ReportTimestamp, IsTheCurrentUtcTime) {
  // Taken twice around the call, so a second boundary cannot fail the test.
  auto format = [](time_t t) {
    tm utc{};
    gmtime_r(&t, &utc);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(buf);
  };
  std::string before = format(time(nullptr));
  std::string stamp = reportTimestamp();
  std::string after = format(time(nullptr));
  EXPECT_TRUE(stamp == before || stamp == after) << stamp;
}

TEST(ResultReportJSON, PassthroughBytes) {
  ResultReport r;
  r.status = "passthrough";
  EXPECT_EQ(withoutTimestamp(resultReportJSON(r)),
            "{\"schema\":1,\"ts\":TS,\"status\":\"passthrough\",\"ip\":\"\",\"timezone\":\"\","
            "\"country_code\":\"\",\"lat\":\"\",\"lng\":\"\",\"lang\":\"\",\"accept_lang\":\"\","
            "\"elapsed_ms\":0,\"provider\":\"\",\"error_code\":\"\",\"message\":\"\","
            "\"launcher_version\":\"0.28.0-mac\"}\n");
}

TEST(ResultReportJSON, EveryFieldInItsPlace) {
  ResultReport r{"blocked",
                 "203.0.113.7",
                 "de",
                 "quillon",
                 "Europe/Berlin",
                 -12,
                 "52.5",
                 "13.4",
                 "de-DE",
                 "de-DE,de;q=0.9",
                 "PROXY_BLOCKED",
                 "say \"hi\"\n\\ \x01 \xC3\xA9",
                 "v"};
  EXPECT_EQ(withoutTimestamp(resultReportJSON(r)),
            "{\"schema\":1,\"ts\":TS,\"status\":\"blocked\",\"ip\":\"203.0.113.7\","
            "\"timezone\":\"Europe/Berlin\",\"country_code\":\"de\",\"lat\":\"52.5\","
            "\"lng\":\"13.4\",\"lang\":\"de-DE\",\"accept_lang\":\"de-DE,de;q=0.9\","
            "\"elapsed_ms\":-12,\"provider\":\"quillon\",\"error_code\":\"PROXY_BLOCKED\","
            "\"message\":\"say \\\"hi\\\"\\n\\\\ \\u0001 \xC3\xA9\",\"launcher_version\":\"v\"}\n");
}

TEST(ReportPath, UserDataDirElsePerUserFolder) {
  TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(resultReportPath(std::string("/u/d")), "/u/d/.quillon-launcher-result.json");
  EXPECT_EQ(resultReportPath(std::string("rel")), "rel/.quillon-launcher-result.json");
  EXPECT_EQ(resultReportPath(std::string("")),
            home / ".config/Quillon/.quillon-launcher-result.json");
  EXPECT_EQ(resultReportPath(std::nullopt), home / ".config/Quillon/.quillon-launcher-result.json");
}

class WriteReport : public ::testing::Test {
 protected:
  ResultReport report() {
    ResultReport r;
    r.status = "ok";
    return r;
  }
  TempDir dir;
  std::string dest = dir / "a/b/.quillon-launcher-result.json";
};

TEST_F(WriteReport, CreatesParentsReplacesOldAndStaleTemporary) {
  ASSERT_TRUE(writeReportFile(report(), dest));
  EXPECT_NE(readFile(dest).find("\"status\":\"ok\""), std::string::npos);

  writeFile(dest + ".tmp", "stale half-written report");
  ResultReport blocked = report();
  blocked.status = "blocked";
  ASSERT_TRUE(writeReportFile(blocked, dest));
  EXPECT_NE(readFile(dest).find("\"status\":\"blocked\""), std::string::npos);
  EXPECT_FALSE(exists(dest + ".tmp"));
}

TEST_F(WriteReport, LinkAtDestinationIsReplacedNotFollowed) {
  std::string target = dir / "elsewhere.txt";
  writeFile(target, "keep me");
  test::writeFile(dir / "a/b/placeholder", "");
  ASSERT_EQ(symlink(target.c_str(), dest.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), (dest + ".tmp").c_str()), 0);
  ASSERT_TRUE(writeReportFile(report(), dest));
  EXPECT_EQ(readFile(target), "keep me");
  struct stat st {};
  ASSERT_EQ(lstat(dest.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(WriteReport, DirectoryAtDestinationIsLeftAlone) {
  writeFile(dest + "/inside", "data");
  EXPECT_FALSE(writeReportFile(report(), dest));
  EXPECT_EQ(readFile(dest + "/inside"), "data");
  EXPECT_FALSE(exists(dest + ".tmp"));
}

TEST_F(WriteReport, UnwritableLocationsFailQuietly) {
  writeFile(dir / "file", "x");
  EXPECT_FALSE(writeReportFile(report(), dir / "file/sub/.quillon-launcher-result.json"));
  EXPECT_EQ(readFile(dir / "file"), "x");
}

TEST(WriteReportBytes, RendersOnlyOnceTheDirectoryExists) {
  TempDir dir;
  writeFile(dir / "file", "x");
  int renders = 0;
  auto render = [&renders] {
    ++renders;
    return std::string("{}\n");
  };
  EXPECT_FALSE(writeReportBytes(dir / "file/r.json", render));
  EXPECT_EQ(renders, 0);
  EXPECT_TRUE(writeReportBytes(dir / "r.json", render));
  EXPECT_EQ(renders, 1);
  EXPECT_EQ(readFile(dir / "r.json"), "{}\n");
}

}  // namespace
}  // namespace quillon
