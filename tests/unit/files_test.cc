// The files the launcher reads and writes: the launch configuration and its overlay, and the
// reports, with the platform's file and home directory primitives under them.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/launch_config.h"
#include "config/overlay.h"
#include "launcher/engine_location.h"
#include "platform/paths.h"
#include "report/report_file.h"
#include "report/result_report.h"
#include "support/test_files.h"

namespace quillon {
namespace {
using test::exists;
using test::readFile;

OverlayKeys overlayOf(std::string_view text) {
  return overlayFromConfig(*parseJson(text));
}

// In the (first) user data directory, else the per-user folder (an absolute XDG_CONFIG_HOME's,
// HOME's, or the password database's home); the engine a relative override names.
TEST(Locations, UserDataDirElsePerUserFolder) {
  test::TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(launchConfigPath(home.path()), home / ".config/Quillon/command-line.json");
  test::writeFile(home / "command-line.json", "not json");
  EXPECT_EQ(launchConfigPath(home.path()), home / "command-line.json");
  ASSERT_EQ(chdir(home.path().c_str()), 0);  // an empty one is the current directory
  EXPECT_EQ(launchConfigPath(std::string()), "command-line.json");
  // A relative engine override is taken the way file URLs are, without dot segments.
  EXPECT_EQ(locateEngine("./a/.././e", ""), home / "e");
  ASSERT_EQ(chdir("/"), 0);
  EXPECT_EQ(locateEngine("../x/../../e", ""), "/e");
  EXPECT_EQ(locateEngine("", "/l"), locateEngine(std::nullopt, "/l"))
      << "an empty override is none";
  setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
  EXPECT_EQ(launchConfigPath(std::nullopt), home / "xdg/Quillon/command-line.json");
  EXPECT_EQ(resultReportPath(std::string()), home / "xdg/Quillon/.quillon-launcher-result.json");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "", 1);
  EXPECT_EQ(homeDirectory(), getpwuid(getuid())->pw_dir);
}

TEST(Overlay, LenientFlagsPresenceAndForcedTabs) {
  Json flags = *parseJson(R"({"s1":"true","s2":"1","two":2,"oneAndHalf":1.5,"minusOne":-1,
    "minusOneAndHalf":-1.5,"S":"True","zero":0,"half":0.5,"minusHalf":-0.5,"arr":[1]})");
  for (const char* key : {"s1", "s2", "two", "oneAndHalf", "minusOne", "minusOneAndHalf"})
    EXPECT_TRUE(overlayFlag(key, flags)) << key;
  for (const char* key : {"S", "zero", "half", "minusHalf", "arr", "absent"})
    EXPECT_FALSE(overlayFlag(key, flags));
  OverlayKeys o =
      overlayOf(R"({"proxy-server":5,"chrome-command-line":{"--proxy-server":"socks5://h:1"},
    "geo-lat":null,"lang":"","device-memory":null,"start-page":"https://a.test/",
    "close-previous-tabs":false,"on-proxy-fail":"Fallback",
    "granular-storage-reset":{"cookies":1,"indexeddb":0.5,"local_storage":"true"}})");
  EXPECT_EQ(o.proxyServer + o.onProxyFail, "socks5://h:1block");
  EXPECT_TRUE(o.geoLatSet && o.langSet && o.deviceMemorySet && o.closePreviousTabs);
  EXPECT_FALSE(o.geoLngSet || o.hardwareConcurrencySet);
  EXPECT_EQ(o.granularStorageReset,
            (std::map<std::string, bool>{{"cookies", true}, {"indexeddb", false}}));
  o = overlayOf(R"({"proxy-server":"a","chrome-command-line":{"--proxy-server":"b"},
    "on-proxy-fail":"fallback","start-page":7})");
  EXPECT_EQ(o.proxyServer + o.onProxyFail + std::to_string(o.closePreviousTabs), "afallback0");
}

// Unusable files give the defaults, never a crash or a hang; the limits themselves are read.
TEST(LoadOverlay, UnusableFilesGiveDefaults) {
  test::TempDir dir;
  std::string path = dir / "command-line.json";
  const std::string valid = R"({"auto-geo":true)";
  auto padded = [&valid](size_t size) {
    return valid + ",\"p\":\"" + std::string(size - valid.size() - 8, 'x') + "\"}";
  };
  const std::string deep255 = std::string(255, '[') + std::string(255, ']');  // 256 deep
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {valid + "}", true}, {"\xEF\xBB\xBF" + valid + "}", true},
      {valid + ",\"d\":" + deep255 + "}", true}, {valid + ",\"d\":[" + deep255 + "]}", false},
      {padded(kMaxJsonFileBytes), true},
      {padded(kMaxJsonFileBytes + 1), false}, {"[" + valid + "}]", false},
      {valid + "}" + std::string(1, '\0'), false},
      {std::string(1000000, '[') + std::string(1000000, ']'), false}};
  // clang-format on
  for (const auto& [bytes, read] : cases) {
    test::writeFile(path, bytes);
    EXPECT_EQ(loadOverlay(path).autoGeo, read) << bytes.substr(0, 40);
  }
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (std::string special : {dir / "fifo", dir.path(), std::string("/dev/zero")})
    EXPECT_FALSE(readJsonObjectFile(special)) << special;
}

// A key given twice keeps its first place and its last value, at any depth (the cost of the
// largest configuration is measured by bench/config_bench).
TEST(ParseJson, DuplicateKeysKeepTheFirstPlaceAndTheLastValue) {
  EXPECT_EQ(parseJson(R"({"k":1,"k":2})")->dump(), R"({"k":2})");
  EXPECT_EQ(parseJson(R"({"a":1,"b":{"c":0,"c":[],"d":0},"a":2})")->dump(),
            R"({"a":2,"b":{"c":[],"d":0}})");
}

// Strings escaped where JSON needs it and repaired where not UTF-8; the time is the UTC time of
// the clock read around the call.
TEST(Reports, EscapedAndAtTheCurrentUtcTime) {
  auto now = [] {
    char text[32];
    time_t seconds = time(nullptr);
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime(&seconds));
    return std::string(text);
  };
  ResultReport report;
  report.message = std::string("\"\\\n\r\t\x01\x1f\0/\x7f\xC3\xA9\xF0\x9F\x98\x80\xff", 17);
  std::string before = now(), json = resultReportJSON(report), after = now();
  EXPECT_TRUE(json.substr(18, 20) == before || json.substr(18, 20) == after) << json;
  EXPECT_NE(
      json.find("\"message\":\"\\\"\\\\\\n\\r\\t\\u0001\\u001f\\u0000/\x7f\xC3\xA9\xF0\x9F\x98\x80"
                "\xEF\xBF\xBD\","),
      std::string::npos)
      << json;
}

// Owner-only directories and report, replacing an old report, a link and a stale temporary.
TEST(WriteReport, OwnerOnlyReplacingAnyOldFileButNoDirectory) {
  test::TempDir dir;
  std::string dest = dir / "a/b/.quillon-launcher-result.json";
  auto write = [](const std::string& to) { return writeReportBytes(to, [] { return "new"; }); };
  auto mode = [](const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
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

  // Unusable locations fail quietly and leave all alone.
  dest = dir / "r.json";
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
