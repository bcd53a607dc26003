#include "launcher/direct_launch.h"

#include <cstdlib>

#include "engine/hygiene.h"
#include "engine/spawn.h"
#include "engine/webgl_profile.h"
#include "launcher/fatal.h"
#include "report/result_report.h"

namespace quillon {

void runProfileHygiene(const OverlayKeys& overlay, const std::optional<std::string>& userDataDir) {
  if (!userDataDir || userDataDir->empty() || profileInUse(*userDataDir)) return;
  if (overlay.closePreviousTabs) clearPreviousTabs(*userDataDir);
  if (!overlay.granularStorageReset.empty())
    resetGranularStorage(*userDataDir, overlay.granularStorageReset);
}

std::vector<std::string> applyEngineKind(EngineKind kind, const OverlayKeys& overlay,
                                         const ResolvedPersona& resolved, SwitchList& extra) {
  if (kind != EngineKind::chromium) return {};
  ChromiumPersona persona = chromiumPersona(overlay, resolved);
  extra.insert(extra.end(), persona.switches.begin(), persona.switches.end());
  return persona.environment;
}

void runDirectLaunch(const LaunchInputs& in) {
  runProfileHygiene(in.overlay, in.userDataDir);

  std::vector<std::string> webgl;
  if (!in.overlay.webglProfile.empty())
    webgl = webglProfileSwitches(in.overlay.webglProfile,
                                 locateWebglProfiles(in.launcherDir, in.programPath));
  SwitchList extra = directSwitchList(in.overlay, webgl, currentMachineFacts());
  std::vector<std::string> environment =
      applyEngineKind(in.engineKind, in.overlay, ResolvedPersona{}, extra);

  ResultReport report;
  report.status = "passthrough";
  writeReportFile(report, resultReportPath(in.userDataDir));

  try {
    spawnEngine(in.engineBinary, in.passThroughArgs, extra, environment);
  } catch (const SpawnError& error) {
    fatalLaunchError(fatalMessage(error));
  }
  exit(0);
}

}  // namespace quillon
