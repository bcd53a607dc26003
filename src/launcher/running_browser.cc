#include "launcher/running_browser.h"

#include <unistd.h>

#include "config/json_read.h"
#include "engine/chromium_persona.h"
#include "engine/hygiene.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_table.h"
#include "platform/socket_owner.h"
#include "relay/handover.h"

namespace quillon {

namespace {

// The proxy the relay logs in to, without its password.
Json relayIdentity(const RelaySettings& settings) {
  return {{"kind", settings.kind == UpstreamKind::socks5 ? "socks5" : "http"},
          {"host", settings.host},
          {"port", settings.port},
          {"user", settings.user}};
}

// The port of this persona's relay as the launch that started the browser
// recorded it, when a socket of this user still listens there.
int servingRelayPort(const std::string& userDataDir, const RelaySettings& settings) {
  std::optional<Json> record = readJsonObjectFile(joinPath(userDataDir, kRelayRecordName));
  if (!record || !record->contains("port") || !(*record)["port"].is_number_integer() ||
      (*record)["proxy"] != relayIdentity(settings))
    return 0;
  int port = (*record)["port"].get<int>();
  return port > 0 && port < 65536 && loopbackListenerOwner(port) == geteuid() ? port : 0;
}

}  // namespace

std::string proxySwitchesOf(const std::vector<std::string>& arguments) {
  std::string switches;
  for (std::string_view name : {"proxy-server", "proxy-pac-url", "proxy-auto-detect",
                                "no-proxy-server", "proxy-bypass-list"})
    if (std::optional<std::string> value = chromiumSwitchValue(arguments, name))
      switches.append("--").append(name).append("=").append(*value).append("\n");
  return switches;
}

RunningBrowser runningBrowser(const LaunchInputs& in) {
  RunningBrowser running;
  if (in.engineKind != EngineKind::chromium || !in.userDataDir || in.userDataDir->empty())
    return running;
  std::optional<long> pid = profileEnginePid(*in.userDataDir);
  if (!pid) return running;
  running.found = true;
  std::optional<std::string> commandLine = processCommandLine(*pid);
  if (!commandLine || processUser(*pid) != geteuid()) return running;

  std::vector<std::string> expected = in.passThroughArgs;
  if (!in.overlay.proxyServer.empty())
    expected.push_back("--proxy-server=" + chromiumProxyServer(in.overlay.proxyServer));
  if (std::optional<RelaySettings> settings = relaySettingsFor(in.overlay.proxyServer)) {
    running.relayPort = servingRelayPort(*in.userDataDir, *settings);
    if (!running.relayPort) return running;
    expected.back() = relayProxySwitch(std::to_string(running.relayPort));
  }
  running.persona =
      proxySwitchesOf(commandLineArguments(*commandLine)) == proxySwitchesOf(expected);
  if (!running.persona) running.relayPort = 0;
  return running;
}

void recordRelay(const std::string& userDataDir, const RelaySettings& settings, int port) {
  std::string path = joinPath(userDataDir, kRelayRecordName);
  std::string fresh = path + ".quillon-new";
  Json record = {{"proxy", relayIdentity(settings)}, {"port", port}};
  try {
    if (writeNewFile(fresh, record.dump()) && replaceWithFile(fresh, path)) return;
  } catch (const Json::exception&) {
    // A host or user that is not UTF-8: no record, so no later launch hands over to it.
  }
  unlink(fresh.c_str());
  unlink(path.c_str());
}

void forgetRelay(const std::string& userDataDir) {
  unlink(joinPath(userDataDir, kRelayRecordName).c_str());
}

}  // namespace quillon
