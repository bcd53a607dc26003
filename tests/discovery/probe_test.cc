// The probe against stand-in curls (command line, exit statuses, signals, huge or
// lingering output) and the child runner; neither may leave a descriptor or child.
#include "discovery/probe.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/child_process.h"
#include "support/test_files.h"

namespace quillon {
namespace {

// Every open descriptor of this process and what it refers to.
std::map<int, std::string> openDescriptors() {
  std::map<int, std::string> fds;
  std::error_code e;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    fds[std::stoi(entry.path().filename())] = std::filesystem::read_symlink(entry.path(), e);
  return fds;
}

const std::string kUrl = "https://geo.quillon.test/geoip?format=json";
const std::string kProxy = "socks5://us%40er:p@ss\"w\\$(id)*%25@127.0.0.1:1080";

class Probe : public testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD) << "a child was left";
  }
  // A stand-in curl: records its arguments ("|" after each) and a configuration on its input.
  std::string tool(const std::string& body) {
    test::writeFile(dir / "curl", "#!/bin/sh\nprintf '%s|' \"$@\" >'" + dir / "args'\n" +
                                      "case \" $* \" in *' -K - '*) cat >'" +
                                      dir / "stdin';; esac\n" + body + "\n");
    chmod((dir / "curl").c_str(), 0755);
    return dir / "curl";
  }
  test::TempDir dir;
  std::map<int, std::string> before_ = openDescriptors();
};

// No user settings, the login on the input, percent escapes undone, the environment kept; the
// time taken in milliseconds (at least the tool's pause, and less than the test may last).
TEST_F(Probe, CommandLineAndLogin) {
  setenv("QUILLON_PROBE_VALUE", "kept", 1);
  DiscoverResult r =
      probeEgress(kProxy, kUrl, tool("sleep 0.3; echo \"$QUILLON_PROBE_VALUE 203.0.113.7\""));
  EXPECT_EQ(r.errorCode + r.ip, "kept 203.0.113.7");
  EXPECT_TRUE(r.elapsedMs >= 300 && r.elapsedMs < 60000) << r.elapsedMs;
  EXPECT_EQ(test::readFile(dir / "args"),
            "-q|--max-time|10|-sS|--noproxy||-x|socks5h://127.0.0.1:1080|-K|-|" + kUrl + "|");
  EXPECT_EQ(test::readFile(dir / "stdin"), "proxy-user = \"us@er:p@ss\\\"w\\\\$(id)*%\"\n");
}

// Output before a failure is never read; SIGBUS is 7, like "failed to connect". Output is read
// to the tool's end, not beyond, though a process it left holds the pipe.
TEST_F(Probe, EndingsOfTheToolGiveTheirRecords) {
  const std::string cases[][2] = {
      {"exit 28", "PROXY_TIMEOUT 28"},
      {"exit 56", "PROXY_AUTH_FAILED 56"},
      {"exit 67", "PROXY_AUTH_FAILED 67"},
      {"exit 97", "INTERNAL 97"},
      {"echo 'curl: (97) No authentication method was acceptable.' >&2; exit 97",
       "PROXY_AUTH_FAILED 97"},
      {"ulimit -c 0; kill -BUS $$", "INTERNAL 7"},
      {"sleep 60 & echo $! >'" + dir / "pid'", "203.0.113.7 0"},
      {"head -c 70000000 /dev/zero", "DISCOVERY_HTTP_ERROR 0"}};
  for (const auto& [ending, record] : cases) {
    DiscoverResult r = probeEgress(kProxy, kUrl, tool("echo 203.0.113.7; " + ending));
    if (test::exists(dir / "pid")) {  // the process the tool left, killed once
      kill(std::stoi(test::readFile(dir / "pid")), SIGKILL);
      std::filesystem::remove(dir / "pid");
    }
    EXPECT_EQ(r.errorCode + r.ip + " " + std::to_string(r.curlExitCode), record) << ending;
  }
}

TEST_F(Probe, FailuresBeforeTheToolRunsHaveFixedRecords) {
  test::writeFile(dir / "not-a-program", "ELF but not really\n");
  chmod((dir / "not-a-program").c_str(), 0755);
  const std::string cases[][3] = {
      {"http://h:1", dir / "missing", std::string("INTERNAL: ") + kSchemeMessage},
      {kProxy, dir.path(), std::string("CURL_NOT_FOUND: ") + kCurlMissingMessage},
      {kProxy, dir / "not-a-program", "INTERNAL: Process.run(curl) failed: Exec format error"}};
  for (const auto& [proxy, path, record] : cases) {
    DiscoverResult r = probeEgress(proxy, kUrl, path);
    EXPECT_EQ(r.errorCode + ": " + r.message + std::to_string(r.curlExitCode), record + "-1");
  }
}

// No shell, ignored signals default again, only the standard descriptors (errors in memory).
TEST_F(Probe, ChildProcessRunner) {
  signal(SIGUSR2, SIG_IGN);
  ChildRun run = runChild(
      "/bin/sh", {"-c", "printf '[%s]' \"$@\"; grep SigIgn /proc/$$/status", "sh", "a b", "$(id)"});
  signal(SIGUSR2, SIG_DFL);
  EXPECT_EQ(run.output.substr(0, 20), "[a b][$(id)]SigIgn:\t");
  EXPECT_EQ(std::stoull(run.output.substr(20), nullptr, 16) >> (SIGUSR2 - 1) & 1, 0u);
  std::map<int, std::string> parent = openDescriptors(), child;
  std::istringstream words(runChild("/bin/ls", {"-l", "/proc/self/fd"}).output);
  for (std::string previous, word; words >> word; previous = word)
    if (word == "->") words >> child[std::stoi(previous)];
  EXPECT_TRUE(child[1].starts_with("pipe:") && child[2].starts_with("/memfd:")) << child[2];
  for (const auto& [fd, target] : child)
    EXPECT_TRUE(fd <= 2 || target.starts_with("/proc/") || parent[fd] == target) << target;
}

}  // namespace
}  // namespace quillon
