// The launcher's process-wide values, computed once at start-up.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/launch_config.h"
#include "config/overlay.h"
#include "engine/chromium_persona.h"
#include "launcher/launch_road.h"

namespace quillon {

struct LaunchInputs {
  std::string programPath;                   // argv[0], or "" when there is none
  std::string launcherDir;                   // directory of the running executable
  std::string engineBinary;                  // not checked until the spawn
  std::vector<std::string> passThroughArgs;  // argv[1..], unchanged
  std::optional<std::string> userDataDir;
  std::string launchConfigPath;                 // "" in the companion, which reads no file
  LaunchConfig launchConfig;                    // read once, by the launcher
  OverlayKeys overlay;                          // of launchConfig
  EngineKind engineKind = EngineKind::quillon;  // QUILLON_ENGINE_KIND
  LaunchRoad road = LaunchRoad::launcher;       // by the name in programPath
};

LaunchInputs startUp(int argc, char** argv);

// The same for a process that runs on the launcher's behalf from elsewhere
// (the desktop companion): the launcher's directory and the launch
// configuration it read are given, and no file is read again.
LaunchInputs startUp(int argc, char** argv, const std::string& launcherDir, LaunchConfig config);

}  // namespace quillon
