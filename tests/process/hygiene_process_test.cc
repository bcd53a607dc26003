// Profile hygiene as the launched process does it: what the persona asks to
// delete goes, nothing else does, no link leads it out of the profile, and an
// odd or unusable user data directory never stops the launch.
#include <filesystem>
#include <set>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

// Every item of a used profile, relative to the user data directory.
const std::vector<std::string> kProfileItems = {
    "Local State",
    "Current Tabs",
    "ShaderCache/data_0",
    "GraphiteDawnCache/data_0",
    "Default/Preferences",
    "Default/Current Tabs",
    "Default/Current Session",
    "Default/Last Tabs",
    "Default/Last Session",
    "Default/Sessions/Session_1",
    "Default/Sessions/Tabs_1",
    "Default/Sessions-keep",
    "Default/Cookies",
    "Default/Cookies-journal",
    "Default/Network/Cookies",
    "Default/Network/Cookies-journal",
    "Default/Network/Trust Tokens",
    "Default/File System/000/p",
    "Default/IndexedDB/https_a.test_0.indexeddb.leveldb/LOG",
    "Default/Local Storage/leveldb/LOG",
    "Default/GPUCache/data_0",
    "Default/databases/Databases.db",
    "Default/Service Worker/CacheStorage/index",
    "Default/Service Worker/Database/LOG",
    "Default/InterestGroups",
    "Default/Shared Storage",
    "Default/Shared Storage-journal",
    "Default/StorageBuckets/x",
    "Profile 1/Current Tabs",
    "Profile 1/Cookies",
};

const std::set<std::string> kSessionItems = {
    "Default/Current Tabs",       "Default/Current Session", "Default/Last Tabs",
    "Default/Last Session",       "Default/Sessions/Session_1", "Default/Sessions/Tabs_1",
};

const std::set<std::string> kCookieItems = {
    "Default/Cookies", "Default/Cookies-journal", "Default/Network/Cookies",
    "Default/Network/Cookies-journal"};

const std::set<std::string> kAllStorageItems = {
    "Default/Cookies",
    "Default/Cookies-journal",
    "Default/Network/Cookies",
    "Default/Network/Cookies-journal",
    "Default/File System/000/p",
    "Default/IndexedDB/https_a.test_0.indexeddb.leveldb/LOG",
    "Default/Local Storage/leveldb/LOG",
    "ShaderCache/data_0",
    "GraphiteDawnCache/data_0",
    "Default/GPUCache/data_0",
    "Default/databases/Databases.db",
    "Default/Service Worker/CacheStorage/index",
    "Default/Service Worker/Database/LOG",
    "Default/InterestGroups",
    "Default/Shared Storage",
    "Default/Shared Storage-journal",
    "Default/StorageBuckets/x",
};

class HygieneProcessTest : public LauncherProcessTest {
 protected:
  void populate(const std::string& profile) {
    for (const std::string& item : kProfileItems) writeFile(profile + "/" + item, item);
  }

  // The items that are gone.
  std::set<std::string> deleted(const std::string& profile) {
    std::set<std::string> gone;
    for (const std::string& item : kProfileItems)
      if (readFile(profile + "/" + item) != item) gone.insert(item);
    return gone;
  }

  Launch launchWith(const std::string& profile, const std::string& config, const LaunchOptions& options = {}) {
    writeFile(profile + "/command-line.json", config);
    fs::remove(record_);
    Launch run = launch({"--user-data-dir=" + profile}, options);
    EXPECT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, "");
    EXPECT_TRUE(run.engine) << "the engine did not start";
    return run;
  }
};

TEST_F(HygieneProcessTest, PreviousTabsGoWhenAskedOrWhenAStartPageIsSet) {
  const char* configs[] = {
      R"({"close-previous-tabs":true})",
      R"({"close-previous-tabs":"1"})",
      R"({"close-previous-tabs":false,"start-page":"https://start.test/"})",
  };
  for (const char* config : configs) {
    SCOPED_TRACE(config);
    std::string profile = path("profile");
    fs::remove_all(profile);
    populate(profile);
    launchWith(profile, config);
    EXPECT_EQ(deleted(profile), kSessionItems);
    EXPECT_FALSE(exists(profile + "/Default/Sessions"));
  }
}

TEST_F(HygieneProcessTest, NothingGoesWithoutAsking) {
  const char* configs[] = {
      R"({})",
      R"({"close-previous-tabs":"TRUE","start-page":""})",
      R"({"granular-storage-reset":{"cookies":false,"all":false}})",
      R"({"granular-storage-reset":{"Cookies":true,"local-storage":true,"unknown":true}})",
      R"({"granular-storage-reset":{"cookies":"true","indexeddb":null}})",
      R"({"granular-storage-reset":["cookies"]})",
  };
  for (const char* config : configs) {
    SCOPED_TRACE(config);
    std::string profile = path("profile");
    fs::remove_all(profile);
    populate(profile);
    launchWith(profile, config);
    EXPECT_EQ(deleted(profile), std::set<std::string>{});
  }
}

TEST_F(HygieneProcessTest, StorageKindsDeleteTheirItemsOnly) {
  struct Case {
    const char* config;
    std::set<std::string> gone;
  };
  std::set<std::string> sessionsAndCookies = kSessionItems;
  sessionsAndCookies.insert(kCookieItems.begin(), kCookieItems.end());
  const Case cases[] = {
      {R"({"granular-storage-reset":{"cookies":true}})", kCookieItems},
      {R"({"granular-storage-reset":{"cookies":2}})", kCookieItems},
      {R"({"granular-storage-reset":{"shader_cache":true}})",
       {"ShaderCache/data_0", "GraphiteDawnCache/data_0", "Default/GPUCache/data_0"}},
      {R"({"granular-storage-reset":{"cache_storage":true}})",
       {"Default/Service Worker/CacheStorage/index"}},
      {R"({"granular-storage-reset":{"all":false,"indexeddb":true}})",
       {"Default/IndexedDB/https_a.test_0.indexeddb.leveldb/LOG"}},
      {R"({"granular-storage-reset":{"all":true,"cookies":false}})", kAllStorageItems},
      {R"({"close-previous-tabs":true,"granular-storage-reset":{"cookies":1}})", sessionsAndCookies},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    std::string profile = path("profile");
    fs::remove_all(profile);
    populate(profile);
    launchWith(profile, c.config);
    EXPECT_EQ(deleted(profile), c.gone);
  }
}

TEST_F(HygieneProcessTest, LinksInTheProfileAreNotFollowedOut) {
  std::string profile = path("profile");
  populate(profile);
  fs::remove_all(profile + "/Default/Network");
  fs::create_directory_symlink(path("outside/Network"), profile + "/Default/Network");
  fs::remove_all(profile + "/Default/IndexedDB");
  fs::create_directory_symlink(path("outside/IndexedDB"), profile + "/Default/IndexedDB");
  fs::remove_all(profile + "/Default/Sessions");
  fs::create_directory_symlink(path("outside/Sessions"), profile + "/Default/Sessions");
  fs::remove(profile + "/Default/Cookies");
  fs::create_symlink(path("outside/Cookies"), profile + "/Default/Cookies");
  fs::remove_all(profile + "/ShaderCache");
  fs::create_directory_symlink(path("outside"), profile + "/ShaderCache");

  launchWith(profile, R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  // The links themselves go; what they point at stays (checked after every test).
  for (const char* link : {"/Default/IndexedDB", "/Default/Sessions", "/Default/Cookies", "/ShaderCache"})
    EXPECT_FALSE(exists(profile + link)) << link;
  EXPECT_TRUE(fs::is_symlink(profile + "/Default/Network"));
  EXPECT_EQ(readFile(profile + "/Default/Preferences"), "Default/Preferences");
}

TEST_F(HygieneProcessTest, LinkedDefaultProfileIsNotEntered) {
  std::string profile = path("profile");
  fs::create_directories(profile);
  fs::create_directory_symlink(path("outside/Default"), profile + "/Default");
  launchWith(profile, R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  EXPECT_TRUE(fs::is_symlink(profile + "/Default"));
}

TEST_F(HygieneProcessTest, UserDataDirectoryWithSpacesAndNonAsciiName) {
  std::string profile = path("My Profile \xc3\xbc \xe6\x97\xa5\xe6\x9c\xac 'q' \"d\"");
  populate(profile);
  Launch run = launchWith(profile, R"({"close-previous-tabs":true,"granular-storage-reset":{"cookies":true}})");
  std::set<std::string> gone = kSessionItems;
  gone.insert(kCookieItems.begin(), kCookieItems.end());
  EXPECT_EQ(deleted(profile), gone);
  EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
  ASSERT_TRUE(run.engine);
  ASSERT_GE(run.engine->argv.size(), 2u);
  EXPECT_EQ(run.engine->argv[1], "--user-data-dir=" + profile);
}

TEST_F(HygieneProcessTest, RelativeUserDataDirectoryIsTakenFromTheWorkingDirectory) {
  std::string profile = path("work/rel/profile");
  populate(profile);
  writeFile(profile + "/command-line.json", R"({"close-previous-tabs":true})");
  Launch run = launch({"--user-data-dir=rel/profile"}, {.cwd = path("work")});
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.process.err, "");
  EXPECT_TRUE(run.engine);
  EXPECT_EQ(deleted(profile), kSessionItems);
  EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
}

TEST_F(HygieneProcessTest, EmptyOrAbsentUserDataDirectoryCleansNothing) {
  // The persona asks for everything, and the working directory looks like a
  // profile: with no user data directory nothing may be deleted there.
  populate(path("work"));
  writeFile(userConfig(), R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--user-data-dir="},
                                               std::vector<std::string>{}}) {
    SCOPED_TRACE(args.empty() ? "no argument" : args[0]);
    fs::remove(record_);
    Launch run = launch(args, {.cwd = path("work")});
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.err, "");
    EXPECT_TRUE(run.engine);
    EXPECT_EQ(deleted(path("work")), std::set<std::string>{});
    EXPECT_TRUE(isPassthroughReport(readFile(userReport())));
  }
}

TEST_F(HygieneProcessTest, MissingUserDataDirectoryIsCreatedForTheReportOnly) {
  writeFile(userConfig(), R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  std::string profile = path("not/yet/there");
  Launch run = launch({"--user-data-dir=" + profile});
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.process.err, "");
  EXPECT_TRUE(run.engine);
  EXPECT_TRUE(fs::is_directory(profile));
  EXPECT_FALSE(exists(profile + "/Default"));
  EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
}

TEST_F(HygieneProcessTest, UserDataDirectoryThatIsAFileIsLeftAlone) {
  writeFile(userConfig(), R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  writeFile(path("profile-file"), "not a directory");
  Launch run = launch({"--user-data-dir=" + path("profile-file")});
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.process.err, "");
  EXPECT_TRUE(run.engine);
  EXPECT_EQ(readFile(path("profile-file")), "not a directory");
}

TEST_F(HygieneProcessTest, ReadOnlyProfileFailsQuietlyAndTheEngineStarts) {
  std::string profile = path("profile");
  populate(profile);
  writeFile(profile + "/command-line.json",
            R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})");
  ReadOnlyDirectory top(profile);
  ReadOnlyDirectory inner(profile + "/Default");
  if (!top.effective() || !inner.effective()) GTEST_SKIP() << "cannot make a directory read-only here";
  fs::remove(record_);
  Launch run = launch({"--user-data-dir=" + profile});
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.process.out, "");
  EXPECT_EQ(run.process.err, "");
  EXPECT_TRUE(run.engine);
  // Items right in the two read-only directories cannot go.
  for (const char* item : {"Default/Current Tabs", "Default/Cookies", "Default/InterestGroups",
                           "Default/Preferences"})
    EXPECT_EQ(readFile(profile + "/" + item), item);
  EXPECT_FALSE(exists(profile + "/.quillon-launcher-result.json"));
}

}  // namespace
}  // namespace quillon::test
