// The launch decision, engine location, extra switch lists and spawn errors.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "engine/spawn.h"
#include "engine/switches.h"
#include "launcher/engine_location.h"
#include "launcher/fatal.h"
#include "launcher/launch_decision.h"
#include "support/test_files.h"

namespace quillon {
namespace {

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
const MachineFacts kMachine{8 * kGiB, 4};

OverlayKeys statesDevice() {
  OverlayKeys o;
  o.deviceMemorySet = o.hardwareConcurrencySet = o.speechVoicesSet = true;
  return o;
}

TEST(LaunchDecision, AutomaticValuesNotStatedNeedDiscovery) {
  OverlayKeys o;
  EXPECT_FALSE(needsDiscovery(o));
  o.autoGeo = true;
  o.geoLatSet = true;
  EXPECT_TRUE(needsDiscovery(o)) << "one coordinate stated is not enough";
  o.geoLngSet = true;
  EXPECT_FALSE(needsDiscovery(o));
  o.autoLang = true;
  o.langSet = true;
  EXPECT_TRUE(needsDiscovery(o));
  o.acceptLanguageSet = true;
  EXPECT_FALSE(needsDiscovery(o));
  o.webrtcNoLeak = true;
  EXPECT_TRUE(needsDiscovery(o));
  o.webrtcFakePublicIpSet = true;
  o.autoTimezone = true;
  EXPECT_TRUE(needsDiscovery(o));
  o.timezoneOverrideSet = true;
  EXPECT_FALSE(needsDiscovery(o));
}

TEST(LaunchDecision, OnlyAnExactSocks5SchemeTakesTheDiscoveryPath) {
  OverlayKeys o;
  o.autoTimezone = true;
  for (const char* proxy : {"", "SOCKS5://h:1", "socks5h://h:1", "http://h:1", " socks5://h:1"}) {
    o.proxyServer = proxy;
    EXPECT_FALSE(takesDiscoveryPath(o)) << proxy;
  }
  o.proxyServer = "socks5://user:pw@h:1080";
  EXPECT_TRUE(takesDiscoveryPath(o));
  o.autoTimezone = false;
  EXPECT_FALSE(takesDiscoveryPath(o));
}

TEST(LocateEngine, OverrideUnlessEmpty) {
  const std::string bundled =
      "/opt/q/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/Quillon Browser Engine";
  EXPECT_EQ(locateEngine(std::nullopt, "/opt/q"), bundled);
  EXPECT_EQ(locateEngine(std::string(""), "/opt/q"), bundled);
  EXPECT_EQ(locateEngine(std::string("rel/engine"), "/opt/q"), "rel/engine");
}

TEST(DeviceMemory, Buckets) {
  EXPECT_EQ(deviceMemoryGB(0), std::nullopt);
  EXPECT_EQ(deviceMemoryGB(64 * kGiB), "32");
  EXPECT_EQ(deviceMemoryGB(24 * kGiB), "32");
  EXPECT_EQ(deviceMemoryGB(24 * kGiB - 1), "16");
  EXPECT_EQ(deviceMemoryGB(16 * kGiB), "16");
  EXPECT_EQ(deviceMemoryGB(12 * kGiB), "16");
  EXPECT_EQ(deviceMemoryGB(8 * kGiB), "8");
  EXPECT_EQ(deviceMemoryGB(4 * kGiB), "4");
  EXPECT_EQ(deviceMemoryGB(3 * kGiB - 1), "2");
  EXPECT_EQ(deviceMemoryGB(2 * kGiB), "2");
  EXPECT_EQ(deviceMemoryGB(3 * kGiB / 2), "2");
  EXPECT_EQ(deviceMemoryGB(1 * kGiB), "1");
  EXPECT_EQ(deviceMemoryGB(1), "1");
}

TEST(DirectSwitchList, DeviceSwitchesUnlessStatedThenStartPage) {
  OverlayKeys o;
  EXPECT_EQ(directSwitchList(o, {}, kMachine),
            (SwitchList{"--device-memory=8", "--hardware-concurrency=4",
                        "--speech-voices-preset=stock-chrome-mac", "chrome://version"}));
  EXPECT_EQ(directSwitchList(o, {}, MachineFacts{0, 0}),
            (SwitchList{"--speech-voices-preset=stock-chrome-mac", "chrome://version"}));
  EXPECT_EQ(directSwitchList(statesDevice(), {}, kMachine), SwitchList{"chrome://version"});

  OverlayKeys page = statesDevice();
  page.startPage = "https://start.test/?q=1";
  EXPECT_EQ(directSwitchList(page, {"--webgl-vendor=V"}, kMachine),
            (SwitchList{"--webgl-vendor=V", "https://start.test/?q=1"}));
}

TEST(DirectSwitchList, CarriesNoDiscoveredValues) {
  OverlayKeys o = statesDevice();
  o.webrtcNoLeak = o.autoGeo = o.autoLang = o.autoTimezone = true;
  o.proxyServer = "http://p:1";
  EXPECT_EQ(directSwitchList(o, {}, kMachine), SwitchList{"chrome://version"});
}

TEST(DiscoverySwitchList, FullOrder) {
  OverlayKeys o;
  o.webrtcNoLeak = true;
  ResolvedPersona r{"203.0.113.7", "48.85", "2.35", "fr-FR", "fr-FR,fr;q=0.9,en;q=0.8",
                    "Europe/Paris"};
  EXPECT_EQ(
      discoverySwitchList(o, r, {"--webgl-a=1"}, kMachine),
      (SwitchList{"--webgl-a=1", "--webrtc-fake-public-ip=203.0.113.7",
                  "--force-webrtc-ip-handling-policy=default", "--timezone-override=Europe/Paris",
                  "--lang=fr-FR", "--accept-language=fr-FR,fr;q=0.9,en;q=0.8", "--geo-lat=48.85",
                  "--geo-lng=2.35", "--geo-accuracy=100", "--device-memory=8",
                  "--hardware-concurrency=4", "--speech-voices-preset=stock-chrome-mac",
                  "chrome://version"}));
}

TEST(DiscoverySwitchList, EmptyValuesAddNothing) {
  OverlayKeys o = statesDevice();
  EXPECT_EQ(discoverySwitchList(o, {}, {}, kMachine), SwitchList{"chrome://version"});

  o.webrtcNoLeak = true;
  ResolvedPersona onlyLat;
  onlyLat.geoLat = "48.85";
  EXPECT_EQ(discoverySwitchList(o, onlyLat, {}, kMachine),
            (SwitchList{"--force-webrtc-ip-handling-policy=default", "--geo-lat=48.85",
                        "chrome://version"}));
}

TEST(EngineArguments, PathArgumentsSwitchesThenFixedTrailers) {
  EXPECT_EQ(engineArguments("/e", {}, {"chrome://version"}),
            (std::vector<std::string>{
                "/e", "chrome://version", "--hide-crash-restore-bubble",
                "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
                "--disable-save-password-bubble"}));
  auto argv = engineArguments(
      "/e", {"--lang=de", "--user-data-dir=/u", "--hide-crash-restore-bubble"}, {"--lang=fr", "x"});
  EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + 6),
            (std::vector<std::string>{"/e", "--lang=de", "--user-data-dir=/u",
                                      "--hide-crash-restore-bubble", "--lang=fr", "x"}));
  EXPECT_EQ(argv.size(), 9u);
}

// Anything that is not an executable regular file counts as a missing engine.
TEST(SpawnEngine, NotExecutableIsMissing) {
  test::TempDir dir;
  std::string plain = dir / "plain";
  test::writeFile(plain, "#!/bin/sh\n");
  for (const std::string& path : {dir / "absent", dir.path(), plain}) {
    try {
      spawnEngine(path, {}, {"chrome://version"});
      ADD_FAILURE() << path;
    } catch (const SpawnError& e) {
      EXPECT_EQ(e.kind(), SpawnError::Kind::engineMissing);
      EXPECT_EQ(e.description(), "engine binary not found at " + path);
      EXPECT_EQ(fatalMessage(e), "Engine binary not found:\n" + path);
    }
  }
}

TEST(SpawnEngine, ExecFailureIsPosixSpawnError) {
  test::TempDir dir;
  std::string garbage = dir / "garbage";
  test::writeFile(garbage, std::string("\x01\x02\x03\x04 not a program", 20));
  chmod(garbage.c_str(), 0755);
  try {
    spawnEngine(garbage, {}, {"chrome://version"});
    ADD_FAILURE() << "spawn of a non-program succeeded";
  } catch (const SpawnError& e) {
    EXPECT_EQ(e.kind(), SpawnError::Kind::posixSpawn);
    EXPECT_EQ(e.code(), ENOEXEC);
    EXPECT_EQ(fatalMessage(e),
              "Engine spawn failed: posix_spawn failed (errno 8): Exec format error");
  }
}

}  // namespace
}  // namespace quillon
