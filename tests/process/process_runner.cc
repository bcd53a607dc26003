#include "process_runner.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "support/test_files.h"

namespace quillon::test {

namespace {

using Clock = std::chrono::steady_clock;

// One pause of a polling loop, and a bound on the number of steps of any loop.
constexpr Millis kStep{5};
constexpr long kMaxSteps = 1000000;

std::vector<char*> cBlock(std::vector<std::string>& strings) {
  std::vector<char*> block;
  for (std::string& s : strings) block.push_back(s.data());
  block.push_back(nullptr);
  return block;
}

// The child side of runProcess: only async-signal-safe calls until exec.
// Every descriptor from 3 on is closed at exec, except the targets of dup2.
[[noreturn]] void becomeProcess(const ProcessSetup& setup, char** argv, char** envp,
                                const sigset_t& mask) {
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (dup2(devnull, 0) < 0 || dup2(setup.standardOutput, 1) < 0 || dup2(setup.standardError, 2) < 0)
    _exit(126);
  for (const auto& [from, to] : setup.inheritedFds)
    if ((from == to ? fcntl(to, F_SETFD, 0) : dup2(from, to)) < 0) _exit(126);
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action {};
    bool ignored = std::find(setup.ignoredSignals.begin(), setup.ignoredSignals.end(), sig) !=
                   setup.ignoredSignals.end();
    action.sa_handler = ignored ? SIG_IGN : SIG_DFL;
    sigaction(sig, &action, nullptr);
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  if (!setup.cwd.empty() && chdir(setup.cwd.c_str()) != 0) _exit(126);
  if (!setup.holdAtExitUntil.empty() && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
    _exit(126);
  execve(setup.program.c_str(), argv, envp);
  _exit(127);
}

// A traced child stopped: after exec, ask to stop again at its exit; at its
// exit, hold it until the file exists; pass on any other signal.
void resumeTraced(const ProcessSetup& setup, pid_t pid, int status, bool& optionsSet) {
  long signal = 0;
  if (!optionsSet && WSTOPSIG(status) == SIGTRAP) {
    ptrace(PTRACE_SETOPTIONS, pid, nullptr,
           reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    optionsSet = true;
  } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
    waitForFile(setup.holdAtExitUntil, Millis(10000));
  } else {
    signal = WSTOPSIG(status);
  }
  ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(signal));
}

void recordEnd(ProcessOutcome& outcome, int status) {
  outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.termSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// The ids of this process's children, from the parent field of /proc/N/stat.
std::vector<pid_t> childProcesses() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string stat = readFile(entry.path() / "stat");
    size_t paren = stat.rfind(") ");
    if (paren != std::string::npos && atol(stat.c_str() + paren + 4) == getpid())
      children.push_back(static_cast<pid_t>(atol(entry.path().filename().c_str())));
  }
  return children;
}

}  // namespace

ProcessOutcome runProcess(ProcessSetup setup) {
  std::vector<char*> argv = cBlock(setup.argv);
  std::vector<char*> envp = cBlock(setup.env);
  sigset_t mask;
  sigemptyset(&mask);
  for (int sig : setup.blockedSignals) sigaddset(&mask, sig);

  ProcessOutcome outcome;
  outcome.pid = fork();
  if (outcome.pid == 0) becomeProcess(setup, argv.data(), envp.data(), mask);
  if (outcome.pid < 0) return outcome;

  auto deadline = Clock::now() + setup.timeout;
  bool optionsSet = false;
  for (long step = 0; step < kMaxSteps && Clock::now() < deadline; ++step) {
    int status = 0;
    pid_t done = waitpid(outcome.pid, &status, WNOHANG | __WALL);
    if (done == outcome.pid && WIFSTOPPED(status)) {
      resumeTraced(setup, outcome.pid, status, optionsSet);
    } else if (done == outcome.pid) {
      recordEnd(outcome, status);
      return outcome;
    } else {
      std::this_thread::sleep_for(kStep);
    }
  }
  outcome.timedOut = true;
  kill(outcome.pid, SIGKILL);
  int status = 0;
  if (waitpid(outcome.pid, &status, __WALL) == outcome.pid) recordEnd(outcome, status);
  return outcome;
}

int reapChildren(Millis limit) {
  int reaped = 0;
  auto deadline = Clock::now() + limit;
  bool killed = false;
  for (long step = 0; step < kMaxSteps; ++step) {
    pid_t done = waitpid(-1, nullptr, WNOHANG);
    if (done < 0) break;  // no child left
    reaped += done > 0;
    if (done > 0) continue;
    // Past the limit, kill what is left, once, and give it as long again.
    if (Clock::now() > deadline) {
      if (killed) break;
      for (pid_t child : childProcesses()) kill(child, SIGKILL);
      killed = true;
      deadline = Clock::now() + limit;
    }
    std::this_thread::sleep_for(kStep);
  }
  return reaped;
}

bool waitForFile(const std::string& path, Millis limit) {
  auto deadline = Clock::now() + limit;
  for (long step = 0; step < kMaxSteps; ++step) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(kStep);
  }
  return false;
}

}  // namespace quillon::test
