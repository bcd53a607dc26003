#include "engine/webgl_profile.h"

#include "platform/files.h"
#include "platform/paths.h"

namespace quillon {

namespace {

// Compact JSON text as the platform's serialiser writes it: numbers as
// numberText gives them, a solidus escaped.
void appendCompact(std::string& out, const Json& value) {
  if (value.is_number()) {
    out += numberText(value);
  } else if (value.is_string()) {
    for (char c : value.dump()) {
      if (c == '/') out += '\\';
      out += c;
    }
  } else if (value.is_array() || value.is_object()) {
    out += value.is_array() ? '[' : '{';
    bool first = true;
    for (const auto& [name, member] : value.items()) {
      if (!first) out += ',';
      first = false;
      if (value.is_object()) {
        appendCompact(out, Json(name));
        out += ':';
      }
      appendCompact(out, member);
    }
    out += value.is_array() ? ']' : '}';
  } else {
    out += value.dump();  // true, false, null
  }
}

// A profile member's value as switch text ("" when it yields no switch).
std::string webglSwitchValue(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (value.is_number()) return numberText(value);
  if (value.is_array() || value.is_object()) {
    std::string text;
    appendCompact(text, value);
    return text;
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

std::vector<std::string> webglSwitchesOf(const Json& file, const std::string& profileName) {
  std::vector<std::string> switches;
  if (!file.is_object()) return switches;
  auto profiles = file.find("profiles");
  if (profiles == file.end() || !profiles->is_object()) return switches;
  auto profile = profiles->find(profileName);
  if (profile == profiles->end() || !profile->is_object()) return switches;
  for (const auto& [name, value] : profile->items()) {
    if (name.starts_with("_")) continue;
    std::string text = webglSwitchValue(value);
    if (!text.empty()) switches.push_back("--" + name + "=" + text);
  }
  return switches;
}

std::vector<std::string> webglProfileSwitches(const std::string& profileName,
                                              const std::optional<std::string>& profilesPath) {
  if (profileName.empty() || !profilesPath) return {};
  std::optional<Json> file = readJsonObjectFile(*profilesPath);
  return file ? webglSwitchesOf(*file, profileName) : std::vector<std::string>{};
}

}  // namespace quillon
