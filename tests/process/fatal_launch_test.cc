// The launcher's only output: the one "[quillon-launcher] " line and exit
// status 1 when the engine is missing or cannot be spawned, and when the
// persona needs proxy discovery, which this build does not run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "launcher_fixture.h"

namespace quillon::test {
namespace {

using FatalLaunchTest = LauncherProcessTest;

void expectFatal(const Launch& run, const std::string& standardError) {
  EXPECT_FALSE(run.process.timedOut);
  EXPECT_EQ(run.process.exitStatus, 1);
  EXPECT_EQ(run.process.out, "");
  EXPECT_EQ(run.process.err, standardError);
  EXPECT_EQ(run.childrenLeft, 0) << "an engine was started";
}

std::string notFound(const std::string& path) {
  return "[quillon-launcher] Engine binary not found:\n" + path + "\n";
}

TEST_F(FatalLaunchTest, UnusableEnginePathIsNotFoundAndTheReportIsStillWritten) {
  std::filesystem::create_directories(path("engine-dir"));
  writeFile(path("not-executable"), "#!/bin/sh\nexit 0\n");
  chmod(path("not-executable").c_str(), 0644);
  const std::string cases[] = {
      path("missing/engine"),
      path("dir with space/\xc3\xa9ngine"),
      path("engine-dir"),
      path("not-executable"),
  };
  std::string profile = path("profile");
  for (const std::string& engine : cases) {
    SCOPED_TRACE(engine);
    setEnv("QUILLON_ENGINE_BIN", engine);
    std::filesystem::remove(profile + "/.quillon-launcher-result.json");
    Launch run = launch({"--user-data-dir=" + profile});
    expectFatal(run, notFound(engine));
    EXPECT_TRUE(isPassthroughReport(readFile(profile + "/.quillon-launcher-result.json")));
  }
  EXPECT_TRUE(std::filesystem::is_directory(path("engine-dir")));
  EXPECT_EQ(readFile(path("not-executable")), "#!/bin/sh\nexit 0\n");
}

TEST_F(FatalLaunchTest, ExecutableThatCannotBeExecutedIsASpawnFailure) {
  std::string garbage = path("garbage-engine");
  writeFile(garbage, std::string("\x01\x02 not a program\n", 18));
  chmod(garbage.c_str(), 0755);
  setEnv("QUILLON_ENGINE_BIN", garbage);
  Launch run = launch({});
  expectFatal(run,
              "[quillon-launcher] Engine spawn failed: posix_spawn failed (errno 8): Exec format error\n");
  EXPECT_TRUE(isPassthroughReport(readFile(userReport())));
}

TEST_F(FatalLaunchTest, MissingBundledEngineIsNamedWhenTheOverrideIsUnsetOrEmpty) {
  std::string copy = copyLauncher("app");
  std::string bundled = std::filesystem::canonical(path("app")).string() +
                        "/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/Quillon Browser Engine";
  for (std::optional<std::string> value : {std::optional<std::string>(), std::optional<std::string>("")}) {
    SCOPED_TRACE(value ? "empty QUILLON_ENGINE_BIN" : "no QUILLON_ENGINE_BIN");
    setEnv("QUILLON_ENGINE_BIN", value);
    expectFatal(launch({}, {.program = copy}), notFound(bundled));
  }
}

TEST_F(FatalLaunchTest, FatalLineThatCannotBeWrittenStillEndsWithStatusOne) {
  // Standard error is a pipe nobody reads any more: the write fails (and
  // would raise SIGPIPE), the status is still 1.
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);
  setEnv("QUILLON_ENGINE_BIN", path("missing"));
  Launch run = launch({}, {.standardError = fds[1]});
  close(fds[1]);
  EXPECT_EQ(run.process.termSignal, 0);
  expectFatal(run, "");
}

// This build has no discovery path: a persona that needs it through a
// SOCKS5 proxy ends with one line and no engine.
TEST_F(FatalLaunchTest, PersonaNeedingSocks5DiscoveryStartsNoEngine) {
  const char* configs[] = {
      R"({"auto-timezone":true,"proxy-server":"socks5://127.0.0.1:9"})",
      R"({"webrtc-no-leak":true,"proxy-server":"socks5://user:pw@127.0.0.1:9"})",
      R"({"auto-geo":"1","geo-lat":1,"proxy-server":"socks5://127.0.0.1:9"})",
      R"({"auto-lang":true,"lang":"de","chrome-command-line":{"--proxy-server":"socks5://127.0.0.1:9"}})",
      R"({"auto-timezone":true,"proxy-server":7,"chrome-command-line":{"--proxy-server":"socks5://x"}})",
  };
  std::string profile = path("profile");
  writeFile(profile + "/Default/Current Tabs", "tabs");
  for (const char* config : configs) {
    SCOPED_TRACE(config);
    writeFile(profile + "/command-line.json", std::string(config).insert(1, R"("start-page":"a",)"));
    Launch run = launch({"--user-data-dir=" + profile});
    EXPECT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitStatus, 1);
    EXPECT_EQ(run.process.out, "");
    EXPECT_TRUE(run.process.err.starts_with("[quillon-launcher] ")) << run.process.err;
    EXPECT_TRUE(run.process.err.ends_with("\n"));
    EXPECT_EQ(std::count(run.process.err.begin(), run.process.err.end(), '\n'), 1);
    EXPECT_EQ(run.childrenLeft, 0) << "an engine was started";
    EXPECT_FALSE(run.engine);
  }
  EXPECT_EQ(readFile(profile + "/Default/Current Tabs"), "tabs");
}

TEST_F(FatalLaunchTest, PersonaWithoutASocks5ProxyOrWithStatedValuesTakesTheDirectPath) {
  const char* configs[] = {
      R"({"auto-timezone":true,"proxy-server":"SOCKS5://127.0.0.1:9"})",
      R"({"auto-timezone":true,"proxy-server":"http://127.0.0.1:9"})",
      R"({"auto-timezone":true,"proxy-server":"socks5h://127.0.0.1:9"})",
      R"({"auto-timezone":true,"proxy-server":""})",
      R"({"auto-timezone":true})",
      R"({"auto-timezone":true,"timezone-override":null,"proxy-server":"socks5://127.0.0.1:9"})",
      R"({"auto-geo":true,"geo-lat":1,"geo-lng":2,"proxy-server":"socks5://127.0.0.1:9"})",
      R"({"auto-lang":"yes","webrtc-no-leak":0,"proxy-server":"socks5://127.0.0.1:9"})",
  };
  for (const char* config : configs) {
    SCOPED_TRACE(config);
    writeFile(userConfig(), config);
    std::filesystem::remove(record_);
    Launch run = launch({});
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, "");
    EXPECT_EQ(run.process.err, "");
    ASSERT_TRUE(run.engine);
    EXPECT_EQ(run.engine->argv, expectedEngineArgv(engine_, {}, defaultExtraSwitches()));
    EXPECT_TRUE(isPassthroughReport(readFile(userReport())));
  }
}

}  // namespace
}  // namespace quillon::test
