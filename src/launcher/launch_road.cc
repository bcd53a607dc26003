#include "launcher/launch_road.h"

#include "engine/switches.h"

namespace quillon {

LaunchRoad launchRoadFor(std::string_view programPath) {
  std::string_view name = programPath.substr(programPath.find_last_of('/') + 1);
  return name == kDrivenName ? LaunchRoad::driven : LaunchRoad::launcher;
}

bool leavesOutStartPage(LaunchRoad road, EngineKind kind, const std::vector<std::string>& args) {
  if (road != LaunchRoad::driven && kind != EngineKind::chromium) return false;
  return argumentsNamePage(args);
}

}  // namespace quillon
