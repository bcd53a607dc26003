#include "launcher/engine_relay.h"

#include "launcher/fatal.h"
#include "launcher/running_browser.h"
#include "platform/detached_helper.h"

namespace quillon {

bool launchUsesRelay(const LaunchInputs& in) {
  return in.engineKind == EngineKind::chromium && relaySettingsFor(in.overlay.proxyServer);
}

void pointProxyAtRelay(SwitchList& extra, const std::string& port) {
  for (std::string& entry : extra)
    if (entry.starts_with("--proxy-server=")) entry = relayProxySwitch(port);
}

std::optional<RelayStart> startEngineRelay(const LaunchInputs& in, SwitchList& extra) {
  if (in.engineKind != EngineKind::chromium) return std::nullopt;
  // Checked again here, just before the engine starts: a browser may have
  // started on the profile since the launch began.
  RunningBrowser running = runningBrowser(in);
  if (running.found && !running.persona) fatalLaunchError(kRunningBrowserRefusal);
  bool freshProfile = !running.found && in.userDataDir && !in.userDataDir->empty();
  std::optional<RelaySettings> settings = relaySettingsFor(in.overlay.proxyServer);
  if (!settings) {
    if (freshProfile) forgetRelay(*in.userDataDir);
    return std::nullopt;
  }
  if (running.relayPort) {  // the running browser's relay carries this persona already
    pointProxyAtRelay(extra, std::to_string(running.relayPort));
    return std::nullopt;
  }
  std::optional<std::string> relay = findHelper(in.launcherDir, kRelayName);
  if (!relay)
    fatalLaunchError(std::string("The relay that logs in to the proxy is missing (") + kRelayName +
                     " beside the launcher or in ../libexec/quillon); engine not started");
  RelayStart start = startRelay(*relay, *settings);
  if (start.channel < 0)
    fatalLaunchError("The relay that logs in to the proxy could not be started (" + start.error +
                     "); engine not started");
  pointProxyAtRelay(extra, std::to_string(start.port));
  if (freshProfile) recordRelay(*in.userDataDir, *settings, start.port);
  return start;
}

}  // namespace quillon
