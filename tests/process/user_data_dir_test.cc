// The user data directory as the launched process treats it: the
// "passthrough" report goes there (else to the per-user folder), hygiene
// deletes what the persona asks for and nothing else, no link leads out of
// the profile, and no odd or unusable directory stops the launch.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReport = "/.quillon-launcher-result.json";
constexpr const char* kEverything =
    R"({"close-previous-tabs":true,"granular-storage-reset":{"all":true}})";

// Items of a used profile, relative to the user data directory.
const std::vector<std::string> kProfileItems = {
    "Local State",
    "ShaderCache/data_0",
    "Default/Preferences",
    "Default/Current Tabs",
    "Default/Last Session",
    "Default/Sessions/Tabs_1",
    "Default/Sessions-keep",
    "Default/Cookies",
    "Default/Network/Cookies",
    "Default/Network/Trust Tokens",
    "Default/IndexedDB/db/LOG",
    "Profile 1/Current Tabs",
};
const std::set<std::string> kSessionItems = {"Default/Current Tabs", "Default/Last Session",
                                             "Default/Sessions/Tabs_1"};
const std::set<std::string> kCookieItems = {"Default/Cookies", "Default/Network/Cookies"};

void populate(const std::string& profile) {
  for (const std::string& item : kProfileItems) writeFile(profile + "/" + item, item);
}

std::set<std::string> deleted(const std::string& profile) {
  std::set<std::string> gone;
  for (const std::string& item : kProfileItems)
    if (readFile(profile + "/" + item) != item) gone.insert(item);
  return gone;
}

// Makes a directory unwritable while it lives, also for root (through the
// immutable flag: root writes through permission bits).
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(std::string path) : path_(std::move(path)) {
    chmod(path_.c_str(), 0555);
    immutable_ = geteuid() == 0 && setImmutable(true);
  }
  ~ReadOnlyDirectory() {
    if (immutable_) setImmutable(false);
    chmod(path_.c_str(), 0755);
  }
  // Creating a file inside really fails.
  bool effective() const {
    int fd = open((path_ + "/.probe").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd), unlink((path_ + "/.probe").c_str());
    return fd < 0;
  }

 private:
  bool setImmutable(bool on) {
    int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
    return done;
  }
  std::string path_;
  bool immutable_ = false;
};

using UserDataDirTest = LauncherProcessTest;

TEST_F(UserDataDirTest, ReportGoesToTheUserDataDirectoryElseThePerUserFolder) {
  const std::string profileReport = path("new/nested/profile") + kReport;
  const std::string homeReport = path("home/.config/Quillon") + kReport;
  const std::string xdgReport = userReport();
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> xdg;
    std::string report;
  };
  const Case cases[] = {
      {{"--user-data-dir=" + path("new/nested/profile")}, path("xdg"), profileReport},
      {{}, path("xdg"), xdgReport},
      {{"--user-data-dir="}, path("xdg"), xdgReport},
      {{"--User-Data-Dir=" + path("new/nested/profile")}, path("xdg"), xdgReport},
      {{}, std::nullopt, homeReport},
      {{}, "relative/xdg", homeReport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.args.empty() ? "" : c.args[0]) +
                 " XDG_CONFIG_HOME=" + c.xdg.value_or("<unset>"));
    setEnv("XDG_CONFIG_HOME", c.xdg);
    for (const char* dir : {"new", "xdg/Quillon", "home/.config"}) fs::remove_all(path(dir));
    writeFile(userConfig(), kEverything);
    if (c.report != profileReport) {
      writeFile(c.report, "old report\n");
      writeFile(c.report + ".tmp", "stale temporary of an interrupted run");
    }
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(launch(c.args)));
    EXPECT_TRUE(isPassthroughReport(readFile(c.report)));
    EXPECT_FALSE(exists(c.report + ".tmp"));
    for (const std::string& other : {profileReport, xdgReport, homeReport})
      EXPECT_EQ(exists(other), other == c.report) << other;
    // A missing user data directory is created for the report only.
    EXPECT_FALSE(exists(path("new/nested/profile/Default")));
  }
}

TEST_F(UserDataDirTest, UnusableReportLocationLeavesEverythingAloneAndTheLaunchGoesOn) {
  writeFile(userConfig(), kEverything);
  writeFile(path("a-file"), "plain file");
  writeFile(path("profile") + kReport + "/inside", "kept");
  writeFile(path("read-only") + kReport, "old report\n");
  ReadOnlyDirectory readOnly(path("read-only"));
  const std::string cases[][2] = {
      // user data dir, XDG_CONFIG_HOME
      {path("a-file"), path("xdg")},  {path("a-file/profile"), path("xdg")},
      {path("profile"), path("xdg")},  // a directory at the report path
      {"", path("a-file")},           {path("read-only"), path("xdg")},
  };
  for (const auto& [dir, xdg] : cases) {
    SCOPED_TRACE(dir + " XDG_CONFIG_HOME=" + xdg);
    if (dir == path("read-only") && !readOnly.effective())
      GTEST_SKIP() << "cannot make a directory read-only here";
    setEnv("XDG_CONFIG_HOME", xdg);
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(launch({"--user-data-dir=" + dir})));
    EXPECT_EQ(readFile(path("a-file")), "plain file");
    EXPECT_EQ(readFile(path("profile") + kReport + "/inside"), "kept");
    EXPECT_FALSE(exists(path("profile") + kReport + ".tmp"));
    EXPECT_EQ(readFile(path("read-only") + kReport), "old report\n");
    EXPECT_FALSE(exists(userReport()));
  }
}

TEST_F(UserDataDirTest, StartPageClearsThePreviousTabsAndOnlyWhatIsAskedForGoes) {
  // An absolute name with spaces and non-ASCII, and a relative one taken from
  // the working directory.
  const std::string odd = "My Profile \xc3\xbc \xe6\x97\xa5\xe6\x9c\xac 'q' \"d\"";
  const std::string cases[][3] = {
      {path(odd), "", "--user-data-dir=" + path(odd)},
      {path("work/rel/profile"), path("work"), "--user-data-dir=rel/profile"},
  };
  for (const auto& [profile, cwd, arg] : cases) {
    SCOPED_TRACE(arg);
    populate(profile);
    writeFile(
        profile + "/command-line.json",
        R"({"close-previous-tabs":false,"start-page":"https://start.test/","granular-storage-reset":{"cookies":1}})");
    Launch run = launch({arg}, {.cwd = cwd});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv,
              expectedEngineArgv(engine_, {arg}, defaultExtraSwitches("https://start.test/")));
    std::set<std::string> gone = kSessionItems;
    gone.insert(kCookieItems.begin(), kCookieItems.end());
    EXPECT_EQ(deleted(profile), gone);
    EXPECT_FALSE(exists(profile + "/Default/Sessions"));
    EXPECT_TRUE(isPassthroughReport(readFile(profile + kReport)));
  }
}

TEST_F(UserDataDirTest, LinksInTheProfileAreNotFollowedOut) {
  std::string profile = path("profile");
  populate(profile);
  const std::pair<const char*, const char*> links[] = {
      {"/Default/Network", "outside/Network"},
      {"/Default/IndexedDB", "outside/IndexedDB"},
      {"/Default/Sessions", "outside/Sessions"},
      {"/Default/Cookies", "outside/Cookies"},
      {"/ShaderCache", "outside"},
  };
  for (const auto& [link, target] : links) {
    fs::remove_all(profile + link);
    fs::create_symlink(path(target), profile + link);
  }
  std::string linkedDefault = path("linked");
  fs::create_directories(linkedDefault);
  fs::create_directory_symlink(path("outside/Default"), linkedDefault + "/Default");
  for (const std::string& dir : {profile, linkedDefault}) {
    writeFile(dir + "/command-line.json", kEverything);
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(launch({"--user-data-dir=" + dir})));
  }
  // The links to items go; what they point at stays (checked after every
  // test), and a linked directory on the way is not entered.
  for (const char* link :
       {"/Default/IndexedDB", "/Default/Sessions", "/Default/Cookies", "/ShaderCache"})
    EXPECT_FALSE(fs::is_symlink(profile + link)) << link;
  EXPECT_TRUE(fs::is_symlink(profile + "/Default/Network"));
  EXPECT_EQ(readFile(profile + "/Default/Preferences"), "Default/Preferences");
  EXPECT_TRUE(fs::is_symlink(linkedDefault + "/Default"));
}

}  // namespace
}  // namespace quillon::test
