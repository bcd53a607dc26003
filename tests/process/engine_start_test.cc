// How the launcher starts the engine on the direct path: the argument vector,
// the environment, the session, the parent, the descriptors and the signal
// state the engine gets, and that the launcher does not wait for it.
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;

using EngineStartTest = LauncherProcessTest;

void expectQuietSuccess(const Launch& run) {
  EXPECT_FALSE(run.process.timedOut);
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.process.out, "");
  EXPECT_EQ(run.process.err, "");
  ASSERT_TRUE(run.engine) << "no whole record: " << run.rawRecord;
  EXPECT_EQ(run.childrenLeft, 1) << "exactly one engine process";
}

TEST_F(EngineStartTest, NoArgumentsGiveEnginePathDefaultListAndFixedSwitches) {
  Launch run = launch({});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, defaultExtraSwitches()));
}

TEST_F(EngineStartTest, PassThroughArgumentsComeFirstUnchangedAndInOrder) {
  std::string profile = path("profile");
  std::vector<std::string> args = {
      "--lang=de",
      "--user-data-dir=" + profile,
      "plain words with  spaces",
      "",
      "line one\nline two\n",
      "non-ASCII: \xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80",
      "\xff\xfe not UTF-8",
      "--user-data-dir=" + path("second"),
      "--hide-crash-restore-bubble",
      "chrome://version",
  };
  Launch run = launch(args);
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, args, defaultExtraSwitches()));
  // The first --user-data-dir= names the profile; the second is only passed on.
  EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
  EXPECT_FALSE(exists(path("second")));
}

TEST_F(EngineStartTest, PersonaThatStatesDeviceValuesSuppressesTheirSwitches) {
  struct Case {
    const char* config;
    std::vector<std::string> extra;
  };
  std::vector<std::string> device = deviceSwitches();
  const Case cases[] = {
      {R"({"device-memory":null})", {device[1], device[2], "chrome://version"}},
      {R"({"hardware-concurrency":3})", {device[0], device[2], "chrome://version"}},
      {R"({"speech-voices":"x"})", {device[0], device[1], "chrome://version"}},
      {R"({"device-memory":8,"hardware-concurrency":4,"speech-voices":[]})", {"chrome://version"}},
      {R"({"device-memory":8,"hardware-concurrency":4,"speech-voices":[],"start-page":"https://a.test/p?q=1"})",
       {"https://a.test/p?q=1"}},
      {R"({"start-page":""})", defaultExtraSwitches()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    writeFile(userConfig(), c.config);
    std::filesystem::remove(record_);
    Launch run = launch({});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, c.extra));
  }
}

TEST_F(EngineStartTest, DiscoveryValuesAndChromeCommandLineNeverReachTheDirectPath) {
  writeFile(userConfig(), R"({"webrtc-no-leak":true,"proxy-server":"http://127.0.0.1:9",
      "auto-geo":true,"auto-lang":true,"auto-timezone":true,"lang":"fr",
      "chrome-command-line":{"--proxy-server":"socks5://127.0.0.1:9","--lang":"de"}})");
  Launch run = launch({});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, defaultExtraSwitches()));
}

// The WebGL profiles file: installed beside the launcher's bin directory in
// share/quillon, or beside the program path.
class WebglProfileLocationTest : public LauncherProcessTest {
 protected:
  static constexpr const char* kProfiles = R"({"profiles":{
      "test-gpu":{"_note":"skipped","webgl-vendor":"Vendor A","webgl-max-texture-size":8192,
                  "webgl-antialiasing":true,"webgl-dims":["a","b"],"webgl-empty":"","webgl-null":null},
      "other":{"webgl-vendor":"Vendor B"}}})";

  std::vector<std::string> profileSwitches(const char* vendor) {
    std::vector<std::string> extra = {std::string("--webgl-vendor=") + vendor};
    if (std::string(vendor) == "Vendor A") {
      extra.push_back("--webgl-max-texture-size=8192");
      extra.push_back("--webgl-antialiasing=1");
      extra.push_back(R"(--webgl-dims=["a","b"])");
    }
    std::vector<std::string> device = defaultExtraSwitches();
    extra.insert(extra.end(), device.begin(), device.end());
    return extra;
  }
};

TEST_F(WebglProfileLocationTest, InstalledLayoutIsUsed) {
  std::string copy = copyLauncher("inst/bin");
  writeFile(path("inst/share/quillon/quillon-webgl-profiles.json"), kProfiles);
  writeFile(userConfig(), R"({"webgl-profile":"test-gpu"})");
  Launch run = launch({}, {.program = copy});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, profileSwitches("Vendor A")));
}

TEST_F(WebglProfileLocationTest, FileBesideTheProgramIsUsedWithoutAnInstalledOne) {
  std::string copy = copyLauncher("loose");
  writeFile(path("loose/quillon-webgl-profiles.json"), kProfiles);
  writeFile(userConfig(), R"({"webgl-profile":"other"})");
  Launch run = launch({}, {.program = copy});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, profileSwitches("Vendor B")));
}

TEST_F(WebglProfileLocationTest, InstalledFileWinsOverTheOneBesideTheProgram) {
  std::string copy = copyLauncher("both/bin");
  writeFile(path("both/share/quillon/quillon-webgl-profiles.json"), kProfiles);
  writeFile(path("both/bin/quillon-webgl-profiles.json"),
            R"({"profiles":{"test-gpu":{"webgl-vendor":"Beside"}}})");
  writeFile(userConfig(), R"({"webgl-profile":"test-gpu"})");
  Launch run = launch({}, {.program = copy});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, profileSwitches("Vendor A")));
}

TEST_F(WebglProfileLocationTest, UnknownProfileOrBrokenFileAddsNothing) {
  std::string copy = copyLauncher("inst/bin");
  const char* cases[][2] = {
      {kProfiles, R"({"webgl-profile":"Test-GPU"})"},
      {kProfiles, R"({"webgl-profile":"missing"})"},
      {R"({"profiles":[)", R"({"webgl-profile":"test-gpu"})"},
      {R"([{"profiles":{}}])", R"({"webgl-profile":"test-gpu"})"},
  };
  for (const auto& [profiles, config] : cases) {
    SCOPED_TRACE(std::string(profiles) + " / " + config);
    writeFile(path("inst/share/quillon/quillon-webgl-profiles.json"), profiles);
    writeFile(userConfig(), config);
    std::filesystem::remove(record_);
    Launch run = launch({}, {.program = copy});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, defaultExtraSwitches()));
  }
}

TEST_F(EngineStartTest, DefaultEngineInsideTheLauncherBundleWhenOverrideIsUnsetOrEmpty) {
  std::string copy = copyLauncher("app");
  std::string bundled =
      path("app/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/Quillon Browser Engine");
  std::filesystem::create_directories(std::filesystem::path(bundled).parent_path());
  std::filesystem::copy_file(engine_, bundled);
  chmod(bundled.c_str(), 0755);
  for (std::optional<std::string> value : {std::optional<std::string>(), std::optional<std::string>("")}) {
    SCOPED_TRACE(value ? "empty QUILLON_ENGINE_BIN" : "no QUILLON_ENGINE_BIN");
    setEnv("QUILLON_ENGINE_BIN", value);
    std::filesystem::remove(record_);
    Launch run = launch({"--x=1"}, {.program = copy});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(bundled, {"--x=1"}, defaultExtraSwitches()));
  }
}

TEST_F(EngineStartTest, WholeEnvironmentReachesTheEngine) {
  setEnv("QUILLON_ODD", " spaces =equals\nnewline \xc3\xa9 \xff");
  setEnv("QUILLON_EMPTY", "");
  Launch run = launch({});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  std::vector<std::string> expected = env_, got = run.engine->env;
  std::sort(expected.begin(), expected.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, expected);
  EXPECT_NE(std::find(got.begin(), got.end(), "QUILLON_ENGINE_BIN=" + engine_), got.end());
}

TEST_F(EngineStartTest, EngineLeadsASessionOfItsOwn) {
  Launch run = launch({});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->sid, run.engine->pid);
  EXPECT_NE(run.engine->sid, getsid(0));
  EXPECT_NE(run.engine->sid, run.process.pid);
}

TEST_F(EngineStartTest, LauncherItselfIsTheEnginesParent) {
  // Held at its exit, the launcher is still the parent when the engine looks.
  Launch run = launch({}, {.holdAtExit = true});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->ppid, run.process.pid);
}

TEST_F(EngineStartTest, EngineInheritsExactlyTheLaunchersDescriptors) {
  std::string extraFile = path("inherited.txt");
  writeFile(extraFile, "x");
  int fd = open(extraFile.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  // A user data dir and configuration make the launcher open files of its own.
  std::string profile = path("profile");
  writeFile(profile + "/command-line.json",
            R"({"start-page":"about:blank","granular-storage-reset":{"all":true}})");
  writeFile(profile + "/Default/Cookies", "c");
  Launch run = launch({"--user-data-dir=" + profile}, {.inheritedFds = {{fd, 7}}});
  close(fd);
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  std::vector<int> numbers;
  for (const auto& [number, target] : run.engine->fds) numbers.push_back(number);
  EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 7})) << run.rawRecord;
  EXPECT_EQ(run.engine->fds[0], "/dev/null");
  EXPECT_EQ(run.engine->fds[7], extraFile);
  EXPECT_FALSE(exists(profile + "/Default/Cookies"));
}

TEST_F(EngineStartTest, EngineInheritsTheLaunchersSignalMaskAndIgnoredSignals) {
  struct Case {
    const char* name;
    std::vector<int> blocked;
    std::vector<int> ignored;
  };
  const Case cases[] = {
      {"SIGUSR1 blocked, SIGUSR2 ignored", {SIGUSR1}, {SIGUSR2}},
      {"SIGHUP and SIGTERM blocked, SIGINT and SIGPIPE ignored", {SIGHUP, SIGTERM}, {SIGINT, SIGPIPE}},
      {"nothing blocked or ignored", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The state the launcher starts with, as the engine itself records it
    // when started the same way (the C library adds its internal signals).
    fs::remove(record_);
    Launch direct = launch({}, {.program = engine_, .blockedSignals = c.blocked, .ignoredSignals = c.ignored});
    ASSERT_TRUE(direct.engine);
    for (int sig : c.blocked) EXPECT_TRUE(direct.engine->blockedSignals & signalBit(sig));
    for (int sig : c.ignored) EXPECT_TRUE(direct.engine->ignoredSignals & signalBit(sig));

    fs::remove(record_);
    Launch run = launch({}, {.blockedSignals = c.blocked, .ignoredSignals = c.ignored});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->blockedSignals, direct.engine->blockedSignals);
    EXPECT_EQ(run.engine->ignoredSignals, direct.engine->ignoredSignals);
  }
}

TEST_F(EngineStartTest, LauncherExitsAtOnceWhileTheEngineRuns) {
  // The engine lingers far longer than the launch is allowed to take.
  Launch run = launch({}, {.lingerMs = 120000, .timeout = Millis(30000)});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_TRUE(run.engineOutlivedLauncher);
}

}  // namespace
}  // namespace quillon::test
