#include "launcher/direct_launch.h"

#include <unistd.h>

#include "engine/hygiene.h"
#include "engine/spawn.h"
#include "engine/webgl_profile.h"
#include "launcher/engine_agent.h"
#include "launcher/engine_relay.h"
#include "launcher/fatal.h"
#include "report/result_report.h"

namespace quillon {

void runProfileHygiene(const OverlayKeys& overlay, const std::optional<std::string>& userDataDir) {
  if (hygieneSkip(userDataDir) != HygieneSkip::none) return;
  for (const std::string& item :
       hygieneItems(overlay.closePreviousTabs, overlay.granularStorageReset))
    removeQuietly(*userDataDir, item);
}

std::vector<std::string> applyEngineKind(EngineKind kind, const OverlayKeys& overlay,
                                         const ResolvedPersona& resolved, SwitchList& extra) {
  if (kind != EngineKind::chromium) return {};
  ChromiumPersona persona = chromiumPersona(overlay, resolved);
  extra.insert(extra.end(), persona.switches.begin(), persona.switches.end());
  return persona.environment;
}

SwitchList webglSwitches(const LaunchInputs& in) {
  if (in.overlay.webglProfile.empty()) return {};
  return webglProfileSwitches(in.overlay.webglProfile,
                              locateWebglProfiles(in.launcherDir, in.programPath));
}

void startEngine(const LaunchInputs& in, const ResolvedPersona& resolved, SwitchList extra) {
  if (leavesOutStartPage(in.road, in.engineKind, in.passThroughArgs)) extra.pop_back();
  std::vector<std::string> environment =
      applyEngineKind(in.engineKind, in.overlay, resolved, extra);
  ChromiumPersona persona;
  if (in.engineKind == EngineKind::chromium) persona = chromiumPersona(in.overlay, resolved);
  // Only a launch touches the profile's settings; a preview of the command
  // line never does.
  if (in.engineKind == EngineKind::chromium && in.userDataDir)
    applyPersonaSettings(*in.userDataDir, persona.settings);
  std::optional<RelayStart> relay = startEngineRelay(in, extra);
  std::optional<EnginePipe> pipe = startEngineAgent(in, persona.agent, extra);
  try {
    if (in.road == LaunchRoad::driven) {
      // This process becomes the engine, so the relay watches this process.
      if (relay) handEngineToRelay(*relay, getpid());
      execEngine(in.engineBinary, in.passThroughArgs, extra, environment);
    }
    int pid = spawnEngine(in.engineBinary, in.passThroughArgs, extra, environment,
                          pipe.value_or(EnginePipe{}));
    if (pipe) closeEnginePipe(*pipe);
    if (relay) handEngineToRelay(*relay, pid);
  } catch (const SpawnError& error) {
    if (pipe) closeEnginePipe(*pipe);  // ends the agent
    fatalLaunchError(fatalMessage(error));
  }
  // Every report is on disk; nothing buffered is left to flush.
  _exit(0);
}

void runDirectLaunch(const LaunchInputs& in) {
  runProfileHygiene(in.overlay, in.userDataDir);
  SwitchList extra = directSwitchList(in.overlay, webglSwitches(in), currentMachineFacts());
  ResultReport report;
  report.status = "passthrough";
  writeReportFile(report, resultReportPath(in.userDataDir));
  startEngine(in, ResolvedPersona{}, std::move(extra));
}

}  // namespace quillon
