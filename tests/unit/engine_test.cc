// The launch decision, engine location and arguments, extra switches, WebGL
// profiles and profile hygiene.
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "engine/hygiene.h"
#include "engine/spawn.h"
#include "engine/switches.h"
#include "engine/webgl_profile.h"
#include "launcher/direct_launch.h"
#include "launcher/engine_location.h"
#include "launcher/launch_decision.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::exists;
using test::TempDir;
using test::writeFile;
using Args = std::vector<std::string>;

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

// Each automatic value needs discovery until the persona states all of it.
TEST(LaunchDecision, AutomaticValuesNotStatedThroughSocks5) {
  const char* const cases[][2] = {{R"("auto-geo":1,"geo-lat":1)", R"("geo-lng":1)"},
                                  {R"("auto-lang":1,"lang":1)", R"("accept-language":1)"},
                                  {R"("webrtc-no-leak":1)", R"("webrtc-fake-public-ip":1)"},
                                  {R"("auto-timezone":1)", R"("timezone-override":1)"}};
  auto discovers = [](const std::string& members, const char* proxy) {
    return takesDiscoveryPath(overlayFromConfig(*parseJson(
        "{" + members + R"(,"chrome-command-line":{"--proxy-server":")" + proxy + "\"}}")));
  };
  for (const auto& [asks, states] : cases) {
    EXPECT_TRUE(discovers(asks, "socks5://h:1")) << asks;
    EXPECT_FALSE(discovers(asks + std::string(",") + states, "socks5://h:1")) << asks;
    EXPECT_FALSE(discovers(asks, "socks5h://h:1") || discovers(asks, "SOCKS5://h:1")) << asks;
  }
}

TEST(LocateEngine, OverrideMadeAbsoluteUnlessEmpty) {
  const std::string bundled =
      "/opt/q/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/Quillon Browser Engine";
  EXPECT_EQ(locateEngine(std::string(""), "/opt/q"), bundled);
  EXPECT_EQ(locateEngine(std::string("/abs/engine"), "/opt/q"), "/abs/engine");
  EXPECT_EQ(locateEngine(std::string("rel/engine"), "/opt/q"),
            std::filesystem::current_path().string() + "/rel/engine");
}

TEST(Switches, DeviceBucketsAtEveryEdgeAndStatedValues) {
  const std::pair<uint64_t, const char*> edges[] = {
      {24 * kGiB, "32"},   {24 * kGiB - 1, "16"},  {12 * kGiB, "16"}, {12 * kGiB - 1, "8"},
      {6 * kGiB, "8"},     {6 * kGiB - 1, "4"},    {3 * kGiB, "4"},   {3 * kGiB - 1, "2"},
      {3 * kGiB / 2, "2"}, {3 * kGiB / 2 - 1, "1"}};
  for (const auto& [bytes, bucket] : edges) EXPECT_EQ(deviceMemoryGB(bytes), bucket) << bytes;
  EXPECT_EQ(deviceMemoryGB(0), std::nullopt);
  struct sysinfo info {};
  ASSERT_EQ(sysinfo(&info), 0);
  EXPECT_EQ(currentMachineFacts().physicalMemoryBytes, uint64_t{info.totalram} * info.mem_unit);
  EXPECT_EQ(currentMachineFacts().activeProcessorCount, get_nprocs());

  OverlayKeys o;
  EXPECT_EQ(directSwitchList(o, {"--w=1"}, {8 * kGiB, 4}),
            (Args{"--w=1", "--device-memory=8", "--hardware-concurrency=4",
                  "--speech-voices-preset=stock-chrome-mac", "chrome://version"}));
  o.deviceMemorySet = o.hardwareConcurrencySet = o.speechVoicesSet = o.webrtcNoLeak = true;
  o.startPage = "https://start.test/";
  EXPECT_EQ(directSwitchList(o, {}, {8 * kGiB, 4}), Args{"https://start.test/"});
  ResolvedPersona r{"203.0.113.7", "48.85", "", "fr-FR", "fr-FR,fr;q=0.9", "Europe/Paris"};
  EXPECT_EQ(discoverySwitchList(o, r, {"--w=1"}, {}),
            (Args{"--w=1", "--webrtc-fake-public-ip=203.0.113.7",
                  "--force-webrtc-ip-handling-policy=default", "--timezone-override=Europe/Paris",
                  "--lang=fr-FR", "--accept-language=fr-FR,fr;q=0.9", "--geo-lat=48.85",
                  "https://start.test/"}));
  r.geoLng = "2.35";
  EXPECT_EQ(discoverySwitchList(o, r, {}, {}).at(7), "--geo-accuracy=100");
}

TEST(EngineArguments, UsersDisabledFeaturesJoinTheLaunchersLastSwitch) {
  const Args args = {"--disable-features=WebRtcHideLocalIpsWithMdns,A", "--x",
                     "--disable-features=B,,PasswordManagerOnboarding,A"};
  Args expected = {"/e"};
  expected.insert(expected.end(), args.begin(), args.end());
  expected.insert(expected.end(), {"chrome://version", "--hide-crash-restore-bubble",
                                   "--disable-features=WebRtcHideLocalIpsWithMdns,A,B,"
                                   "PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
                                   "--disable-save-password-bubble"});
  EXPECT_EQ(engineArguments("/e", args, {"chrome://version"}), expected);
  EXPECT_EQ(engineArguments("/e", {}, {}).at(2),
            "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage");
}

TEST(WebglProfile, MembersInFileOrderNumbersInPlainDecimal) {
  TempDir dir;
  std::string file = dir / "p.json";
  writeFile(file, R"({"profiles":{"p":{"z":"Acme / Inc","_c":1,"max":4,"big":8.0,"e":1e15,
    "on":true,"off":false,"obj":{"k":"a/b","n":[1.0,2.5,1e21,true,null]},"empty":"","null":null},
    "q":"a=b"}})");
  EXPECT_EQ(
      webglProfileSwitches("p", file),
      (Args{"--z=Acme / Inc", "--max=4", "--big=8", "--e=1000000000000000", "--on=1", "--off=0",
            R"(--obj={"k":"a\/b","n":[1,2.5,1000000000000000000000,true,null]})"}));
  for (const char* name : {"P", "q", ""}) EXPECT_TRUE(webglProfileSwitches(name, file).empty());

  writeFile(dir / "bin/quillon-webgl-profiles.json", "{}");
  EXPECT_EQ(locateWebglProfiles(dir / "bin", dir / "bin/x"),
            dir / "bin/quillon-webgl-profiles.json");
  writeFile(dir / "share/quillon/quillon-webgl-profiles.json", "{}");
  EXPECT_EQ(locateWebglProfiles(dir / "bin", dir / "bin/x"),
            dir / "bin/../share/quillon/quillon-webgl-profiles.json");
}

// Items of a used profile, relative to the user data directory.
const Args kItems = {"Default/Current Tabs",
                     "Default/Sessions/Session_1",
                     "Default/Cookies",
                     "Default/Network/Cookies",
                     "ShaderCache/data_0",
                     "Default/GPUCache/d",
                     "Default/Service Worker/ScriptCache/1",
                     "Default/Service Worker/CacheStorage/c",
                     "Default/Preferences",
                     "Local State"};

class Hygiene : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& item : kItems) writeFile(udd / item, "x");
  }
  // The items of kItems that are gone.
  Args removed() const {
    Args gone;
    for (const std::string& item : kItems)
      if (!exists(udd / item)) gone.push_back(item);
    return gone;
  }
  Args afterHygiene(bool closeTabs, std::map<std::string, bool> kinds) {
    OverlayKeys o;
    o.closePreviousTabs = closeTabs;
    o.granularStorageReset = std::move(kinds);
    runProfileHygiene(o, udd.path());
    return removed();
  }
  TempDir udd;
};

TEST_F(Hygiene, ExactlyTheChosenItemsGo) {
  struct Case {
    bool closeTabs;
    std::map<std::string, bool> kinds;
    Args gone;
  };
  const Case cases[] = {
      {true, {}, {"Default/Current Tabs", "Default/Sessions/Session_1"}},
      {false,
       {{"cookies", true}, {"Cookies", true}},
       {"Default/Cookies", "Default/Network/Cookies"}},
      {false, {{"shader_cache", true}}, {"ShaderCache/data_0", "Default/GPUCache/d"}},
      {false, {{"cache_storage", true}}, {"Default/Service Worker/CacheStorage/c"}},
      {false,
       {{"all", true}, {"cookies", false}},
       {"Default/Cookies", "Default/Network/Cookies", "ShaderCache/data_0", "Default/GPUCache/d",
        "Default/Service Worker/ScriptCache/1", "Default/Service Worker/CacheStorage/c"}},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(afterHygiene(c.closeTabs, c.kinds), c.gone) << c.gone.front();
  }
}

TEST_F(Hygiene, NeverFollowsALinkOutOfTheProfile) {
  TempDir outside;
  writeFile(outside / "Cookies", "keep");
  writeFile(outside / "CacheStorage/c", "keep");
  for (const char* dir : {"Default/Network", "Default/Service Worker", "Default/Sessions"}) {
    std::filesystem::remove_all(udd / dir);
    std::filesystem::create_directory_symlink(outside.path(), udd / dir);
  }
  afterHygiene(true, {{"cookies", true}, {"cache_storage", true}});
  EXPECT_EQ(test::readFile(outside / "Cookies") + test::readFile(outside / "CacheStorage/c"),
            "keepkeep");
  EXPECT_FALSE(exists(udd / "Default/Sessions")) << "the link itself goes";
}

// An engine running on the profile holds its lock: hygiene waits for a
// launch where it does not.
TEST_F(Hygiene, SkippedWhileAnEngineRunsOnTheProfile) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::pair<std::string, bool> locks[] = {
      {host + ("-" + std::to_string(getpid())), false},
      {host + ("-" + std::to_string(gone)), true},
      {"other-host-" + std::to_string(getpid()), true},
  };
  for (const auto& [lock, cleaned] : locks) {
    SetUp();
    std::filesystem::remove(udd / "SingletonLock");
    symlink(lock.c_str(), (udd / "SingletonLock").c_str());
    EXPECT_EQ(afterHygiene(true, {{"all", true}}).size(), cleaned ? 8u : 0u) << lock;
  }
  SetUp();
  ASSERT_EQ(chdir(udd.path().c_str()), 0);
  OverlayKeys all;
  all.closePreviousTabs = true;
  all.granularStorageReset = {{"all", true}};
  runProfileHygiene(all, std::string());
  EXPECT_TRUE(removed().empty()) << "an empty user data directory is not the current one";
  ASSERT_EQ(chdir("/"), 0);
}

}  // namespace
}  // namespace quillon
