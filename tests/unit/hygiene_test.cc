// Profile hygiene: exactly the chosen items go, nothing outside the profile.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "engine/hygiene.h"
#include "support/test_files.h"

namespace quillon {
namespace {

using test::exists;
using test::writeFile;

// Every item hygiene knows, plus bystanders that must survive.
const std::vector<std::string> kProfileItems = {"Default/Current Tabs",
                                                "Default/Current Session",
                                                "Default/Last Tabs",
                                                "Default/Last Session",
                                                "Default/Sessions/Session_1",
                                                "Default/Cookies",
                                                "Default/Cookies-journal",
                                                "Default/Network/Cookies",
                                                "Default/Network/Cookies-journal",
                                                "Default/File System/000/p",
                                                "Default/IndexedDB/x.leveldb/1",
                                                "Default/Local Storage/leveldb/1",
                                                "ShaderCache/data_0",
                                                "GraphiteDawnCache/data_0",
                                                "Default/GPUCache/data_0",
                                                "Default/databases/db",
                                                "Default/Service Worker/ScriptCache/1",
                                                "Default/Service Worker/CacheStorage/c",
                                                "Default/InterestGroups",
                                                "Default/Shared Storage",
                                                "Default/Shared Storage-journal",
                                                "Default/StorageBuckets/b",
                                                "Default/Bookmarks",
                                                "Default/Preferences",
                                                "Default/Network/Network Persistent State",
                                                "Local State"};

class Hygiene : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& item : kProfileItems) writeFile(udd / item, "x");
  }
  // The items of kProfileItems that are gone.
  std::vector<std::string> removed() const {
    std::vector<std::string> gone;
    for (const std::string& item : kProfileItems)
      if (!exists(udd / item)) gone.push_back(item);
    return gone;
  }
  void reset(std::map<std::string, bool> kinds) { resetGranularStorage(udd.path(), kinds); }

  test::TempDir udd;
};

TEST_F(Hygiene, ClearPreviousTabsTakesTheSessionItemsOnly) {
  clearPreviousTabs(udd.path());
  EXPECT_EQ(removed(), (std::vector<std::string>{"Default/Current Tabs", "Default/Current Session",
                                                 "Default/Last Tabs", "Default/Last Session",
                                                 "Default/Sessions/Session_1"}));
  EXPECT_FALSE(exists(udd / "Default/Sessions"));
  clearPreviousTabs(udd.path());  // nothing left to delete: quiet
}

TEST_F(Hygiene, SelectedKindsOnly) {
  reset({{"cookies", false}});
  EXPECT_TRUE(removed().empty());
  reset({{"Cookies", true}, {"local-storage", true}, {"history", true}});
  EXPECT_TRUE(removed().empty());

  reset({{"all", false}, {"indexeddb", true}});
  EXPECT_EQ(removed(), std::vector<std::string>{"Default/IndexedDB/x.leveldb/1"});
}

TEST_F(Hygiene, ShaderCacheSpansUserDataAndProfile) {
  reset({{"shader_cache", true}});
  EXPECT_EQ(removed(), (std::vector<std::string>{"ShaderCache/data_0", "GraphiteDawnCache/data_0",
                                                 "Default/GPUCache/data_0"}));
}

TEST_F(Hygiene, CacheStorageLeavesTheRestOfServiceWorker) {
  reset({{"cache_storage", true}});
  EXPECT_EQ(removed(), std::vector<std::string>{"Default/Service Worker/CacheStorage/c"});
}

TEST_F(Hygiene, AllWinsOverEveryOtherKey) {
  reset({{"all", true}, {"cookies", false}});
  std::vector<std::string> gone = removed();
  EXPECT_EQ(gone.size(), 17u) << "every storage item of the list";
  for (const char* survivor : {"Default/Current Tabs", "Default/Bookmarks", "Default/Preferences",
                               "Default/Network/Network Persistent State", "Local State"})
    EXPECT_TRUE(exists(udd / survivor)) << survivor;
}

TEST_F(Hygiene, EmptyUserDataDirDoesNothing) {
  ASSERT_EQ(chdir(udd.path().c_str()), 0);
  clearPreviousTabs("");
  resetGranularStorage("", {{"all", true}});
  EXPECT_TRUE(removed().empty());
  ASSERT_EQ(chdir("/"), 0);
}

TEST_F(Hygiene, NeverFollowsLinksOutOfTheProfile) {
  test::TempDir outside;
  writeFile(outside / "Cookies", "precious");
  writeFile(outside / "CacheStorage/c", "precious");
  writeFile(outside / "Sessions/s", "precious");
  std::filesystem::remove_all(udd / "Default/Network");
  std::filesystem::remove_all(udd / "Default/Service Worker");
  std::filesystem::remove_all(udd / "Default/Sessions");
  ASSERT_EQ(symlink(outside.path().c_str(), (udd / "Default/Network").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (udd / "Default/Service Worker").c_str()), 0);
  ASSERT_EQ(symlink((outside / "Sessions").c_str(), (udd / "Default/Sessions").c_str()), 0);

  reset({{"cookies", true}, {"cache_storage", true}});
  clearPreviousTabs(udd.path());
  EXPECT_EQ(test::readFile(outside / "Cookies"), "precious");
  EXPECT_EQ(test::readFile(outside / "CacheStorage/c"), "precious");
  EXPECT_EQ(test::readFile(outside / "Sessions/s"), "precious");
  EXPECT_FALSE(exists(udd / "Default/Sessions")) << "the link itself goes";
  EXPECT_FALSE(exists(udd / "Default/Cookies"));
}

TEST_F(Hygiene, LinkedProfileDirectoryIsNotEntered) {
  test::TempDir outside;
  writeFile(outside / "Cookies", "precious");
  writeFile(outside / "Current Tabs", "precious");
  std::filesystem::remove_all(udd / "Default");
  ASSERT_EQ(symlink(outside.path().c_str(), (udd / "Default").c_str()), 0);
  reset({{"all", true}});
  clearPreviousTabs(udd.path());
  EXPECT_TRUE(exists(outside / "Cookies"));
  EXPECT_TRUE(exists(outside / "Current Tabs"));
  EXPECT_FALSE(exists(udd / "ShaderCache")) << "items beside the profile still go";
}

}  // namespace
}  // namespace quillon
