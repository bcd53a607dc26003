// How the launcher starts the engine on the direct path: the argument vector,
// the environment, the session, the parent, the descriptors and the signal
// state the engine gets, and that the launcher does not wait for it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

using EngineStartTest = LauncherProcessTest;

TEST_F(EngineStartTest, PassThroughArgumentsComeFirstUnchangedAndInOrder) {
  std::string profile = path("profile");
  const std::vector<std::string> args = {
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
  for (const auto& given : {std::vector<std::string>{}, args}) {
    Launch run = launch(given);
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, given));
  }
  // The first --user-data-dir= names the profile; the second is only passed on.
  EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
  EXPECT_FALSE(exists(path("second")));
}

TEST_F(EngineStartTest, EngineAndWebglProfilesAreFoundBesideTheLauncher) {
  // Override unset or empty: the engine inside the bundle the launcher is in;
  // the profiles file installed in share/quillon wins over one beside the program.
  std::string copy = path("app/bin/quillon-launcher");
  std::filesystem::create_directories(path("app/bin"));
  std::filesystem::copy_file(launcher_, copy);
  std::string bundled =
      std::filesystem::canonical(path("app/bin")).string() +
      "/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/Quillon Browser Engine";
  writeFile(
      path("app/share/quillon/quillon-webgl-profiles.json"),
      R"({"profiles":{"gpu":{"_note":"skipped","webgl-vendor":"A","webgl-antialiasing":true}}})");
  writeFile(path("app/bin/quillon-webgl-profiles.json"),
            R"({"profiles":{"gpu":{"webgl-vendor":"B"}}})");
  writeFile(userConfig(), R"({"webgl-profile":"gpu"})");
  std::vector<std::string> extra = defaultExtraSwitches();
  extra.insert(extra.begin(), {"--webgl-vendor=A", "--webgl-antialiasing=1"});
  for (std::optional<std::string> value :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    SCOPED_TRACE(value ? "empty QUILLON_ENGINE_BIN" : "no QUILLON_ENGINE_BIN");
    setEnv("QUILLON_ENGINE_BIN", value);
    std::filesystem::remove(bundled);
    Launch missing = launch({}, {.program = copy});
    EXPECT_EQ(missing.process.exitStatus, 1);
    EXPECT_EQ(missing.err, "[quillon-launcher] Engine binary not found:\n" + bundled + "\n");
    std::filesystem::create_directories(std::filesystem::path(bundled).parent_path());
    std::filesystem::copy_file(engine_, bundled);
    Launch run = launch({"--x=1"}, {.program = copy});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(bundled, {"--x=1"}, extra));
  }
}

TEST_F(EngineStartTest, WholeEnvironmentReachesTheEngine) {
  setEnv("QUILLON_ODD", " spaces =equals\nnewline \xc3\xa9 \xff");
  setEnv("QUILLON_EMPTY", "");
  Launch run = launch({});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->env, env_);
}

TEST_F(EngineStartTest, EngineLeadsItsOwnSessionAsTheLaunchersChild) {
  // Held at its exit, the launcher is still the parent when the engine looks.
  Launch run = launch({}, {.holdAtExitUntil = record_});
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  EXPECT_EQ(run.engine->ppid, run.process.pid);
  EXPECT_EQ(run.engine->sid, run.engine->pid);
}

TEST_F(EngineStartTest, EngineInheritsExactlyTheLaunchersDescriptors) {
  std::string extraFile = path("inherited.txt");
  writeFile(extraFile, "x");
  int fd = open(extraFile.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  // A configuration, a profile to clean and a report make the launcher open
  // files of its own.
  std::string profile = path("profile");
  writeFile(profile + "/command-line.json",
            R"({"start-page":"about:blank","granular-storage-reset":{"all":true}})");
  writeFile(profile + "/Default/Cookies", "c");
  Launch run = launch({"--user-data-dir=" + profile}, {.inheritedFds = {{fd, 7}}});
  close(fd);
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
  std::vector<int> numbers;
  for (const auto& [number, target] : run.engine->fds) numbers.push_back(number);
  EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 7}));
  EXPECT_EQ(run.engine->fds[1], path("stdout"));
  EXPECT_EQ(run.engine->fds[7], extraFile);
  EXPECT_FALSE(exists(profile + "/Default/Cookies"));
}

TEST_F(EngineStartTest, EngineInheritsTheLaunchersSignalMaskAndIgnoredSignals) {
  // The C library's posix_spawn ignores its two internal signals in every
  // child; those are not the launcher's to pass on.
  const uint64_t internal = signalBit(32) | signalBit(33);
  const std::vector<int> cases[][2] = {
      {{SIGUSR1}, {SIGUSR2}},
      {{SIGHUP, SIGTERM}, {SIGINT, SIGPIPE}},
      {{}, {}},
  };
  for (const auto& [blocked, ignored] : cases) {
    SCOPED_TRACE(testing::PrintToString(blocked) + " blocked, " + testing::PrintToString(ignored) +
                 " ignored");
    Launch run = launch({}, {.blockedSignals = blocked, .ignoredSignals = ignored});
    ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
    uint64_t blockedBits = 0, ignoredBits = 0;
    for (int sig : blocked) blockedBits |= signalBit(sig);
    for (int sig : ignored) ignoredBits |= signalBit(sig);
    EXPECT_EQ(run.engine->blockedSignals, blockedBits);
    EXPECT_EQ(run.engine->ignoredSignals & ~internal, ignoredBits);
  }
}

TEST_F(EngineStartTest, LauncherExitsAtOnceWhileTheEngineRuns) {
  // The engine lingers far longer than the launch is allowed to take.
  setEnv("QUILLON_TEST_LINGER", "120000");
  Launch run = launch({});
  EXPECT_FALSE(run.process.timedOut) << "the launcher waited for the engine";
  ASSERT_NO_FATAL_FAILURE(expectQuietSuccess(run));
}

}  // namespace
}  // namespace quillon::test
