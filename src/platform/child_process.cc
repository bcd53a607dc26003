#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

extern char** environ;

namespace quillon {

namespace {

// Largest pipe buffer Linux hands out without privileges: what a child can
// have left in its pipe when it ends.
constexpr size_t kMaxPipeBacklog = size_t{1024} * 1024;

// A descriptor owned by one scope.
struct OwnedFd {
  int fd = -1;
  OwnedFd() = default;
  explicit OwnedFd(int value) : fd(value) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() { reset(); }
  void reset() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

std::string errorText(int err) {
  char buf[256];
  return strerror_r(err, buf, sizeof buf);
}

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
  auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

// Moves a descriptor above the standard ones, so that a launcher started with
// stdin, stdout or stderr closed never gives the pipe to the child by accident.
bool moveAboveStandard(OwnedFd& end) {
  if (end.fd > STDERR_FILENO) return true;
  int moved = fcntl(end.fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  end.reset();
  end.fd = moved;
  return moved >= 0;
}

// A close-on-exec pipe whose read end does not block.
int makeOutputPipe(OwnedFd& readEnd, OwnedFd& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  readEnd.fd = fds[0];
  writeEnd.fd = fds[1];
  if (!moveAboveStandard(readEnd) || !moveAboveStandard(writeEnd)) return errno;
  if (fcntl(readEnd.fd, F_SETFL, O_NONBLOCK) != 0) return errno;
  return 0;
}

// Appends what the child wrote, keeping at most cap bytes and counting all.
void keep(ChildRun& run, const char* data, size_t size, size_t cap) {
  run.outputBytes += size;
  size_t room = cap > run.output.size() ? cap - run.output.size() : 0;
  try {
    run.output.append(data, size < room ? size : room);
  } catch (const std::bad_alloc&) {
    // Out of memory: what is kept so far stands, the rest is only counted.
  }
}

// Reads what is in the pipe now, up to limit bytes. False once the pipe has
// reached its end or failed.
bool readAvailable(int fd, ChildRun& run, size_t cap, size_t limit) {
  char buf[64 * 1024];
  size_t taken = 0;
  while (taken < limit) {
    size_t want = sizeof buf < limit - taken ? sizeof buf : limit - taken;
    ssize_t n = read(fd, buf, want);
    if (n > 0) {
      keep(run, buf, static_cast<size_t>(n), cap);
      taken += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

// Whatever the child left in the pipe when it ended. A process it left
// behind may still hold the write end, so this takes only what is there.
void drainAfterExit(int fd, ChildRun& run, size_t cap) {
  int pending = 0;
  size_t limit = kMaxPipeBacklog;
  if (ioctl(fd, FIONREAD, &pending) == 0) limit = pending > 0 ? static_cast<size_t>(pending) : 0;
  if (limit > 0) readAvailable(fd, run, cap, limit);
}

// An in-memory file holding bytes, read from its start, that only this
// process and the child it is handed to can reach. 0 or an error number.
int makeMemoryFile(OwnedFd& file, std::string_view bytes) {
  file.fd = memfd_create("quillon-child", MFD_CLOEXEC);
  if (file.fd < 0 || !moveAboveStandard(file)) return errno;
  while (!bytes.empty()) {
    ssize_t n = write(file.fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return lseek(file.fd, 0, SEEK_SET) == 0 ? 0 : errno;
}

// The first cap bytes of an in-memory file.
std::string readMemoryFile(int fd, size_t cap) {
  std::string text(cap, '\0');
  ssize_t n = pread(fd, text.data(), cap, 0);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

// While it lives, SIGCHLD has its default disposition, so that the child
// stays there to be reaped even when the launcher was started with SIGCHLD
// ignored; the inherited disposition comes back afterwards, for the engine.
class DefaultChildSignal {
 public:
  DefaultChildSignal() {
    struct sigaction current = {};
    sigaction(SIGCHLD, nullptr, &current);
    changed_ = current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0;
    if (!changed_) return;
    saved_ = current;
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGCHLD, &fallback, nullptr);
  }
  DefaultChildSignal(const DefaultChildSignal&) = delete;
  DefaultChildSignal& operator=(const DefaultChildSignal&) = delete;
  ~DefaultChildSignal() {
    if (changed_) sigaction(SIGCHLD, &saved_, nullptr);
  }

 private:
  bool changed_ = false;
  struct sigaction saved_ = {};
};

int openPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  // pidfd_open always returns a close-on-exec descriptor.
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Reads standard output until the child has ended, then reaps it.
void collect(pid_t pid, OwnedFd& readEnd, ChildRun& run, size_t cap,
             std::chrono::steady_clock::time_point start) {
  OwnedFd pidFd(openPidFd(pid));
  bool pipeOpen = true;
  for (;;) {
    pollfd fds[2];
    nfds_t count = 0;
    if (pipeOpen) fds[count++] = pollfd{readEnd.fd, POLLIN, 0};
    if (pidFd.fd >= 0) fds[count++] = pollfd{pidFd.fd, POLLIN, 0};
    // Without a process descriptor the child's end is noticed by looking.
    int ready = poll(fds, count, pidFd.fd >= 0 ? -1 : 10);
    if (ready > 0 && pipeOpen && fds[0].revents != 0)
      pipeOpen = readAvailable(readEnd.fd, run, cap, SIZE_MAX);
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.elapsedMs = millisecondsSince(start);
      run.exited = true;
      run.signalled = WIFSIGNALED(status);
      run.status = run.signalled ? WTERMSIG(status) : WEXITSTATUS(status);
      break;
    }
    if (done < 0 && errno != EINTR) {
      // Someone else reaped the child (SIGCHLD ignored): its status is lost.
      run.elapsedMs = millisecondsSince(start);
      run.launchError = errorText(errno);
      return;
    }
  }
  if (pipeOpen) drainAfterExit(readEnd.fd, run, cap);
}

}  // namespace

ChildRun runChild(const std::string& path, const std::vector<std::string>& args, size_t outputCap,
                  std::optional<std::string_view> standardInput) {
  ChildRun run;
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  OwnedFd readEnd, writeEnd, input, errors;
  int err = makeOutputPipe(readEnd, writeEnd);
  if (err == 0) err = makeMemoryFile(errors, {});
  if (err == 0 && standardInput) err = makeMemoryFile(input, *standardInput);
  if (err != 0) {
    run.launchError = errorText(err);
    return run;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (standardInput) posix_spawn_file_actions_adddup2(&actions, input.fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors.fd, STDERR_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  DefaultChildSignal reapable;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  err = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  input.reset();
  if (err != 0) {
    run.launchError = errorText(err);
    return run;
  }
  run.launched = true;
  collect(pid, readEnd, run, outputCap, start);
  run.errorOutput = readMemoryFile(errors.fd, kMaxChildErrorBytes);
  return run;
}

}  // namespace quillon
