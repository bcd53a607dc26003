// The result report: escaping, exact bytes, location, the safe writer and
// the platform's file and home directory primitives under it.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"
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

TEST(JsonEscape, EscapesOnlyWhatJsonNeedsAndRepairsUtf8) {
  EXPECT_EQ(jsonEscape(std::string("\"\\\n\r\t\x01\x1f\0/\x7f\xC3\xA9\xF0\x9F\x98\x80", 16)),
            "\\\"\\\\\\n\\r\\t\\u0001\\u001f\\u0000/\x7f\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(jsonEscape("a\xff\xC3"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(jsonEscape("\xC0\xAF\xED\xA0\x80").size(), 15u) << "overlong, surrogate";
}

TEST(ResultReport, ExactBytesAtTheCurrentUtcTime) {
  ResultReport r{"blocked", "203.0.113.7",  "de",   "quillon", "Europe/Berlin",
                 -12,       "52.5",         "13.4", "de-DE",   "de-DE,de;q=0.9",
                 "E",       "say \"hi\"\n", "v"};
  auto format = [](std::chrono::system_clock::time_point t) {
    time_t seconds = std::chrono::system_clock::to_time_t(t);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(buf);
  };
  // The clock read around the call, the same one the report reads.
  std::string before = format(std::chrono::system_clock::now());
  std::string json = resultReportJSON(r);
  std::string after = format(std::chrono::system_clock::now());
  std::smatch ts;
  ASSERT_TRUE(std::regex_search(json, ts, std::regex(R"x("ts":"([^"]*)")x")));
  EXPECT_TRUE(ts[1] == before || ts[1] == after) << ts[1];
  EXPECT_EQ(std::regex_replace(json, std::regex(R"x("ts":"[^"]*")x"), "\"ts\":TS"),
            "{\"schema\":1,\"ts\":TS,\"status\":\"blocked\",\"ip\":\"203.0.113.7\","
            "\"timezone\":\"Europe/Berlin\",\"country_code\":\"de\",\"lat\":\"52.5\","
            "\"lng\":\"13.4\",\"lang\":\"de-DE\",\"accept_lang\":\"de-DE,de;q=0.9\","
            "\"elapsed_ms\":-12,\"provider\":\"quillon\",\"error_code\":\"E\","
            "\"message\":\"say \\\"hi\\\"\\n\",\"launcher_version\":\"v\"}\n");
}

TEST(ReportPath, UserDataDirElsePerUserFolderElsePasswdHome) {
  EXPECT_EQ(resultReportPath(std::string("rel")), "rel/.quillon-launcher-result.json");
  setenv("HOME", "/some/home", 1);
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(resultReportPath(std::string("")),
            "/some/home/.config/Quillon/.quillon-launcher-result.json");
  unsetenv("HOME");
  EXPECT_EQ(homeDirectory(), getpwuid(getuid())->pw_dir);
  unsetenv("XDG_CONFIG_HOME");
}

class WriteReport : public ::testing::Test {
 protected:
  bool write(const std::string& destination) {
    ResultReport r;
    r.status = "ok";
    return writeReportFile(r, destination);
  }
  mode_t mode(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode;
  }
  TempDir dir;
  std::string dest = dir / "a/b/.quillon-launcher-result.json";
};

// Created directories and the report itself are the owner's alone.
TEST_F(WriteReport, ReplacesOldReportLinkAndStaleTemporaryOwnerOnly) {
  mode_t saved = umask(022);
  writeFile(dir / "target", "keep me");
  ASSERT_TRUE(write(dest));
  writeFile(dest + ".tmp", "stale");
  std::filesystem::remove(dest);
  ASSERT_EQ(symlink((dir / "target").c_str(), dest.c_str()), 0);
  ASSERT_TRUE(write(dest));
  umask(saved);
  EXPECT_NE(readFile(dest).find("\"status\":\"ok\""), std::string::npos);
  EXPECT_FALSE(exists(dest + ".tmp"));
  EXPECT_EQ(readFile(dir / "target"), "keep me");
  EXPECT_EQ(mode(dest), S_IFREG | 0600);
  EXPECT_EQ(mode(dir / "a") & 07777, 0700u);
  EXPECT_EQ(mode(dir / "a/b") & 07777, 0700u);
}

TEST_F(WriteReport, UnusableLocationsFailQuietlyAndLeaveAllAlone) {
  writeFile(dest + "/inside", "data");
  writeFile(dir / "file", "x");
  // 40,000 path components: far past the system's limit.
  std::string deep = dir.path();
  for (int i = 0; i < 40000; ++i) deep += "/d";
  for (const std::string& bad : {dest, dir / "file/sub/r.json", deep + "/r.json"}) {
    int renders = 0;
    EXPECT_FALSE(writeReportBytes(bad, [&renders] { return std::to_string(++renders); }));
    EXPECT_EQ(renders, bad == dest ? 1 : 0);
  }
  EXPECT_EQ(readFile(dest + "/inside"), "data");
  EXPECT_FALSE(exists(dest + ".tmp"));
  EXPECT_EQ(readFile(dir / "file"), "x");
  EXPECT_FALSE(exists(dir / "d"));
}

}  // namespace
}  // namespace quillon
