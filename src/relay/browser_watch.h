// How long the relay serves: for as long as a browser of this user may use
// its port. It watches the engine the launcher started; when that process
// ends (Chromium relaunching itself after chrome://restart, a wrapper that
// forks the browser and exits, a crash) it looks for a live process of this
// user whose command line carries the relay's exact proxy switch, adopts it
// and goes on (as long as it carries the switch), and only after a grace
// period without one does it end. The
// listening socket stays open all the while, so no one else can take the
// port while a browser may still send to it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "relay/handover.h"

namespace quillon {

struct BrowserWatchTiming {
  int graceMs = 2000;              // without a browser on the port before the relay ends
  int lookMs = 100;                // between looks during the grace period
  int pollMs = 250;                // between checks of a process watched without a descriptor
  bool processDescriptors = true;  // pidfd_open; without it, the process is polled
};

// The same for the relay's listening socket; "" when its port cannot be read.
std::string listenerProxySwitch(int listener);

// The process is this user's, in this network namespace (another has
// loopback ports of its own), and its command line carries proxySwitch.
bool carriesProxySwitch(long pid, uint32_t user, std::string_view proxySwitch);

class BrowserWatch {
 public:
  BrowserWatch(std::string proxySwitch, BrowserWatchTiming timing = {});
  ~BrowserWatch();
  BrowserWatch(const BrowserWatch&) = delete;
  BrowserWatch& operator=(const BrowserWatch&) = delete;

  // Readable whenever update() has something to do; -1 when it could not be set up.
  int fd() const { return ready_; }
  // Watches the engine; without one, looks for a browser on the port at once.
  void start(EngineHandle engine);
  // After fd() became readable: false once no browser may use the port.
  bool update();
  // The process watched now, 0 while looking for one.
  long watched() const { return pid_; }

 private:
  bool adopt(long pid, int handle);
  void forget();
  void look();
  void arm(int ms);

  std::string proxySwitch_;
  BrowserWatchTiming timing_;
  uint32_t user_;
  int ready_ = -1;  // an epoll set of the process descriptor and the timer
  int timer_ = -1;
  int handle_ = -1;
  long pid_ = 0;
  bool mustCarry_ = false;  // adopted: it must go on carrying the switch
  uint64_t startTime_ = 0;
  int64_t lookingSince_ = -1;
  bool over_ = false;
};

}  // namespace quillon
