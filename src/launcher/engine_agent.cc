#include "launcher/engine_agent.h"

#include <unistd.h>

#include <cstring>

#include "agent/agent_start.h"
#include "launcher/fatal.h"
#include "platform/detached_helper.h"

namespace quillon {

bool launchUsesAgent(const LaunchInputs& in, const AgentValues& values) {
  return in.engineKind == EngineKind::chromium && in.road == LaunchRoad::launcher &&
         agentCarriesAny(values);
}

std::vector<std::string> agentSwitches(const LaunchInputs& in, const AgentValues& values) {
  std::vector<std::string> switches = devtoolsPipeSwitches(in.passThroughArgs);
  std::vector<std::string> relaunch = relaunchSwitches(values, in.engineBinary);
  switches.insert(switches.end(), relaunch.begin(), relaunch.end());
  return switches;
}

std::optional<EnginePipe> startEngineAgent(const LaunchInputs& in, const AgentValues& values,
                                           SwitchList& extra) {
  if (!launchUsesAgent(in, values)) return std::nullopt;
  std::optional<std::string> agent = findHelper(in.launcherDir, kAgentName);
  if (!agent)
    fatalLaunchError(std::string("The persona agent is missing (") + kAgentName +
                     " beside the launcher or in ../libexec/quillon); engine not started");
  AgentStart start = startAgent(*agent, values);
  if (start.error != 0)
    fatalLaunchError(std::string("The persona agent could not be started (") + start.step +
                     " failed (errno " + std::to_string(start.error) +
                     "): " + strerror(start.error) + "); engine not started");
  std::vector<std::string> switches = agentSwitches(in, values);
  extra.insert(extra.end(), switches.begin(), switches.end());
  return EnginePipe{start.engineCommandRead, start.engineMessageWrite, *agent};
}

void closeEnginePipe(const EnginePipe& pipe) {
  if (pipe.commandRead >= 0) close(pipe.commandRead);
  if (pipe.messageWrite >= 0) close(pipe.messageWrite);
}

}  // namespace quillon
