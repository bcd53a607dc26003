// The start-up hand-over between the launcher and its relay. The launcher
// opens the listening socket itself (so it listens before the engine starts
// and the port is known at once), starts the relay with that socket and one
// end of a socket pair, sends the settings through the pair from memory,
// and, once the engine runs, the engine's process id with a descriptor of its
// process. The relay serves while a browser may use its port (see
// browser_watch.h).
#pragma once

#include <optional>
#include <string>

#include "relay/relay_settings.h"

namespace quillon {

inline constexpr const char* kRelayName = "quillon-launcher-relay";

// The relay's descriptors: the listening socket and its end of the pair.
inline constexpr int kRelayListenerFd = 3;
inline constexpr int kRelayChannelFd = 4;

// "--proxy-server=socks5://127.0.0.1:PORT": the engine's switch that points
// it at the relay, as the launcher gives it and the relay looks for it.
std::string relayProxySwitch(std::string_view port);

struct RelayStart {
  int channel = -1;   // the launcher's end of the pair, close-on-exec
  int port = 0;       // where the relay listens on 127.0.0.1
  std::string error;  // why the relay did not start, when channel is -1
};

// Starts the relay at relayPath in a session of its own with /dev/null as its
// standard descriptors, no environment, default signal dispositions and an
// empty mask, and hands it the settings.
RelayStart startRelay(const std::string& relayPath, const RelaySettings& settings);

// Hands the engine's process to the relay (its id, and a process descriptor
// when the system gives one) and closes the launcher's end. Without a process
// (the engine did not start), the relay looks for a browser on its port
// and, finding none, ends.
void handEngineToRelay(RelayStart& relay, int enginePid);

// The relay's side: the settings, waiting at most a few seconds for them.
std::optional<RelaySettings> receiveRelaySettings(int channel);

struct EngineHandle {
  long pid = 0;     // 0: the launcher closed its end without an engine
  int handle = -1;  // the engine's process descriptor, when one came
};

// The relay's side, once the channel is readable.
EngineHandle receiveEngine(int channel);

}  // namespace quillon
