// The relay's event loop: accepts the browser's connections on the listening
// socket, admits only those of this user, speaks SOCKS5 to the browser and
// the proxy's protocol with the login to the proxy, then moves the bytes of
// each tunnel with splice(2) through a pipe per direction, never through
// user space. It connects to nothing but the proxy.
#pragma once

#include "relay/browser_watch.h"
#include "relay/relay_settings.h"

namespace quillon {

struct RelayLimits {
  int exchangeSeconds = 10;  // a browser or proxy that stalls before the tunnel is closed
  int closingSeconds = 2;    // what is still open after the last browser ends
  BrowserWatchTiming browsers;
};

// Serves while a browser may use the listener's port (browser_watch.h: the
// engine received on the channel, then any process of this user that carries
// the relay's proxy switch), then closes the listener and, within
// limits.closingSeconds, every connection left.
void runRelayLoop(int listener, int channel, const RelaySettings& settings,
                  const RelayLimits& limits = {});

}  // namespace quillon
