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

LaunchConfig launchConfigOf(std::optional<std::string> bytes) {
  LaunchConfig config{std::move(bytes), std::nullopt};
  if (config.bytes) config.object = parseJson(*config.bytes);
  if (config.object && !config.object->is_object()) config.object.reset();
  return config;
}

LaunchConfig readLaunchConfig(const std::string& path) {
  return launchConfigOf(readRegularFile(path, kMaxJsonFileBytes));
}

}  // namespace quillon
