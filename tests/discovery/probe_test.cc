// The probe against stand-in tools that honour curl's contract (the command
// line, every exit status, signals, huge or lingering output) and the child
// process runner under it; neither may leave anything behind.
#include "discovery/probe.h"

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/child_process.h"
#include "process_checks.h"
#include "support/test_files.h"

namespace quillon {
namespace {

const std::string kUrl = "https://geo.quillon.test/geoip?format=json";
const std::string kProxy = "socks5://persona:p@ss w:$(id)*@127.0.0.1:1080";

class ProbeTest : public test::NothingLeftBehind {
 protected:
  std::string executable(const std::string& name, const std::string& content) {
    std::string path = dir_ / name;
    test::writeFile(path, content);
    chmod(path.c_str(), 0755);
    return path;
  }

  // A sh script standing in for curl. It records its arguments
  // (NUL-separated) in args, then runs body.
  std::string standIn(const std::string& body) {
    return executable("curl", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done >'" +
                                  dir_.path() + "/args'\ncase \" $* \" in *' -K - '*) cat >'" +
                                  dir_.path() + "/stdin';; esac\n" + body + "\n");
  }

  std::vector<std::string> recordedArgs() {
    std::string raw = test::readFile(dir_ / "args");
    std::vector<std::string> args;
    for (size_t start = 0, end; (end = raw.find('\0', start)) != std::string::npos; start = end + 1)
      args.push_back(raw.substr(start, end - start));
    return args;
  }

  test::TempDir dir_;
};

TEST_F(ProbeTest, ToolGetsTheRequestWithTheLoginOnItsInputAndTheEnvironment) {
  setenv("QUILLON_PROBE_TEST_VALUE", "kept as is", 1);
  std::string tool = standIn("printf '%s' \"$QUILLON_PROBE_TEST_VALUE\" >'" + dir_.path() +
                             "/env'; echo 203.0.113.7");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  unsetenv("QUILLON_PROBE_TEST_VALUE");
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "203.0.113.7");
  EXPECT_EQ(test::readFile(dir_ / "env"), "kept as is");
  EXPECT_EQ(recordedArgs(),
            (std::vector<std::string>{"-q", "--max-time", "10", "-sS", "--noproxy", "", "-x",
                                      "socks5h://127.0.0.1:1080", "-K", "-", kUrl}));
  // The login leaves the command line; percent escapes are the URL's own.
  EXPECT_EQ(test::readFile(dir_ / "stdin"), "proxy-user = \"persona:p@ss w:$(id)*\"\n");

  probeEgress("socks5://us%40er:a\"b\\c%25@h:1", "https://ip.quillon.test/myip", tool);
  EXPECT_EQ(test::readFile(dir_ / "stdin"), "proxy-user = \"us@er:a\\\"b\\\\c%\"\n");

  probeEgress("socks5://", "https://ip.quillon.test/myip", tool);
  EXPECT_EQ(recordedArgs(),
            (std::vector<std::string>{"-q", "--max-time", "10", "-sS", "--noproxy", "", "-x",
                                      "socks5h://", "https://ip.quillon.test/myip"}));
}

TEST_F(ProbeTest, ExitStatusesAndSignalsMapToTheirCodes) {
  struct Case {
    std::string ending;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"exit 1", 1, "INTERNAL"},
      {"exit 6", 6, "INTERNAL"},
      {"exit 7", 7, "PROXY_UNREACHABLE"},
      {"exit 28", 28, "PROXY_TIMEOUT"},
      {"exit 35", 35, "INTERNAL"},
      {"exit 56", 56, "PROXY_AUTH_FAILED"},
      {"exit 67", 67, "PROXY_AUTH_FAILED"},
      {"exit 97", 97, "INTERNAL"},
      {"echo 'curl: (97) No authentication method was acceptable.' >&2; exit 97", 97,
       "PROXY_AUTH_FAILED"},
      {"exit 255", 255, "INTERNAL"},
      {"kill -KILL $$", 9, "INTERNAL"},
      // SIGBUS is 7, the same number as curl's "failed to connect".
      {"ulimit -c 0; kill -BUS $$", 7, "INTERNAL"},
  };
  for (const Case& c : cases) {
    // Output before a failure is never read.
    DiscoverResult r =
        probeEgress(kProxy, kUrl, standIn("echo 203.0.113.7; echo curl: error >&2; " + c.ending));
    EXPECT_EQ(r.errorCode, c.code) << c.ending;
    EXPECT_EQ(r.curlExitCode, c.status);
    EXPECT_EQ(r.message, "curl exit " + std::to_string(c.status) + " against " + kUrl + " via " +
                             kProxy + " after " + std::to_string(r.elapsedMs) + " ms");
    EXPECT_GE(r.elapsedMs, 0);
    EXPECT_EQ(r.ip + r.countryCode, "");
  }
}

// Output is read while the tool runs, up to its end but not beyond: the
// probe returns even when a process the tool left behind holds the pipe.
TEST_F(ProbeTest, OutputOfAnySizeNeitherBlocksNorOutlivesTheTool) {
  std::string pidFile = dir_ / "grandchild";
  const std::string megabytes = "head -c 8000000 /dev/zero | tr '\\0' ";
  const std::string noIp =
      "curl exit 0 but no usable IP in response \u2014 got 70000012 bytes, head: \"";
  const std::string cases[][3] = {
      {megabytes + "e >&2; echo 203.0.113.7; " + megabytes + "o; " + megabytes + "e >&2",
       "203.0.113.7", ""},
      {"sleep 60 & echo $! > '" + pidFile + "'; echo 203.0.113.9", "203.0.113.9", ""},
      // 70 MB starting with a usable line: too large to be an IP service's answer.
      {"echo 203.0.113.7; head -c 70000000 /dev/zero", "",
       noIp + "203.0.113.7\n" + std::string(68, '\0') + "\""},
  };
  for (const auto& [script, ip, message] : cases) {
    DiscoverResult r = probeEgress(kProxy, kUrl, standIn(script));
    std::string pid = test::readFile(pidFile);
    if (pid != "<missing>") kill(std::atoi(pid.c_str()), SIGKILL);
    EXPECT_EQ(r.errorCode, message.empty() ? "" : "DISCOVERY_HTTP_ERROR") << script;
    EXPECT_EQ(r.message, message);
    EXPECT_EQ(r.ip, ip);
    EXPECT_EQ(r.curlExitCode, 0);
  }
}

TEST_F(ProbeTest, FailuresBeforeTheToolRunsHaveFixedRecords) {
  std::string plain = executable("not-executable", "#!/bin/sh\necho 203.0.113.7\n");
  chmod(plain.c_str(), 0644);
  std::string tool = executable("ran-tool", "#!/bin/sh\n: >'" + dir_.path() + "/ran'\n");
  std::string badInterpreter = executable("bad-interpreter", "#!/nonexistent/interpreter\n");
  std::string notAProgram = executable("not-a-program",
                                       "\x7f"
                                       "ELF but not really\n");
  const char* scheme =
      "proxy-server is not socks5://\u2026 \u2014 launcher does not handle other schemes";
  const char* missing = "/usr/bin/curl missing \u2014 macOS always ships it; environment is broken";
  struct Case {
    std::string proxy, tool, code, message;
  };
  const Case cases[] = {
      {"SOCKS5://127.0.0.1:1080", tool, "INTERNAL", scheme},
      {"socks5h://127.0.0.1:1080", tool, "INTERNAL", scheme},
      {"http://127.0.0.1:3128", tool, "INTERNAL", scheme},
      {" socks5://h:1", tool, "INTERNAL", scheme},
      {"", tool, "INTERNAL", scheme},
      {"http://h:1", dir_ / "missing", "INTERNAL", scheme},  // the scheme is checked first
      {kProxy, plain, "CURL_NOT_FOUND", missing},
      {kProxy, dir_ / "missing", "CURL_NOT_FOUND", missing},
      {kProxy, dir_.path(), "CURL_NOT_FOUND", missing},
      {kProxy, badInterpreter, "INTERNAL", "Process.run(curl) failed: No such file or directory"},
      {kProxy, notAProgram, "INTERNAL", "Process.run(curl) failed: Exec format error"},
  };
  for (const Case& c : cases) {
    DiscoverResult r = probeEgress(c.proxy, kUrl, c.tool);
    EXPECT_EQ(r.errorCode, c.code) << c.proxy << " " << c.tool;
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.curlExitCode, -1);
    EXPECT_EQ(r.elapsedMs, 0);
    EXPECT_EQ(r.ip, "");
  }
  EXPECT_FALSE(test::exists(dir_ / "ran"));
}

TEST_F(ProbeTest, DefaultToolIsTheSystemCurl) {
  // Port 1 on loopback refuses: the real curl says "failed to connect".
  DiscoverResult r = probeEgress("socks5://127.0.0.1:1", kUrl);
  EXPECT_EQ(r.errorCode, "PROXY_UNREACHABLE");
  EXPECT_EQ(r.curlExitCode, 7);
}

using ChildProcessTest = test::NothingLeftBehind;

TEST_F(ChildProcessTest, ArgumentsReachTheProgramWithoutAShell) {
  ChildRun run = runChild("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "a b", "$(id)", "*", ""});
  EXPECT_TRUE(run.launched && run.exited && !run.signalled);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "[a b][$(id)][*][]");
  EXPECT_EQ(run.outputBytes, run.output.size());
}

TEST_F(ChildProcessTest, OutputAboveTheCapIsCountedNotKept) {
  ChildRun run = runChild("/bin/sh", {"-c", "head -c 1000000 /dev/zero | tr '\\0' x"}, 10);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "xxxxxxxxxx");
  EXPECT_EQ(run.outputBytes, 1000000u);
}

TEST_F(ChildProcessTest, TheChildGetsOnlyItsStandardDescriptors) {
  // ls lists the descriptors it was started with, plus its own for the listing.
  ChildRun run = runChild("/bin/ls", {"-l", "/proc/self/fd"});
  ASSERT_EQ(run.status, 0);
  std::map<int, std::string> parent = test::openDescriptors();
  std::map<int, std::string> child;
  std::istringstream words(run.output);
  for (std::string previous, word, target; words >> word; previous = word)
    if (word == "->" && words >> target) child[std::stoi(previous)] = target;
  ASSERT_EQ(child[1].rfind("pipe:", 0), 0u) << run.output;
  EXPECT_EQ(child[2].rfind("/memfd:", 0), 0u) << "standard error is kept in memory";
  for (const auto& [fd, target] : child) {
    if (fd <= 2 || target.rfind("/proc/", 0) == 0) continue;
    // Anything else is a descriptor this test process itself holds without
    // close-on-exec; the runner's pipe is never among them.
    EXPECT_EQ(parent[fd], target) << "descriptor " << fd;
    EXPECT_NE(target, child[1]) << "descriptor " << fd;
  }
}

}  // namespace
}  // namespace quillon
