// Finding and reading the launch configuration, and the persona overlay.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "config/json_read.h"
#include "config/launch_config.h"
#include "config/overlay.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::TempDir;
using test::writeFile;

OverlayKeys overlayOf(std::string_view text) {
  return overlayFromConfig(Json::parse(text));
}

TEST(UserDataDirFromArgs, FirstExactPrefixWins) {
  EXPECT_EQ(userDataDirFromArgs({}), std::nullopt);
  EXPECT_EQ(userDataDirFromArgs({"--x", "--user-data-dir=/a", "--user-data-dir=/b"}), "/a");
  EXPECT_EQ(userDataDirFromArgs({"--user-data-dir="}), "");
  EXPECT_EQ(userDataDirFromArgs({"--USER-DATA-DIR=/a", "--user-data-dir", "/b"}), std::nullopt);
}

TEST(LaunchConfigPath, UserDataDirFileWinsOnlyWhenSomethingIsThere) {
  TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  std::string perUser = home / ".config/Quillon/command-line.json";
  EXPECT_EQ(launchConfigPath(std::nullopt), perUser);

  TempDir udd;
  EXPECT_EQ(launchConfigPath(udd.path()), perUser);
  writeFile(udd / "command-line.json", "not json");
  EXPECT_EQ(launchConfigPath(udd.path()), udd / "command-line.json");

  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(launchConfigPath(std::nullopt), perUser);
  setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
  EXPECT_EQ(launchConfigPath(std::nullopt), home / "xdg/Quillon/command-line.json");
  unsetenv("XDG_CONFIG_HOME");
}

TEST(OverlayFlag, LenientTruth) {
  Json config = Json::parse(R"({"t":true,"f":false,"s1":"true","s2":"1","S":"True","yes":"yes",
    "two":2,"neg":-1,"zero":0,"half":0.5,"oneAndHalf":1.5,"null":null,"arr":[1],"obj":{}})");
  for (const char* key : {"t", "s1", "s2", "two", "neg", "oneAndHalf"})
    EXPECT_TRUE(overlayFlag(key, config)) << key;
  for (const char* key : {"f", "S", "yes", "zero", "half", "null", "arr", "obj", "absent"})
    EXPECT_FALSE(overlayFlag(key, config)) << key;
}

TEST(Overlay, DefaultsForEmptyObject) {
  OverlayKeys o = overlayOf("{}");
  EXPECT_EQ(o.proxyServer, "");
  EXPECT_EQ(o.onProxyFail, "block");
  EXPECT_FALSE(o.closePreviousTabs || o.webrtcNoLeak || o.autoGeo || o.autoLang || o.autoTimezone);
  EXPECT_TRUE(o.granularStorageReset.empty());
  EXPECT_EQ(o.startPage, "");
  EXPECT_EQ(o.webglProfile, "");
}

TEST(Overlay, ProxyFallsBackToChromeCommandLine) {
  EXPECT_EQ(
      overlayOf(R"({"proxy-server":5,"chrome-command-line":{"--proxy-server":"socks5://h:1"}})")
          .proxyServer,
      "socks5://h:1");
  EXPECT_EQ(
      overlayOf(R"({"proxy-server":"","chrome-command-line":["--proxy-server"]})").proxyServer, "");
  EXPECT_EQ(
      overlayOf(R"({"proxy-server":" socks5://a:1 ","chrome-command-line":{"--proxy-server":"x"}})")
          .proxyServer,
      " socks5://a:1 ");
}

TEST(Overlay, PresenceFlagsIgnoreValues) {
  OverlayKeys o = overlayOf(R"({"geo-lat":null,"geo-lng":false,"lang":"","accept-language":0,
    "timezone-override":[],"webrtc-fake-public-ip":{},"device-memory":null,"hardware-concurrency":1,
    "speech-voices":"x"})");
  EXPECT_TRUE(o.geoLatSet && o.geoLngSet && o.langSet && o.acceptLanguageSet &&
              o.timezoneOverrideSet && o.webrtcFakePublicIpSet && o.deviceMemorySet &&
              o.hardwareConcurrencySet && o.speechVoicesSet);
  OverlayKeys none = overlayOf(R"({"Geo-Lat":1})");
  EXPECT_FALSE(none.geoLatSet);
}

TEST(Overlay, OnProxyFailIsBlockUnlessExactlyFallback) {
  EXPECT_EQ(overlayOf(R"({"on-proxy-fail":"fallback"})").onProxyFail, "fallback");
  for (const char* text : {R"({"on-proxy-fail":"Fallback"})", R"({"on-proxy-fail":"warn"})",
                           R"({"on-proxy-fail":1})", R"({"on-proxy-fail":"block"})"})
    EXPECT_EQ(overlayOf(text).onProxyFail, "block") << text;
}

TEST(Overlay, StartPageForcesClosePreviousTabs) {
  OverlayKeys o = overlayOf(R"({"start-page":"https://a.test/","close-previous-tabs":false})");
  EXPECT_EQ(o.startPage, "https://a.test/");
  EXPECT_TRUE(o.closePreviousTabs);
  EXPECT_FALSE(overlayOf(R"({"start-page":""})").closePreviousTabs);
  EXPECT_FALSE(overlayOf(R"({"start-page":7})").closePreviousTabs);
}

TEST(Overlay, GranularStorageResetTakesBooleansAndNumbersOnly) {
  OverlayKeys o = overlayOf(R"({"granular-storage-reset":{"cookies":true,"indexeddb":0,
    "local_storage":"true","websql":null,"all":2,"Cookies":false}})");
  std::map<std::string, bool> expected{
      {"cookies", true}, {"indexeddb", false}, {"all", true}, {"Cookies", false}};
  EXPECT_EQ(o.granularStorageReset, expected);
  EXPECT_TRUE(overlayOf(R"({"granular-storage-reset":["cookies"]})").granularStorageReset.empty());
}

// Files that are not a usable configuration give the defaults, never a crash or a hang.
TEST(LoadOverlay, UnusableFilesGiveDefaults) {
  TempDir dir;
  std::string path = dir / "command-line.json";
  const std::string valid = R"({"auto-geo":true,"proxy-server":"socks5://p:1"})";
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"malformed", "{\"auto-geo\":true"},
      {"array", "[{\"auto-geo\":true}]"},
      {"string", "\"auto-geo\""},
      {"trailing garbage", valid + " x"},
      {"NUL byte", valid + std::string(1, '\0') + "x"},
      {"comment", "/* c */" + valid},
      {"non-UTF-8", "{\"auto-geo\":true,\"proxy-server\":\"socks5://\xff\xfe:1\"}"},
      {"nested a million deep", std::string(1000000, '[') + std::string(1000000, ']')},
      {"huge", "{\"auto-geo\":true,\"pad\":\"" + std::string(kMaxJsonFileBytes, 'x') + "\"}"},
  };
  for (const Case& c : cases) {
    writeFile(path, c.bytes);
    OverlayKeys o = loadOverlay(path);
    EXPECT_FALSE(o.autoGeo) << c.name;
    EXPECT_EQ(o.proxyServer, "") << c.name;
  }
  writeFile(path, "\xEF\xBB\xBF" + valid);  // a byte-order mark is tolerated
  EXPECT_TRUE(loadOverlay(path).autoGeo);

  std::string nested =
      "{\"auto-geo\":true,\"deep\":" + std::string(200, '[') + std::string(200, ']') + "}";
  writeFile(path, nested);
  EXPECT_TRUE(loadOverlay(path).autoGeo) << "ordinary nesting is read";
}

TEST(LoadOverlay, SpecialFilesGiveDefaults) {
  TempDir dir;
  EXPECT_EQ(loadOverlay(dir / "missing.json").onProxyFail, "block");
  std::string fifo = dir / "fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(readJsonObjectFile(fifo).has_value());  // returns at once, nobody writes
  EXPECT_FALSE(readJsonObjectFile(dir.path()).has_value());
  EXPECT_FALSE(readJsonObjectFile("/dev/zero").has_value());
}

}  // namespace
}  // namespace quillon
