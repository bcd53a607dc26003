// The result report: escaping, exact bytes, location, the safe writer and
// the platform's file and home directory primitives under it.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "report/json_escape.h"
#include "report/report_file.h"
#include "report/result_report.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::exists;
using test::readFile;

TEST(JsonEscape, EscapesOnlyWhatJsonNeedsAndRepairsUtf8) {
  EXPECT_EQ(jsonEscape(std::string("\"\\\n\r\t\x01\x1f\0/\x7f\xC3\xA9\xF0\x9F\x98\x80", 16)),
            "\\\"\\\\\\n\\r\\t\\u0001\\u001f\\u0000/\x7f\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(jsonEscape("a\xff\xC3"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(jsonEscape("\xC0\xAF\xED\xA0\x80").size(), 15u) << "overlong, surrogate";
}

// The time is the UTC time of the clock read around the call.
TEST(ResultReport, AtTheCurrentUtcTime) {
  auto now = [] {
    time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime(&seconds));
    return std::string(text);
  };
  std::string before = now(), ts = resultReportJSON({}).substr(18, 20), after = now();
  EXPECT_TRUE(ts == before || ts == after) << ts;
}

TEST(ReportPath, UserDataDirElsePerUserFolderElsePasswdHome) {
  EXPECT_EQ(resultReportPath(std::string("rel")), "rel/.quillon-launcher-result.json");
  setenv("HOME", "/some/home", 1);
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(resultReportPath(std::string("")),
            "/some/home/.config/Quillon/.quillon-launcher-result.json");
  setenv("HOME", "", 1);
  EXPECT_EQ(homeDirectory(), getpwuid(getuid())->pw_dir);
  unsetenv("XDG_CONFIG_HOME");
}

// Created directories and the report itself are the owner's alone; an old
// report, a link in its place and a stale temporary are replaced.
TEST(WriteReport, ReplacesOldReportLinkAndStaleTemporaryOwnerOnly) {
  test::TempDir dir;
  std::string dest = dir / "a/b/.quillon-launcher-result.json";
  auto write = [](const std::string& to) { return writeReportBytes(to, [] { return "new"; }); };
  auto mode = [](const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode;
  };
  mode_t saved = umask(022);
  ASSERT_TRUE(write(dest));
  umask(saved);
  test::writeFile(dir / "target", "keep me");
  test::writeFile(dest + ".tmp", "stale");
  std::filesystem::remove(dest);
  ASSERT_EQ(symlink((dir / "target").c_str(), dest.c_str()), 0);
  ASSERT_TRUE(write(dest));
  EXPECT_EQ(readFile(dest) + readFile(dir / "target"), "newkeep me");
  EXPECT_FALSE(exists(dest + ".tmp"));
  EXPECT_EQ(mode(dest), S_IFREG | 0600);
  EXPECT_EQ((mode(dir / "a") | mode(dir / "a/b")) & 07777, 0700u);
}

TEST(WriteReport, UnusableLocationsFailQuietlyAndLeaveAllAlone) {
  test::TempDir dir;
  std::string dest = dir / "r.json";
  test::writeFile(dest + "/inside", "data");
  test::writeFile(dir / "file", "x");
  std::string deep = dir.path();  // 40,000 path components: far past the system's limit
  for (int i = 0; i < 40000; ++i) deep += "/d";
  for (const std::string& bad : {dest, dir / "file/sub/r.json", deep + "/r.json"}) {
    int renders = 0;
    EXPECT_FALSE(writeReportBytes(bad, [&renders] { return std::to_string(++renders); }));
    EXPECT_EQ(renders, bad == dest ? 1 : 0);
  }
  EXPECT_EQ(readFile(dest + "/inside") + readFile(dir / "file"), "datax");
  EXPECT_FALSE(exists(dest + ".tmp") || exists(dir / "d"));
}

}  // namespace
}  // namespace quillon
