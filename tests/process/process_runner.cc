#include "process_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quillon::test {

namespace {

using Clock = std::chrono::steady_clock;

// Generous bounds for one poll step and for the number of steps of any loop.
constexpr int kStepMs = 5;
constexpr long kMaxSteps = 1000000;

std::vector<char*> cBlock(std::vector<std::string>& strings) {
  std::vector<char*> block;
  for (std::string& s : strings) block.push_back(s.data());
  block.push_back(nullptr);
  return block;
}

sigset_t signalSet(const std::vector<int>& signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : signals) sigaddset(&set, sig);
  return set;
}

int highestTarget(const ProcessSetup& setup) {
  int highest = 2;
  for (const auto& [from, to] : setup.inheritedFds) highest = std::max(highest, to);
  return highest;
}

bool isTarget(const ProcessSetup& setup, int fd) {
  for (const auto& [from, to] : setup.inheritedFds)
    if (to == fd) return true;
  return false;
}

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

pid_t spawnProcess(ProcessSetup& setup, int outWrite, int errWrite) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite, 1);
  posix_spawn_file_actions_adddup2(&actions, setup.standardError >= 0 ? setup.standardError : errWrite, 2);
  for (const auto& [from, to] : setup.inheritedFds)
    posix_spawn_file_actions_adddup2(&actions, from, to);
  int highest = highestTarget(setup);
  for (int fd = 3; fd <= highest; ++fd)
    if (!isTarget(setup, fd)) posix_spawn_file_actions_addclose(&actions, fd);
  posix_spawn_file_actions_addclosefrom_np(&actions, highest + 1);
  if (!setup.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, setup.cwd.c_str());

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t mask = signalSet(setup.blockedSignals);
  sigset_t defaults;
  sigfillset(&defaults);
  for (int sig : setup.ignoredSignals) sigdelset(&defaults, sig);
  posix_spawnattr_setsigmask(&attributes, &mask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // An ignored disposition is the one thing exec keeps; set it here around
  // the spawn so the child starts with it.
  std::vector<struct sigaction> saved(setup.ignoredSignals.size());
  for (size_t i = 0; i < setup.ignoredSignals.size(); ++i) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(setup.ignoredSignals[i], &ignore, &saved[i]);
  }
  std::vector<char*> argv = cBlock(setup.argv);
  std::vector<char*> envp = cBlock(setup.env);
  pid_t pid = -1;
  int code = posix_spawn(&pid, setup.program.c_str(), &actions, &attributes, argv.data(), envp.data());
  for (size_t i = 0; i < setup.ignoredSignals.size(); ++i)
    sigaction(setup.ignoredSignals[i], &saved[i], nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return code == 0 ? pid : -1;
}

// fork + PTRACE_TRACEME + execve with the same descriptor and signal set-up
// as spawnProcess. Between fork and exec only async-signal-safe calls.
pid_t forkTraced(ProcessSetup& setup, int outWrite, int errWrite) {
  std::vector<char*> argv = cBlock(setup.argv);
  std::vector<char*> envp = cBlock(setup.env);
  sigset_t mask = signalSet(setup.blockedSignals);
  int highest = highestTarget(setup);
  std::vector<char> keep(static_cast<size_t>(highest) + 1, 0);
  for (const auto& [from, to] : setup.inheritedFds) keep[static_cast<size_t>(to)] = 1;
  const char* program = setup.program.c_str();
  const char* cwd = setup.cwd.empty() ? nullptr : setup.cwd.c_str();
  if (setup.standardError >= 0) errWrite = setup.standardError;
  const auto inherited = setup.inheritedFds;
  const auto ignored = setup.ignoredSignals;

  pid_t pid = fork();
  if (pid != 0) return pid;

  int devnull = open("/dev/null", O_RDONLY);
  if (devnull < 0 || dup2(devnull, 0) < 0) _exit(126);
  if (dup2(outWrite, 1) < 0 || dup2(errWrite, 2) < 0) _exit(126);
  for (const auto& [from, to] : inherited)
    if (dup2(from, to) < 0) _exit(126);
  for (int fd = 3; fd <= highest; ++fd)
    if (!keep[static_cast<size_t>(fd)]) close(fd);
  close_range(static_cast<unsigned>(highest) + 1, ~0U, 0);
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int ign : ignored)
      if (ign == sig) action.sa_handler = SIG_IGN;
    sigaction(sig, &action, nullptr);
  }
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  if (cwd && chdir(cwd) != 0) _exit(126);
  if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
  execve(program, argv.data(), envp.data());
  _exit(127);
}

void recordEnd(ProcessOutcome& outcome, int status) {
  if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.termSignal = WTERMSIG(status);
}

void shortPause() { std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs)); }

}  // namespace

RunningProcess::RunningProcess(const ProcessSetup& setup, Start start) : setup_(setup) {
  int out[2], err[2];
  makePipe(out);
  makePipe(err);
  pid_t pid = start == Start::spawn ? spawnProcess(setup_, out[1], err[1])
                                    : forkTraced(setup_, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  outcome_.pid = pid;
  outcome_.spawned = pid > 0;
}

RunningProcess::~RunningProcess() {
  if (outcome_.spawned && outcome_.exitStatus < 0 && outcome_.termSignal == 0) {
    kill(outcome_.pid, SIGKILL);
    reapChild(outcome_.pid, Millis(5000));
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

void RunningProcess::readAvailable(int pollMs) {
  pollfd fds[2];
  int count = 0;
  for (int fd : {outFd_, errFd_})
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  if (count == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    return;
  }
  if (poll(fds, static_cast<nfds_t>(count), pollMs) <= 0) return;
  for (int i = 0; i < count; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[65536];
    ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    bool isOut = fds[i].fd == outFd_;
    if (n <= 0) {
      close(fds[i].fd);
      (isOut ? outFd_ : errFd_) = -1;
      continue;
    }
    (isOut ? outcome_.out : outcome_.err).append(buf, static_cast<size_t>(n));
  }
}

const ProcessOutcome& RunningProcess::waitForExit() {
  if (!outcome_.spawned || outcome_.exitStatus >= 0 || outcome_.termSignal != 0) return outcome_;
  auto deadline = Clock::now() + setup_.timeout;
  for (long step = 0; step < kMaxSteps; ++step) {
    int status = 0;
    pid_t done = waitpid(outcome_.pid, &status, WNOHANG);
    if (done == outcome_.pid) {
      recordEnd(outcome_, status);
      return outcome_;
    }
    if (Clock::now() > deadline) break;
    readAvailable(kStepMs);
  }
  killAfterTimeout();
  return outcome_;
}

void RunningProcess::killAfterTimeout() {
  outcome_.timedOut = true;
  kill(outcome_.pid, SIGKILL);
  int status = 0;
  if (waitpid(outcome_.pid, &status, __WALL) == outcome_.pid) recordEnd(outcome_, status);
}

const ProcessOutcome& RunningProcess::waitForExitHeld(const std::string& holdUntilPath,
                                                      Millis holdLimit) {
  if (!outcome_.spawned) return outcome_;
  auto deadline = Clock::now() + setup_.timeout;
  bool optionsSet = false;
  for (long step = 0; step < kMaxSteps; ++step) {
    int status = 0;
    pid_t done = waitpid(outcome_.pid, &status, WNOHANG | __WALL);
    if (done == outcome_.pid && !WIFSTOPPED(status)) {
      recordEnd(outcome_, status);
      return outcome_;
    }
    if (done == outcome_.pid) {
      int resumeWith = 0;
      if (!optionsSet && WSTOPSIG(status) == SIGTRAP) {
        // The stop after exec: from now on stop again at the exit.
        ptrace(PTRACE_SETOPTIONS, outcome_.pid, nullptr,
               reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
        optionsSet = true;
      } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
        waitForFile(holdUntilPath, holdLimit);
      } else {
        resumeWith = WSTOPSIG(status);
      }
      ptrace(PTRACE_CONT, outcome_.pid, nullptr, reinterpret_cast<void*>(static_cast<long>(resumeWith)));
      continue;
    }
    if (Clock::now() > deadline) break;
    readAvailable(kStepMs);
  }
  killAfterTimeout();
  return outcome_;
}

void RunningProcess::drainOutput(Millis limit) {
  auto deadline = Clock::now() + limit;
  for (long step = 0; step < kMaxSteps && (outFd_ >= 0 || errFd_ >= 0); ++step) {
    if (Clock::now() > deadline) break;
    readAvailable(kStepMs);
  }
}

void becomeChildSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

std::vector<pid_t> childProcesses() {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  pid_t self = getpid();
  while (dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t paren = text.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream fields(text.substr(paren + 1));
    std::string state;
    long parent = 0;
    fields >> state >> parent;
    if (parent == self) children.push_back(static_cast<pid_t>(atol(entry->d_name)));
  }
  closedir(proc);
  return children;
}

int reapChildren(Millis limit) {
  int reaped = 0;
  auto deadline = Clock::now() + limit;
  bool killed = false;
  for (long step = 0; step < kMaxSteps; ++step) {
    pid_t done = waitpid(-1, nullptr, WNOHANG);
    if (done > 0) {
      ++reaped;
      continue;
    }
    if (done < 0) break;  // no child left
    if (Clock::now() > deadline) {
      if (killed) break;
      for (pid_t child : childProcesses()) kill(child, SIGKILL);
      killed = true;
      deadline = Clock::now() + Millis(5000);
    }
    shortPause();
  }
  return reaped;
}

bool reapChild(pid_t pid, Millis limit) {
  auto deadline = Clock::now() + limit;
  for (long step = 0; step < kMaxSteps; ++step) {
    pid_t done = waitpid(pid, nullptr, WNOHANG);
    if (done == pid) return true;
    if (done < 0 || Clock::now() > deadline) return false;
    shortPause();
  }
  return false;
}

bool waitForFile(const std::string& path, Millis limit) {
  auto deadline = Clock::now() + limit;
  for (long step = 0; step < kMaxSteps; ++step) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
    if (Clock::now() > deadline) return false;
    shortPause();
  }
  return false;
}

}  // namespace quillon::test
