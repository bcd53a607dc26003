// WebGL profiles: named sets of engine switches kept in the shipped file
// "quillon-webgl-profiles.json"; a persona names one of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/json_read.h"

namespace quillon {

inline constexpr const char* kWebglProfilesName = "quillon-webgl-profiles.json";

// The installed file (<launcher dir>/../share/quillon/), else the one beside
// the program path; none when neither exists.
std::optional<std::string> locateWebglProfiles(const std::string& launcherDir,
                                               const std::string& programPath);

// The switches of the named profile in a parsed profiles file.
std::vector<std::string> webglSwitchesOf(const Json& file, const std::string& profileName);

// "--name=value" for every member of the named profile, in file order.
// Members whose name begins with "_" are comments; null and empty values are
// skipped; numbers, nested ones included, print in plain decimal notation
// (8.0 gives 8). Any problem gives fewer or no switches, never an error.
std::vector<std::string> webglProfileSwitches(const std::string& profileName,
                                              const std::optional<std::string>& profilesPath);

}  // namespace quillon
