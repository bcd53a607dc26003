// The "passthrough" result report of the direct path, as the process leaves
// it: its bytes, where it goes, how it replaces what stands there, and that a
// report that cannot be written never stops or disturbs the launch.
#include <sys/stat.h>

#include <filesystem>

#include "launcher_fixture.h"
#include "report/report_file.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

class ReportLocationTest : public LauncherProcessTest {
 protected:
  void expectLaunched(const Launch& run) {
    EXPECT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, "");
    EXPECT_TRUE(run.engine) << "the engine did not start";
    EXPECT_EQ(run.childrenLeft, 1);
  }

  static bool isRegularFile(const std::string& p) {
    struct stat st {};
    return lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
};

constexpr const char* kReport = "/.quillon-launcher-result.json";

TEST_F(ReportLocationTest, WholeReportInAUserDataDirectoryThatIsCreated) {
  std::string profile = path("new/nested/profile");
  std::string before = reportTimestamp();
  Launch run = launch({"--user-data-dir=" + profile});
  std::string after = reportTimestamp();
  expectLaunched(run);
  std::string bytes = readFile(profile + kReport);
  EXPECT_TRUE(isPassthroughReport(bytes)) << bytes;
  std::string ts = bytes.substr(18, 20);
  EXPECT_LE(before, ts);
  EXPECT_LE(ts, after);
  EXPECT_FALSE(exists(profile + kReport + ".tmp"));
  EXPECT_FALSE(exists(userReport()));
}

TEST_F(ReportLocationTest, PerUserFolderWhenThereIsNoUserDataDirectory) {
  std::string xdgReport = userReport();
  std::string homeReport = path("home/.config/Quillon") + kReport;
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> xdg;
    std::string report;
  };
  const Case cases[] = {
      {{}, path("xdg"), xdgReport},
      {{"--user-data-dir="}, path("xdg"), xdgReport},
      {{"--User-Data-Dir=" + path("profile")}, path("xdg"), xdgReport},
      {{}, std::nullopt, homeReport},
      {{}, "", homeReport},
      {{}, "relative/xdg", homeReport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.args.empty() ? "" : c.args[0]) + " XDG_CONFIG_HOME=" + c.xdg.value_or("<unset>"));
    setEnv("XDG_CONFIG_HOME", c.xdg);
    fs::remove_all(path("xdg/Quillon"));
    fs::remove_all(path("home/.config"));
    fs::remove(record_);
    Launch run = launch(c.args);
    expectLaunched(run);
    EXPECT_TRUE(isPassthroughReport(readFile(c.report)));
    EXPECT_EQ(exists(xdgReport), c.report == xdgReport);
    EXPECT_EQ(exists(homeReport), c.report == homeReport);
  }
  EXPECT_FALSE(exists(path("profile")));
}

TEST_F(ReportLocationTest, OldReportAndStaleTemporaryAreReplaced) {
  std::string profile = path("profile");
  writeFile(profile + kReport, "old report\n");
  writeFile(profile + kReport + ".tmp", "stale temporary from an interrupted run");
  Launch run = launch({"--user-data-dir=" + profile});
  expectLaunched(run);
  EXPECT_TRUE(isPassthroughReport(readFile(profile + kReport)));
  EXPECT_FALSE(exists(profile + kReport + ".tmp"));
}

TEST_F(ReportLocationTest, LinksAtTheReportAndTemporaryPathsAreReplacedNotFollowed) {
  std::string profile = path("profile");
  fs::create_directories(profile);
  fs::create_symlink(path("outside/keep.txt"), profile + kReport);
  fs::create_symlink(path("outside/Cookies"), profile + kReport + ".tmp");
  Launch run = launch({"--user-data-dir=" + profile});
  expectLaunched(run);
  EXPECT_TRUE(isRegularFile(profile + kReport));
  EXPECT_TRUE(isPassthroughReport(readFile(profile + kReport)));
  EXPECT_FALSE(exists(profile + kReport + ".tmp"));
}

TEST_F(ReportLocationTest, DirectoryAtTheReportPathIsLeftAlone) {
  std::string profile = path("profile");
  writeFile(profile + kReport + "/inside", "kept");
  Launch run = launch({"--user-data-dir=" + profile});
  expectLaunched(run);
  EXPECT_TRUE(fs::is_directory(profile + kReport));
  EXPECT_EQ(readFile(profile + kReport + "/inside"), "kept");
  EXPECT_FALSE(exists(profile + kReport + ".tmp"));
}

TEST_F(ReportLocationTest, DirectoryAtTheTemporaryPathFailsQuietly) {
  std::string profile = path("profile");
  writeFile(profile + kReport, "old report\n");
  writeFile(profile + kReport + ".tmp/inside", "kept");
  Launch run = launch({"--user-data-dir=" + profile});
  expectLaunched(run);
  EXPECT_EQ(readFile(profile + kReport), "old report\n");
  EXPECT_EQ(readFile(profile + kReport + ".tmp/inside"), "kept");
}

TEST_F(ReportLocationTest, UnwritableLocationFailsQuietlyAndTheLaunchGoesOn) {
  writeFile(path("a-file"), "plain file");
  writeFile(path("home/.config"), "a file where a directory should be");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::string> xdg;
  };
  const Case cases[] = {
      {"user data dir is a file", {"--user-data-dir=" + path("a-file")}, path("xdg")},
      {"user data dir below a file", {"--user-data-dir=" + path("a-file/profile")}, path("xdg")},
      {"per-user folder below a file", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setEnv("XDG_CONFIG_HOME", c.xdg);
    fs::remove(record_);
    Launch run = launch(c.args);
    expectLaunched(run);
    EXPECT_EQ(readFile(path("a-file")), "plain file");
    EXPECT_EQ(readFile(path("home/.config")), "a file where a directory should be");
    EXPECT_FALSE(exists(userReport()));
  }
}

TEST_F(ReportLocationTest, ReadOnlyUserDataDirectoryFailsQuietlyAndTheLaunchGoesOn) {
  std::string profile = path("profile");
  writeFile(profile + kReport, "old report\n");
  ReadOnlyDirectory readOnly(profile);
  if (!readOnly.effective()) GTEST_SKIP() << "cannot make a directory read-only here";
  Launch run = launch({"--user-data-dir=" + profile});
  expectLaunched(run);
  EXPECT_EQ(readFile(profile + kReport), "old report\n");
  EXPECT_FALSE(exists(profile + kReport + ".tmp"));
}

}  // namespace
}  // namespace quillon::test
