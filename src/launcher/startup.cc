#include "launcher/startup.h"

#include "config/launch_config.h"
#include "launcher/engine_location.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace quillon {

LaunchInputs startUp(int argc, char** argv) {
  return startUp(argc, argv, launcherDirectory());
}

LaunchInputs startUp(int argc, char** argv, const std::string& launcherDir) {
  LaunchInputs in;
  in.programPath = argc > 0 && argv[0] ? argv[0] : "";
  in.launcherDir = launcherDir;
  in.engineBinary = locateEngine(environmentValue("QUILLON_ENGINE_BIN"), in.launcherDir);
  in.engineKind = engineKindFromName(environmentValue("QUILLON_ENGINE_KIND"));
  for (int i = 1; i < argc; ++i) in.passThroughArgs.emplace_back(argv[i]);
  in.userDataDir = userDataDirFromArgs(in.passThroughArgs);
  in.launchConfigPath = launchConfigPath(in.userDataDir);
  in.overlay = loadOverlay(in.launchConfigPath);
  return in;
}

std::optional<std::string> launchRefusal(const LaunchInputs& in) {
  if (in.engineKind == EngineKind::unknown)
    return "Unknown QUILLON_ENGINE_KIND (expected quillon or chromium); engine not started";
  if (in.engineKind == EngineKind::chromium) return chromiumRefusal(in.overlay);
  return std::nullopt;
}

}  // namespace quillon
