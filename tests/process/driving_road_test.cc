// The launcher run as quillon-browser, the way a script's framework runs its browser.
#include <algorithm>

#include "launcher_process.h"

namespace quillon::test {
namespace {

std::string linkTarget(int fd) {
  char target[256] = "";
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, n) : "";
}

bool startPageGiven(const Launch& run) {
  Args args = run["arg"];
  return std::find(args.begin(), args.end(), "a") != args.end();
}

// The process the caller started becomes the engine: the same process, in the caller's
// session, with the DevTools pipe's descriptors, and its exit status is the engine's. The
// persona's start page only when the arguments name no page; a relay found from the link's
// target, watching that process.
TEST_F(LauncherProcess, DrivingRoadRunsTheEngineInTheProcessItself) {
  std::string browser = tmp / "quillon-browser", profile = tmp / "profile";
  ASSERT_EQ(symlink(QUILLON_LAUNCHER_PATH, browser.c_str()), 0);
  writeFile(profile + "/command-line.json", R"({"start-page":"a"})");
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC), 0);
  for (int* fd : {&in[0], &out[1]}) *fd = fcntl(*fd, F_DUPFD_CLOEXEC, 10);
  environment.push_back("QUILLON_TEST_STATUS=7");
  Launch run = launch({"--user-data-dir=" + profile, "--x", "about:blank"},
                      {.program = browser, .pipeIn = in[0], .pipeOut = out[1]});
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.children, 0);
  EXPECT_NE(run["sid"], run["pid"]);
  EXPECT_EQ(run["fd"], (Args{"0 /dev/null", "1 " + tmp / "out", "2 " + tmp / "out",
                             "3 " + linkTarget(in[0]), "4 " + linkTarget(out[1])}));
  EXPECT_FALSE(startPageGiven(run));
  EXPECT_EQ(run["arg"].at(3), "about:blank");
  EXPECT_NE(readFile(profile + "/.quillon-launcher-result.json").find(R"("status":"passthrough")"),
            std::string::npos);
  EXPECT_TRUE(startPageGiven(launch({"--user-data-dir=" + profile, "--x"}, {.program = browser})));

  // A stock Chromium on the launcher's own road takes the caller's page alone too.
  setEnv("QUILLON_ENGINE_KIND", "chromium");
  run = launch({"--user-data-dir=" + profile, "about:blank"});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(startPageGiven(run));

  // A proxy login: the relay (found beside the link's target) ends after the process.
  writeFile(profile + "/command-line.json", R"({"proxy-server":"socks5://u:p@127.0.0.1:9"})");
  environment.push_back("QUILLON_TEST_LINGER=1");
  run = launch({"--user-data-dir=" + profile}, {.program = browser});
  EXPECT_EQ(run.status, 7) << run.out;
  EXPECT_EQ(run.children, 1) << "the relay, reaped once the process ended";
  EXPECT_EQ(run["fd"], (Args{"0 /dev/null", "1 " + tmp / "out", "2 " + tmp / "out"}))
      << "nothing of the relay's start left on 3 or 4";
  Args args = run["arg"];
  EXPECT_EQ(std::count_if(args.begin(), args.end(),
                          [](const std::string& arg) {
                            return arg.starts_with("--proxy-server=socks5://127.0.0.1:");
                          }),
            1);

  // An engine that cannot run: the process's own failure.
  writeFile(tmp / "garbage", "\x01\x02 not a program\n");
  chmod((tmp / "garbage").c_str(), 0755);
  setEnv("QUILLON_ENGINE_BIN", tmp / "garbage");
  run = launch({"--user-data-dir=" + profile}, {.program = browser});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "[quillon-launcher] Engine spawn failed: execve failed (errno 8): Exec format error\n");
}

}  // namespace
}  // namespace quillon::test
