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

// "--name=value" for every member of the named profile, in file order.
// Members whose name begins with "_" are comments; null and empty values are
// skipped. Any problem gives fewer or no switches, never an error.
std::vector<std::string> webglProfileSwitches(const std::string& profileName,
                                              const std::optional<std::string>& profilesPath);

}  // namespace quillon
