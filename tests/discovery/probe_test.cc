// The probe against stand-in tools that honour curl's contract (the command
// line, every exit status, signals, huge or lingering output) and the child
// process runner under it; neither may leave anything behind.
#include "discovery/probe.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

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

// Fails a test whose calls left an open descriptor or a child behind.
class NothingLeftBehind : public testing::Test {
 protected:
  void SetUp() override { before_ = openDescriptors(); }
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD) << "a child was left";
  }
  std::map<int, std::string> before_;
};

const std::string kUrl = "https://geo.quillon.test/geoip?format=json";
const std::string kProxy = "socks5://persona:p@ss w:$(id)*@127.0.0.1:1080";

class ProbeTest : public NothingLeftBehind {
 protected:
  // A script standing in for curl: records its arguments (NUL-separated)
  // and, when it is told to read a configuration there, its input; then runs
  // body.
  std::string tool(const std::string& body, mode_t mode = 0755) {
    test::writeFile(dir / "curl", "#!/bin/sh\nprintf '%s\\0' \"$@\" >'" + dir / "args'\n" +
                                      "case \" $* \" in *' -K - '*) cat >'" +
                                      dir / "stdin';; esac\n" + body + "\n");
    chmod((dir / "curl").c_str(), mode);
    return dir / "curl";
  }
  test::TempDir dir;
};

TEST_F(ProbeTest, NoUserSettingsLoginOnTheInputEnvironmentInherited) {
  setenv("QUILLON_PROBE_VALUE", "kept", 1);
  auto args = [this] {
    std::string args = test::readFile(dir / "args");
    std::replace(args.begin(), args.end(), '\0', '|');
    return args;
  };
  DiscoverResult r = probeEgress(kProxy, kUrl, tool("echo \"$QUILLON_PROBE_VALUE 203.0.113.7\""));
  EXPECT_EQ(r.errorCode + r.ip, "kept 203.0.113.7");
  EXPECT_EQ(args(),
            "-q|--max-time|10|-sS|--noproxy||-x|socks5h://127.0.0.1:1080|-K|-|" + kUrl + "|");
  // The login leaves the command line; percent escapes are the URL's own.
  EXPECT_EQ(test::readFile(dir / "stdin"), "proxy-user = \"persona:p@ss w:$(id)*\"\n");
  probeEgress("socks5://us%40er:a\"b\\c%25@h:1", kUrl, dir / "curl");
  EXPECT_EQ(test::readFile(dir / "stdin"), "proxy-user = \"us@er:a\\\"b\\\\c%\"\n");
  probeEgress("socks5://u:a/b@h:1", kUrl, dir / "curl");  // "/" in the password: still the login
  EXPECT_EQ(test::readFile(dir / "stdin"), "proxy-user = \"u:a/b\"\n");
  probeEgress("socks5://", kUrl, dir / "curl");
  EXPECT_EQ(args(), "-q|--max-time|10|-sS|--noproxy||-x|socks5h://|" + kUrl + "|");
}

TEST_F(ProbeTest, ExitStatusesAndSignalsMapToTheirCodes) {
  // SIGBUS is 7, like "failed to connect".
  const std::tuple<std::string, int, const char*> cases[] = {
      {"exit 6", 6, "INTERNAL"},
      {"exit 7", 7, "PROXY_UNREACHABLE"},
      {"exit 28", 28, "PROXY_TIMEOUT"},
      {"exit 56", 56, "PROXY_AUTH_FAILED"},
      {"exit 67", 67, "PROXY_AUTH_FAILED"},
      {"exit 97", 97, "INTERNAL"},
      {"echo 'curl: (97) No authentication method was acceptable.' >&2; exit 97", 97,
       "PROXY_AUTH_FAILED"},
      {"ulimit -c 0; kill -BUS $$", 7, "INTERNAL"}};
  for (const auto& [ending, status, code] : cases) {
    // Output before a failure is never read.
    DiscoverResult r = probeEgress(kProxy, kUrl, tool("echo 203.0.113.7; " + ending));
    EXPECT_EQ(r.errorCode, code) << ending;
    EXPECT_EQ(r.message, "curl exit " + std::to_string(r.curlExitCode) + " against " + kUrl +
                             " via " + kProxy + " after " + std::to_string(r.elapsedMs) + " ms");
    EXPECT_EQ(r.curlExitCode, status);
    EXPECT_EQ(r.ip, "");
  }
}

// Output is read while the tool runs, up to its end but not beyond: the
// probe returns even when a process the tool left behind holds the pipe.
TEST_F(ProbeTest, OutputOfAnySizeNeitherBlocksNorOutlivesTheTool) {
  const std::string cases[][2] = {
      {"head -c 8000000 /dev/zero | tr '\\0' e >&2; echo 203.0.113.7", "203.0.113.7"},
      {"sleep 60 & echo $! >'" + dir / "pid'; echo 203.0.113.9", "203.0.113.9"},
      {"echo 203.0.113.7; head -c 70000000 /dev/zero", ""},  // too large for an IP service
  };
  for (const auto& [script, ip] : cases) {
    DiscoverResult r = probeEgress(kProxy, kUrl, tool(script));
    if (test::exists(dir / "pid")) kill(std::stoi(test::readFile(dir / "pid")), SIGKILL);
    EXPECT_EQ(r.ip, ip) << script;
    EXPECT_EQ(r.errorCode.empty(), !ip.empty());
  }
}

TEST_F(ProbeTest, FailuresBeforeTheToolRunsHaveFixedRecords) {
  test::writeFile(dir / "bad-interpreter", "#!/nonexistent/interpreter\n");
  test::writeFile(dir / "not-a-program",
                  "\x7f"
                  "ELF but not really\n");
  chmod((dir / "bad-interpreter").c_str(), 0755);
  chmod((dir / "not-a-program").c_str(), 0755);
  const std::string scheme = kSchemeMessage, missing = kCurlMissingMessage;
  const std::string cases[][4] = {
      {"SOCKS5://h:1", tool(""), "INTERNAL", scheme},
      {"http://h:1", dir / "missing", "INTERNAL", scheme},  // the scheme is checked first
      {kProxy, tool("", 0644), "CURL_NOT_FOUND", missing},
      {kProxy, dir.path(), "CURL_NOT_FOUND", missing},
      {kProxy, dir / "bad-interpreter", "INTERNAL",
       "Process.run(curl) failed: No such file or directory"},
      {kProxy, dir / "not-a-program", "INTERNAL", "Process.run(curl) failed: Exec format error"},
  };
  for (const auto& [proxy, path, code, message] : cases) {
    DiscoverResult r = probeEgress(proxy, kUrl, path);
    EXPECT_EQ(r.errorCode + ": " + r.message, code + ": " + message) << path;
    EXPECT_EQ(r.curlExitCode, -1);
  }
  EXPECT_FALSE(test::exists(dir / "args")) << "a tool ran";
  // Port 1 on loopback refuses: the system's curl says "failed to connect".
  EXPECT_EQ(probeEgress("socks5://127.0.0.1:1", kUrl).errorCode, "PROXY_UNREACHABLE");
}

using ChildProcessTest = NothingLeftBehind;

TEST_F(ChildProcessTest, NoShellOutputCappedOnlyStandardDescriptors) {
  ChildRun run = runChild(
      "/bin/sh", {"-c", "printf '[%s]' \"$@\"; ls -l /proc/self/fd", "sh", "a b", "$(id)"}, 16);
  EXPECT_TRUE(run.launched && run.exited && !run.signalled && run.status == 0);
  EXPECT_EQ(run.output, "[a b][$(id)]tota");
  EXPECT_GT(run.outputBytes, 16u);
  // Signals this process ignores are the child's default again.
  signal(SIGUSR2, SIG_IGN);
  run = runChild("/bin/sh", {"-c", "grep SigIgn /proc/$$/status"});
  signal(SIGUSR2, SIG_DFL);
  EXPECT_EQ(std::stoull(run.output.substr(8), nullptr, 16) >> (SIGUSR2 - 1) & 1, 0u) << run.output;
  // ls lists what it was started with: the pipe, /dev/null and its own.
  run = runChild("/bin/ls", {"-l", "/proc/self/fd"});
  std::map<int, std::string> parent = openDescriptors(), child;
  std::istringstream words(run.output);
  for (std::string previous, word, target; words >> word; previous = word)
    if (word == "->" && words >> target) child[std::stoi(previous)] = target;
  EXPECT_EQ(child[1].rfind("pipe:", 0), 0u) << run.output;
  EXPECT_EQ(child[2].rfind("/memfd:", 0), 0u) << "standard error is kept in memory";
  for (const auto& [fd, target] : child) {
    if (fd <= 2 || target.rfind("/proc/", 0) == 0) continue;
    EXPECT_EQ(parent[fd], target) << fd;
  }
}

}  // namespace
}  // namespace quillon
