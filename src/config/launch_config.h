// Finding the launch configuration, "command-line.json": in the user data
// directory named by the first --user-data-dir= argument, else in the
// per-user application folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon {

inline constexpr const char* kLaunchConfigName = "command-line.json";

// The value of the first argument that begins with "--user-data-dir=".
std::optional<std::string> userDataDirFromArgs(const std::vector<std::string>& args);

// The launch configuration file to read for this user data directory.
std::string launchConfigPath(const std::optional<std::string>& userDataDir);

}  // namespace quillon
