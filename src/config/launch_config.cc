#include "config/launch_config.h"

#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

std::optional<std::string> userDataDirFromArgs(const std::vector<std::string>& args) {
  static constexpr std::string_view kPrefix = "--user-data-dir=";
  for (const std::string& arg : args) {
    if (arg.starts_with(kPrefix)) return arg.substr(kPrefix.size());
  }
  return std::nullopt;
}

std::string launchConfigPath(const std::optional<std::string>& userDataDir) {
  if (userDataDir) {
    std::string candidate = joinPath(*userDataDir, kLaunchConfigName);
    if (pathExists(candidate)) return candidate;
  }
  return joinPath(appSupportDirectory(), kLaunchConfigName);
}

}  // namespace quillon
