#include "launcher/startup.h"

#include "config/launch_config.h"
#include "launcher/engine_location.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace quillon {

namespace {

// Everything but the launch configuration.
LaunchInputs launchInputs(int argc, char** argv, const std::string& launcherDir) {
  LaunchInputs in;
  in.programPath = argc > 0 && argv[0] ? argv[0] : "";
  in.road = launchRoadFor(in.programPath);
  in.launcherDir = launcherDir;
  in.engineBinary = locateEngine(environmentValue("QUILLON_ENGINE_BIN"), in.launcherDir);
  in.engineKind = engineKindFromName(environmentValue("QUILLON_ENGINE_KIND"));
  for (int i = 1; i < argc; ++i) in.passThroughArgs.emplace_back(argv[i]);
  in.userDataDir = userDataDirFromArgs(in.passThroughArgs);
  return in;
}

void takeConfig(LaunchInputs& in, LaunchConfig config) {
  in.launchConfig = std::move(config);
  if (in.launchConfig.object) in.overlay = overlayFromConfig(*in.launchConfig.object);
}

}  // namespace

LaunchInputs startUp(int argc, char** argv) {
  LaunchInputs in = launchInputs(argc, argv, launcherDirectory());
  in.launchConfigPath = launchConfigPath(in.userDataDir);
  takeConfig(in, readLaunchConfig(in.launchConfigPath));
  return in;
}

LaunchInputs startUp(int argc, char** argv, const std::string& launcherDir, LaunchConfig config) {
  LaunchInputs in = launchInputs(argc, argv, launcherDir);
  takeConfig(in, std::move(config));
  return in;
}

}  // namespace quillon
