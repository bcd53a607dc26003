// The probe against stand-in tools that honour curl's contract: the command
// line, every exit status, signals, huge or lingering output, and what the
// probe leaves behind.
#include "discovery/probe.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "process_checks.h"
#include "support/test_files.h"

namespace quillon {
namespace {

const std::string kUrl = "https://geo.quillon.test/geoip?format=json";
const std::string kProxy = "socks5://persona:p@ss w:rd@127.0.0.1:1080";

class ProbeTest : public testing::Test {
 protected:
  void SetUp() override { before_ = test::openDescriptors(); }
  void TearDown() override {
    EXPECT_EQ(test::openDescriptors(), before_) << "a descriptor was left open";
    EXPECT_TRUE(test::hasNoChildren()) << "a child was left behind";
  }

  // An executable sh script standing in for curl. It records its arguments
  // (NUL-separated) in args and leaves the file ran behind.
  std::string standIn(const std::string& body) {
    std::string path = dir_ / "curl";
    test::writeFile(path, "#!/bin/sh\n: >'" + dir_.path() + "/ran'\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; "
                          "done >'" + dir_.path() + "/args'\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
  }

  std::vector<std::string> recordedArgs() {
    std::string raw = test::readFile(dir_ / "args");
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t end = raw.find('\0'); end != std::string::npos; end = raw.find('\0', start)) {
      args.push_back(raw.substr(start, end - start));
      start = end + 1;
    }
    return args;
  }

  bool toolRan() { return test::exists(dir_ / "ran"); }

  std::string failureText(int64_t status, const DiscoverResult& r, const std::string& proxy) {
    return "curl exit " + std::to_string(status) + " against " + kUrl + " via " + proxy + " after " +
           std::to_string(r.elapsedMs) + " ms";
  }

  test::TempDir dir_;
  std::map<int, std::string> before_;
};

TEST_F(ProbeTest, ToolGetsExactlySixArgumentsWithCredentialsUnchanged) {
  std::string tool = standIn("echo 203.0.113.7");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(recordedArgs(),
            (std::vector<std::string>{"--max-time", "10", "-sS", "-x",
                                      "socks5h://persona:p@ss w:rd@127.0.0.1:1080", kUrl}));

  probeEgress("socks5://", "https://ip.quillon.test/myip", tool);
  EXPECT_EQ(recordedArgs(), (std::vector<std::string>{"--max-time", "10", "-sS", "-x", "socks5h://",
                                                      "https://ip.quillon.test/myip"}));
}

TEST_F(ProbeTest, EnvironmentIsInheritedUnchanged) {
  setenv("QUILLON_PROBE_TEST_VALUE", "kept as is", 1);
  std::string tool = standIn("printf '%s\\n' \"$QUILLON_PROBE_TEST_VALUE\" > '" + dir_.path() +
                             "/env'; echo 203.0.113.7");
  EXPECT_EQ(probeEgress(kProxy, kUrl, tool).errorCode, "");
  EXPECT_EQ(test::readFile(dir_ / "env"), "kept as is\n");
  unsetenv("QUILLON_PROBE_TEST_VALUE");
}

TEST_F(ProbeTest, ExitStatusesMapToTheirCodes) {
  struct Case {
    int status;
    const char* code;
  };
  const Case cases[] = {{1, "INTERNAL"},          {5, "INTERNAL"},
                        {6, "INTERNAL"},          {7, "PROXY_UNREACHABLE"},
                        {28, "PROXY_TIMEOUT"},    {35, "INTERNAL"},
                        {56, "PROXY_AUTH_FAILED"}, {67, "PROXY_AUTH_FAILED"},
                        {97, "INTERNAL"},         {255, "INTERNAL"}};
  for (const Case& c : cases) {
    // Output before a failure is never read.
    std::string tool = standIn("echo 203.0.113.7; echo curl: error >&2; exit " +
                               std::to_string(c.status));
    DiscoverResult r = probeEgress(kProxy, kUrl, tool);
    EXPECT_EQ(r.errorCode, c.code) << c.status;
    EXPECT_EQ(r.curlExitCode, c.status);
    EXPECT_EQ(r.message, failureText(c.status, r, kProxy));
    EXPECT_GE(r.elapsedMs, 0);
    EXPECT_EQ(r.ip, "");
    EXPECT_EQ(r.countryCode, "");
  }
}

TEST_F(ProbeTest, SignalDeathIsInternalWhateverItsNumber) {
  std::string tool = standIn("kill -KILL $$");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "INTERNAL");
  EXPECT_EQ(r.curlExitCode, 9);
  EXPECT_EQ(r.message, failureText(9, r, kProxy));

  // SIGBUS is 7, the same number as curl's "failed to connect".
  tool = standIn("ulimit -c 0; kill -BUS $$");
  r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "INTERNAL");
  EXPECT_EQ(r.curlExitCode, 7);
  EXPECT_EQ(r.message, failureText(7, r, kProxy));
}

TEST_F(ProbeTest, SuccessfulAnswersAreClassified) {
  std::string tool = standIn(
      "printf '%s' '{\"ip\":\"203.0.113.7\",\"country_code\":\"de\",\"timezone\":\"Europe/Berlin\","
      "\"latitude\":48.85,\"longitude\":\"2.35\"}'");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.ip, "203.0.113.7");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.countryCode, "de");
  EXPECT_EQ(r.timezone, "Europe/Berlin");
  EXPECT_EQ(r.latitude, "48.85");
  EXPECT_EQ(r.longitude, "2.35");

  tool = standIn("printf '\\r\\n  2001:db8::1  \\r\\n'");
  r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.ip, "2001:db8::1");
  EXPECT_EQ(r.countryCode, "");
}

TEST_F(ProbeTest, MegabytesOnBothStreamsDoNotBlock) {
  std::string tool = standIn(
      "head -c 8000000 /dev/zero | tr '\\0' e >&2; echo 203.0.113.7; "
      "head -c 8000000 /dev/zero | tr '\\0' o; head -c 8000000 /dev/zero | tr '\\0' e >&2");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "203.0.113.7");

  tool = standIn("head -c 8000000 /dev/zero | tr '\\0' y");
  r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.message, "curl exit 0 but no usable IP in response \u2014 got 8000000 bytes, head: \"" +
                           std::string(80, 'y') + "\"");
  EXPECT_EQ(r.ip, std::string(8000000, 'y'));
}

TEST_F(ProbeTest, AnswerBeyondTheMemoryCapIsRefused) {
  // 70 MB starting with a usable line: too large to be an IP service's answer.
  std::string tool = standIn("echo 203.0.113.7; head -c 70000000 /dev/zero");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.ip, "");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.message, "curl exit 0 but no usable IP in response \u2014 got 70000012 bytes, head: \"" +
                           std::string("203.0.113.7\n") + std::string(68, '\0') + "\"");
}

TEST_F(ProbeTest, ReturnsWhenTheToolEndsEvenIfItsChildHoldsTheOutput) {
  std::string pidFile = dir_ / "grandchild";
  std::string tool = standIn("sleep 60 & echo $! > '" + pidFile + "'; echo 203.0.113.9");
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  std::string pid = test::readFile(pidFile);
  if (pid != "<missing>") kill(std::atoi(pid.c_str()), SIGKILL);
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.ip, "203.0.113.9");
}

TEST_F(ProbeTest, MissingOrNonExecutableToolIsCurlNotFound) {
  std::string plain = dir_ / "not-executable";
  test::writeFile(plain, "#!/bin/sh\necho 203.0.113.7\n");
  chmod(plain.c_str(), 0644);
  for (const std::string& path : {plain, dir_ / "missing", dir_.path()}) {
    DiscoverResult r = probeEgress(kProxy, kUrl, path);
    EXPECT_EQ(r.errorCode, "CURL_NOT_FOUND") << path;
    EXPECT_EQ(r.message, "/usr/bin/curl missing \u2014 macOS always ships it; environment is broken");
    EXPECT_EQ(r.curlExitCode, -1);
    EXPECT_EQ(r.elapsedMs, 0);
  }
}

TEST_F(ProbeTest, OtherSchemesAreRefusedWithoutRunningTheTool) {
  std::string tool = standIn("echo 203.0.113.7");
  for (const char* proxy : {"SOCKS5://127.0.0.1:1080", "socks5h://127.0.0.1:1080",
                            "socks4://127.0.0.1:1080", "http://127.0.0.1:3128", " socks5://h:1",
                            "socks5:/", ""}) {
    DiscoverResult r = probeEgress(proxy, kUrl, tool);
    EXPECT_EQ(r.errorCode, "INTERNAL") << proxy;
    EXPECT_EQ(r.message,
              "proxy-server is not socks5://\u2026 \u2014 launcher does not handle other schemes");
    EXPECT_EQ(r.curlExitCode, -1);
    EXPECT_EQ(r.elapsedMs, 0);
    EXPECT_EQ(r.ip, "");
  }
  EXPECT_FALSE(toolRan());
  // The scheme is checked before the tool.
  EXPECT_EQ(probeEgress("http://h:1", kUrl, dir_ / "missing").errorCode, "INTERNAL");
}

TEST_F(ProbeTest, ToolThatCannotStartIsInternal) {
  std::string tool = dir_ / "curl";
  test::writeFile(tool, "#!/nonexistent/interpreter\n");
  chmod(tool.c_str(), 0755);
  DiscoverResult r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.errorCode, "INTERNAL");
  EXPECT_EQ(r.message, "Process.run(curl) failed: No such file or directory");
  EXPECT_EQ(r.curlExitCode, -1);
  EXPECT_EQ(r.elapsedMs, 0);

  test::writeFile(tool, "\x7f" "ELF but not really\n");
  r = probeEgress(kProxy, kUrl, tool);
  EXPECT_EQ(r.message, "Process.run(curl) failed: Exec format error");
}

TEST_F(ProbeTest, DefaultToolIsTheSystemCurl) {
  EXPECT_STREQ(kCurlPath, "/usr/bin/curl");
  // Port 1 on loopback refuses: the real curl says "failed to connect".
  DiscoverResult r = probeEgress("socks5://127.0.0.1:1", kUrl);
  EXPECT_EQ(r.errorCode, "PROXY_UNREACHABLE");
  EXPECT_EQ(r.curlExitCode, 7);
}

}  // namespace
}  // namespace quillon
