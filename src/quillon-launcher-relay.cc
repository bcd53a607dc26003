// quillon-launcher-relay: logs in to the persona's proxy for a stock
// Chromium, which cannot. Started by the launcher with the listening socket
// and the hand-over channel (see handover.h); it takes no arguments and
// reads no environment, and ends when the engine does.
#include <signal.h>
#include <unistd.h>

#include "relay/handover.h"
#include "relay/relay_loop.h"

int main() {
  // A peer that goes away while bytes are moving must not end the relay.
  signal(SIGPIPE, SIG_IGN);
  // Only the hand-over's descriptors and /dev/null as the standard ones.
  close_range(quillon::kRelayChannelFd + 1, ~0U, 0);
  std::optional<quillon::RelaySettings> settings =
      quillon::receiveRelaySettings(quillon::kRelayChannelFd);
  if (!settings) return 1;
  quillon::runRelayLoop(quillon::kRelayListenerFd, quillon::kRelayChannelFd, *settings);
  return 0;
}
