#include "engine/webgl_profile.h"

#include <cmath>

#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

namespace {

// A profile member's value as switch text ("" when it yields no switch).
std::string webglSwitchValue(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (value.is_number_float()) {
    double number = value.get<double>();
    // Whole numbers print without a fraction: 8.0 gives "8".
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e15)
      return std::to_string(static_cast<long long>(number));
    return value.dump();
  }
  if (value.is_number()) return value.dump();
  if (value.is_array() || value.is_object()) {
    std::string compact = value.dump();
    std::string escaped;
    escaped.reserve(compact.size());
    for (char c : compact) {
      // A solidus can only occur inside a string; it is written escaped.
      if (c == '/') escaped += '\\';
      escaped += c;
    }
    return escaped;
  }
  return "";
}

}  // namespace

std::optional<std::string> locateWebglProfiles(const std::string& launcherDir,
                                               const std::string& programPath) {
  if (!launcherDir.empty()) {
    std::string installed =
        joinPath(launcherDir, std::string("../share/quillon/") + kWebglProfilesName);
    if (pathExists(installed)) return installed;
  }
  std::string beside = joinPath(parentPath(programPath), kWebglProfilesName);
  if (pathExists(beside)) return beside;
  return std::nullopt;
}

std::vector<std::string> webglProfileSwitches(const std::string& profileName,
                                              const std::optional<std::string>& profilesPath) {
  std::vector<std::string> switches;
  if (profileName.empty() || !profilesPath) return switches;
  std::optional<Json> file = readJsonObjectFile(*profilesPath);
  if (!file) return switches;
  auto profiles = file->find("profiles");
  if (profiles == file->end() || !profiles->is_object()) return switches;
  auto profile = profiles->find(profileName);
  if (profile == profiles->end() || !profile->is_object()) return switches;
  for (const auto& [name, value] : profile->items()) {
    if (name.starts_with("_")) continue;
    std::string text = webglSwitchValue(value);
    if (!text.empty()) switches.push_back("--" + name + "=" + text);
  }
  return switches;
}

}  // namespace quillon
