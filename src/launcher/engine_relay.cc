#include "launcher/engine_relay.h"

#include "launcher/fatal.h"

namespace quillon {

bool launchUsesRelay(const LaunchInputs& in) {
  return in.engineKind == EngineKind::chromium && relaySettingsFor(in.overlay.proxyServer);
}

void pointProxyAtRelay(SwitchList& extra, const std::string& port) {
  for (std::string& entry : extra)
    if (entry.starts_with("--proxy-server=")) entry = "--proxy-server=socks5://127.0.0.1:" + port;
}

std::optional<RelayStart> startEngineRelay(const LaunchInputs& in, SwitchList& extra) {
  if (in.engineKind != EngineKind::chromium) return std::nullopt;
  std::optional<RelaySettings> settings = relaySettingsFor(in.overlay.proxyServer);
  if (!settings) return std::nullopt;
  std::optional<std::string> relay = findRelay(in.launcherDir);
  if (!relay)
    fatalLaunchError(std::string("The relay that logs in to the proxy is missing (") + kRelayName +
                     " beside the launcher or in ../libexec/quillon); engine not started");
  RelayStart start = startRelay(*relay, *settings);
  if (start.channel < 0)
    fatalLaunchError("The relay that logs in to the proxy could not be started (" + start.error +
                     "); engine not started");
  pointProxyAtRelay(extra, std::to_string(start.port));
  return start;
}

}  // namespace quillon
