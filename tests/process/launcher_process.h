// The built launcher as a whole process against the recording engine: the
// fixture of every process-level test. Every wait is bounded.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace quillon::test {

using Args = std::vector<std::string>;

// Polls done() every 5 ms, for at most 20 s.
template <typename Done>
bool waitUntil(Done done) {
  for (int step = 0; step < 4000 && !done(); ++step)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

struct Options {
  std::string program = QUILLON_LAUNCHER_PATH;
  std::string cwd = "/";
  int standardOutput = -1;        // -1: the file read into Launch::out
  int standardError = -1;         // -1: that same file
  int inheritedFd = -1;           // passed on as descriptor 7
  int pipeIn = -1, pipeOut = -1;  // passed on as descriptors 3 and 4 (a DevTools pipe)
  int blocked = 0, ignored = 0;
  bool oneProcess = false;  // RLIMIT_NPROC 1, as nobody when root (whom it does not bind)
};

struct Launch {
  int status = -1;   // exit status, -1 when killed by a signal or held too long
  int signal = 0;    // the signal that ended it (SIGKILL from here when held past 20 s)
  std::string out;   // standard output and error
  Args items;        // the engine's record, "KEY VALUE" each, when one ran
  int children = 0;  // processes reaped besides the launcher
  Args operator[](const std::string& key) const {  // the record's values of a key
    Args found;
    for (const std::string& item : items)
      if (item.starts_with(key + " ")) found.push_back(item.substr(key.size() + 1));
    return found;
  }
};

class LauncherProcess : public ::testing::Test {
 protected:
  void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1); }  // orphaned engines come here

  Launch launch(const Args& args, Options setup = {}) {
    std::filesystem::remove(record);
    Args argv = {setup.program}, env = environment;
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cArgv, cEnv;
    for (std::string& a : argv) cArgv.push_back(a.data());
    for (std::string& e : env) cEnv.push_back(e.data());
    cArgv.push_back(nullptr);
    cEnv.push_back(nullptr);
    int out = open((tmp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Launch run;
    pid_t pid = fork();
    if (pid == 0) {
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
      int err = setup.standardError >= 0 ? setup.standardError : out;
      if (dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0) < 0 ||
          dup2(setup.standardOutput >= 0 ? setup.standardOutput : out, 1) < 0 || dup2(err, 2) < 0 ||
          (setup.inheritedFd >= 0 && dup2(setup.inheritedFd, 7) < 0) ||
          (setup.pipeIn >= 0 && (dup2(setup.pipeIn, 3) < 0 || dup2(setup.pipeOut, 4) < 0)))
        _exit(126);
      sigset_t mask;
      sigemptyset(&mask);
      if (setup.blocked) sigaddset(&mask, setup.blocked);
      sigprocmask(SIG_SETMASK, &mask, nullptr);
      for (int sig = 1; sig < NSIG; ++sig) signal(sig, sig == setup.ignored ? SIG_IGN : SIG_DFL);
      // Opened before the user may change (nobody need not reach the build folder), after
      // descriptor 7 is in place.
      int program = open(setup.program.c_str(), O_PATH | O_CLOEXEC);
      const rlimit one = {1, 1};
      if (setup.oneProcess &&
          ((geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0)) ||
           setrlimit(RLIMIT_NPROC, &one) != 0))
        _exit(126);
      if (chdir(setup.cwd.c_str()) == 0) fexecve(program, cArgv.data(), cEnv.data());
      _exit(127);
    }
    close(out);
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    auto reapedAll = [&] {  // reaps one child, if one has ended: true when none is left
      pid_t done = waitpid(-1, nullptr, WNOHANG);
      run.children += done > 0;
      return done < 0;
    };
    waitUntil([&] { return exists(record) || reapedAll(); });  // while one may write it
    std::string bytes = readFile(record);
    for (size_t at = 0, end; (end = bytes.find('\0', at)) != bytes.npos; at = end + 1)
      run.items.push_back(bytes.substr(at, end - at));
    for (const std::string& engine : run["pid"]) kill(std::stoi(engine), SIGKILL);
    waitUntil(reapedAll);
    run.out = readFile(tmp / "out");
    return run;
  }

  // Exit 0, nothing printed, one engine (the launcher's own child) that recorded its start.
  void expectStarted(const Launch& run) {
    EXPECT_EQ(run.status, 0) << "signal " << run.signal;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.children, 1);
    EXPECT_FALSE(run.items.empty());
  }

  // Sets, replaces or (with nullopt) removes a variable of the environment.
  void setEnv(const std::string& name, const std::optional<std::string>& value) {
    std::erase_if(environment, [&name](const std::string& e) { return e.starts_with(name + "="); });
    if (value) environment.push_back(name + "=" + *value);
  }

  TempDir tmp;
  std::string record = tmp / "record";
  Args environment = {"HOME=" + tmp / "home",
                      "XDG_CONFIG_HOME=" + tmp / "xdg",
                      "PATH=/bin",
                      "QUILLON_ENGINE_BIN=" QUILLON_RECORDING_ENGINE_PATH,
                      "QUILLON_TEST_RECORD=" + record,
                      "ASAN_OPTIONS=detect_leaks=0"};
};

}  // namespace quillon::test
