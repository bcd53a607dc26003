#include "relay/browser_watch.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "platform/process_info.h"
#include "platform/process_table.h"

namespace quillon {

namespace {

int64_t nowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

bool ended(int handle) {
  pollfd ready{handle, POLLIN, 0};
  return poll(&ready, 1, 0) != 0;
}

}  // namespace

std::string listenerProxySwitch(int listener) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "";
  return relayProxySwitch(std::to_string(ntohs(address.sin_port)));
}

bool carriesProxySwitch(long pid, uint32_t user, std::string_view proxySwitch) {
  if (proxySwitch.empty() || processUser(pid) != user || !inThisNetworkNamespace(pid)) return false;
  std::optional<std::string> raw = processCommandLine(pid);
  if (!raw) return false;
  for (const std::string& argument : commandLineArguments(*raw)) {
    // A process title may end in the arguments after the last switch.
    std::string_view rest =
        std::string_view(argument).substr(std::min(argument.size(), proxySwitch.size()));
    if (argument.starts_with(proxySwitch) && (rest.empty() || rest.front() == ' ')) return true;
  }
  return false;
}

BrowserWatch::BrowserWatch(std::string proxySwitch, BrowserWatchTiming timing)
    : proxySwitch_(std::move(proxySwitch)), timing_(timing), user_(geteuid()) {
  ready_ = epoll_create1(EPOLL_CLOEXEC);
  timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  epoll_event event{EPOLLIN, {.fd = timer_}};
  if (ready_ < 0 || timer_ < 0 || epoll_ctl(ready_, EPOLL_CTL_ADD, timer_, &event) != 0) {
    if (ready_ >= 0) close(ready_);
    if (timer_ >= 0) close(timer_);
    ready_ = timer_ = -1;
  }
}

BrowserWatch::~BrowserWatch() {
  forget();
  if (ready_ >= 0) close(ready_);
  if (timer_ >= 0) close(timer_);
}

void BrowserWatch::arm(int ms) {
  itimerspec when{};
  when.it_value.tv_sec = ms / 1000;
  when.it_value.tv_nsec = (ms % 1000) * 1000000L + 1;
  timerfd_settime(timer_, 0, &when, nullptr);
}

void BrowserWatch::forget() {
  if (handle_ >= 0) {
    epoll_ctl(ready_, EPOLL_CTL_DEL, handle_, nullptr);
    close(handle_);
  }
  handle_ = -1;
  pid_ = 0;
}

bool BrowserWatch::adopt(long pid, int handle) {
  // The descriptor first: the command line read after it, while it has not
  // ended, is its process's and not a later one's with the same id.
  if (handle < 0 && timing_.processDescriptors) handle = openProcessHandle(pid);
  std::optional<uint64_t> start = processStartTime(pid);
  bool engine = pid == pid_;
  bool fits = start && (engine || carriesProxySwitch(pid, user_, proxySwitch_));
  if (handle >= 0 && (!fits || ended(handle))) fits = false;
  if (!fits) {
    if (handle >= 0) close(handle);
    return false;
  }
  pid_ = pid;
  startTime_ = *start;
  handle_ = handle;
  mustCarry_ = !engine;
  epoll_event event{EPOLLIN, {.fd = handle}};
  // Polled without a descriptor, and an adopted process is checked again:
  // it may exec another program, or take another user or network namespace.
  if (handle < 0 || epoll_ctl(ready_, EPOLL_CTL_ADD, handle, &event) != 0 || mustCarry_)
    arm(timing_.pollMs);
  lookingSince_ = -1;
  return true;
}

void BrowserWatch::start(EngineHandle engine) {
  if (engine.handle >= 0 && !timing_.processDescriptors) {
    close(engine.handle);
    engine.handle = -1;
  }
  if (engine.pid > 0) {
    pid_ = engine.pid;  // the launcher's own child: no need to show the switch
    if (!adopt(engine.pid, engine.handle)) pid_ = 0;
  } else if (engine.handle >= 0) {
    close(engine.handle);
  }
  if (pid_ == 0) look();
}

void BrowserWatch::look() {
  for (long pid : processIds())
    if (pid != getpid() && carriesProxySwitch(pid, user_, proxySwitch_) && adopt(pid, -1)) return;
  int64_t now = nowMs();
  if (lookingSince_ < 0) lookingSince_ = now;
  if (now - lookingSince_ >= timing_.graceMs)
    over_ = true;
  else
    arm(timing_.lookMs);
}

bool BrowserWatch::update() {
  uint64_t expirations;
  while (read(timer_, &expirations, sizeof expirations) > 0) {
  }
  if (over_) return false;
  if (pid_ != 0) {
    bool gone = handle_ >= 0 ? ended(handle_) : processStartTime(pid_) != startTime_;
    if (!gone && mustCarry_) gone = !carriesProxySwitch(pid_, user_, proxySwitch_);
    if (!gone) {
      if (handle_ < 0 || mustCarry_) arm(timing_.pollMs);
      return true;
    }
    forget();
  }
  look();
  return !over_;
}

}  // namespace quillon
