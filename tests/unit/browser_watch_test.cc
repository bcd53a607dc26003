// How long the relay serves: the engine, then whichever process of this user
// carries the relay's proxy switch, with or without process descriptors.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/process_info.h"
#include "platform/process_table.h"
#include "relay/browser_watch.h"

namespace quillon {
namespace {

// A process whose command line is "sh -c SCRIPT sh ARGS...", blocked reading a pipe.
struct Holder {
  pid_t pid = -1;
  int input = -1;
  explicit Holder(std::vector<std::string> args, const char* script = "read x") {
    int pipe[2];
    EXPECT_EQ(pipe2(pipe, O_CLOEXEC), 0);
    args.insert(args.begin(), {"/bin/sh", "-c", script, "sh"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
      dup2(pipe[0], 0);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipe[0]);
    input = pipe[1];
    // Until exec, the child shows this program's command line.
    for (int i = 0;
         i < 200 && commandLineArguments(processCommandLine(pid).value_or("")).size() < args.size();
         ++i)
      usleep(5000);
  }
  void end() {
    if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    if (input >= 0) close(input);
    pid = input = -1;
  }
  ~Holder() { end(); }
};

int64_t nowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Runs the watch for ms as the relay's loop does: false once it is over.
bool serves(BrowserWatch& watch, int ms) {
  for (int64_t end = nowMs() + ms; nowMs() < end;) {
    pollfd ready{watch.fd(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::max<int64_t>(1, end - nowMs()))) == 1 &&
        !watch.update())
      return false;
  }
  return true;
}

TEST(BrowserWatch, ServesWhileAProcessOfThisUserCarriesItsSwitch) {
  std::string proxySwitch = relayProxySwitch(std::to_string(20000 + getpid() % 40000));
  for (bool descriptors : {true, false}) {
    SCOPED_TRACE(descriptors ? "process descriptors" : "polled");
    BrowserWatch watch(proxySwitch, {300, 20, 20, descriptors});
    Holder engine({proxySwitch}), longer({proxySwitch + "0"});
    watch.start({engine.pid, openProcessHandle(engine.pid)});
    Holder relaunched({"--user-data-dir=/tmp/profile", proxySwitch});
    EXPECT_TRUE(serves(watch, 100));
    EXPECT_EQ(watch.watched(), engine.pid);
    engine.end();  // the relaunched browser takes over at once
    EXPECT_TRUE(serves(watch, 500));
    EXPECT_EQ(watch.watched(), relaunched.pid);
    relaunched.end();  // another one comes within the grace period
    EXPECT_TRUE(serves(watch, 100));
    Holder late({proxySwitch});
    EXPECT_TRUE(serves(watch, 500));
    EXPECT_EQ(watch.watched(), late.pid);
    late.end();  // a switch with a longer port is not this relay's
    int64_t since = nowMs();
    EXPECT_FALSE(serves(watch, 2000));
    EXPECT_GE(nowMs() - since, 300);
  }
}

// Without an engine, a process of this user carrying the switch (a process title's tail too) is
// looked for and adopted; one that stops carrying it (it execs another program, or is still on its
// way to another user or network namespace when adopted) is let go.
TEST(BrowserWatch, WithoutAnEngineAdoptsOneWhileItCarriesTheSwitch) {
  std::string proxySwitch = relayProxySwitch(std::to_string(20000 + getpid() % 40000));
  for (bool descriptors : {true, false}) {
    SCOPED_TRACE(descriptors ? "process descriptors" : "polled");
    Holder changing({"--restart", proxySwitch + " about:blank"}, "read x; exec sleep 60");
    BrowserWatch watch(proxySwitch, {200, 20, 20, descriptors});
    watch.start({});
    EXPECT_TRUE(serves(watch, 400));
    EXPECT_EQ(watch.watched(), changing.pid);
    EXPECT_EQ(write(changing.input, "\n", 1), 1);
    EXPECT_FALSE(serves(watch, 2000));
  }
}

TEST(ProcessTable, CommandLineArguments) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(commandLineArguments(std::string("a\0\0c\0", 5)), (Args{"a", "", "c"}));
  // A process title: one text, split before each " --".
  EXPECT_EQ(commandLineArguments("/usr/lib/chromium/chromium --host-resolver-rules=MAP * x, "
                                 "EXCLUDE h --proxy-server=socks5://127.0.0.1:1 --restart"),
            (Args{"/usr/lib/chromium/chromium", "--host-resolver-rules=MAP * x, EXCLUDE h",
                  "--proxy-server=socks5://127.0.0.1:1", "--restart"}));
  EXPECT_EQ(commandLineArguments(""), Args{});
}

}  // namespace
}  // namespace quillon
