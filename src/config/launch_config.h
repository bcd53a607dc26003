// Finding the launch configuration, "command-line.json": in the user data
// directory named by the first --user-data-dir= argument, else in the
// per-user application folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/json_read.h"

namespace quillon {

inline constexpr const char* kLaunchConfigName = "command-line.json";

// The value of the first argument that begins with "--user-data-dir=".
std::optional<std::string> userDataDirFromArgs(const std::vector<std::string>& args);

// The launch configuration file to read for this user data directory.
std::string launchConfigPath(const std::optional<std::string>& userDataDir);

// The launch configuration as read, once per launch: the file's bytes (none
// when it could not be read) and its top-level object (none when the bytes
// are not a JSON object). The overlay and the progress window's summary both
// come from it, and the desktop companion gets these same bytes.
struct LaunchConfig {
  std::optional<std::string> bytes;
  std::optional<Json> object;
};

// The configuration of bytes that were read elsewhere.
LaunchConfig launchConfigOf(std::optional<std::string> bytes);

// Reads the file at path: a regular file of at most kMaxJsonFileBytes.
LaunchConfig readLaunchConfig(const std::string& path);

}  // namespace quillon
