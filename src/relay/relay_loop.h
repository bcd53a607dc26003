// The relay's event loop: accepts the browser's connections on the listening
// socket, admits only those of this user, speaks SOCKS5 to the browser and
// the proxy's protocol with the login to the proxy, then moves the bytes of
// each tunnel with splice(2) through a pipe per direction, never through
// user space. It connects to nothing but the proxy.
#pragma once

#include "relay/relay_settings.h"

namespace quillon {

struct RelayLimits {
  int exchangeSeconds = 10;  // a browser or proxy that stalls before the tunnel is closed
  int closingSeconds = 2;    // what is still open after the engine ends
};

// Serves until the engine ends (its process descriptor, received on the
// channel, becomes readable) or the channel closes without one, then closes
// the listener and, within limits.closingSeconds, every connection left.
void runRelayLoop(int listener, int channel, const RelaySettings& settings,
                  const RelayLimits& limits = {});

}  // namespace quillon
