// The built launcher as a whole process against the recording engine: the
// fixture of every process-level test. The launcher is traced and held at
// its exit until the engine has recorded its start, so that it is still the
// engine's parent then; every wait is bounded.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace quillon::test {


using Args = std::vector<std::string>;
constexpr auto kStep = std::chrono::milliseconds(5);
constexpr int kSteps = 4000;  // 20 s of steps: the bound of every wait

struct Options {
  std::string program = QUILLON_LAUNCHER_PATH;
  std::string cwd = "/";
  int standardError = -1;  // -1: the file that also takes standard output
  int inheritedFd = -1;    // passed on as descriptor 7
  int blocked = 0, ignored = 0;
  bool awaitEngine = true;  // false: a launch that ends with 0 but starts no engine
};

struct Launch {
  pid_t pid = -1;
  int status = -1;  // exit status, -1 when killed by a signal or held too long
  std::string out;  // standard output and error
  std::multimap<std::string, std::string> engine;  // the engine's record, when one ran
  int children = 0;                                // processes reaped after the launch
  Args operator[](const std::string& key) const {  // the record's values of a key
    Args found;
    for (auto [it, end] = engine.equal_range(key); it != end; ++it) found.push_back(it->second);
    return found;
  }
};

class LauncherProcess : public ::testing::Test {
 protected:
  void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1); }  // engines come here when orphaned

  // Runs the launcher, traced so that it is held at its exit until the
  // engine has recorded its start: the launcher is still its parent then.
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
    pid_t pid = fork();
    if (pid == 0) {
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
      int err = setup.standardError >= 0 ? setup.standardError : out;
      if (dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0) < 0 || dup2(out, 1) < 0 ||
          dup2(err, 2) < 0 || (setup.inheritedFd >= 0 && dup2(setup.inheritedFd, 7) < 0))
        _exit(126);
      sigset_t mask;
      sigemptyset(&mask);
      if (setup.blocked) sigaddset(&mask, setup.blocked);
      sigprocmask(SIG_SETMASK, &mask, nullptr);
      for (int sig = 1; sig < NSIG; ++sig) signal(sig, sig == setup.ignored ? SIG_IGN : SIG_DFL);
      if (chdir(setup.cwd.c_str()) == 0 && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0)
        execve(setup.program.c_str(), cArgv.data(), cEnv.data());
      _exit(127);
    }
    close(out);
    Launch run;
    run.pid = pid;
    for (int step = 0, status = 0; step < kSteps; ++step) {
      if (waitpid(pid, &status, WNOHANG | __WALL) != pid) {
        std::this_thread::sleep_for(kStep);
      } else if (WIFSTOPPED(status) && status >> 8 == (SIGTRAP | PTRACE_EVENT_EXIT << 8)) {
        unsigned long code = 0;
        ptrace(PTRACE_GETEVENTMSG, pid, nullptr, &code);
        for (int wait = 0; setup.awaitEngine && code == 0 && wait < kSteps && !exists(record);
             ++wait)
          std::this_thread::sleep_for(kStep);
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
      } else if (WIFSTOPPED(status)) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
        ptrace(PTRACE_CONT, pid, nullptr, WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status));
      } else {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
    }
    kill(pid, SIGKILL);  // only when it outlived every bound
    std::string bytes = readFile(record);
    for (size_t at = 0, end; run.status == 0 && (end = bytes.find('\0', at)) != bytes.npos;
         at = end + 1) {
      size_t space = bytes.find(' ', at);
      run.engine.emplace(bytes.substr(at, space - at), bytes.substr(space + 1, end - space - 1));
    }
    for (const std::string& engine : run["pid"]) kill(std::stoi(engine), SIGKILL);
    for (int step = 0, done = 0; step < kSteps && done >= 0; ++step) {
      done = waitpid(-1, nullptr, WNOHANG | __WALL);
      if (done == 0) std::this_thread::sleep_for(kStep);
      run.children += done > 0;
    }
    run.out = readFile(tmp / "out");
    return run;
  }

  // Exit 0, nothing printed, one engine that recorded its start.
  void expectStarted(const Launch& run) {
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.children, 1);
    EXPECT_FALSE(run.engine.empty());
  }

  // Sets, replaces or (with nullopt) removes a variable of environment.
  void setEnv(const std::string& name, const std::optional<std::string>& value) {
    std::erase_if(environment, [&name](const std::string& e) { return e.starts_with(name + "="); });
    if (value) environment.push_back(name + "=" + *value);
  }

  TempDir tmp;
  std::string record = tmp / "record";
  // The leak checker of a sanitized build cannot run in a traced process.
  Args environment = {"HOME=" + tmp / "home",
                      "XDG_CONFIG_HOME=" + tmp / "xdg",
                      "PATH=/bin",
                      "QUILLON_ENGINE_BIN=" QUILLON_RECORDING_ENGINE_PATH,
                      "QUILLON_TEST_RECORD=" + record,
                      "ASAN_OPTIONS=detect_leaks=0"};
};

}  // namespace quillon::test
