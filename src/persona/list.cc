// quillon-persona list: one row per profile, given directly or found one
// level below a given folder.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "config/launch_config.h"
#include "config/overlay.h"
#include "launcher/launch_decision.h"
#include "persona/commands.h"
#include "persona/last_report.h"
#include "persona/render.h"
#include "platform/paths.h"
#include "report/report_file.h"

namespace quillon {

namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool present(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A profile holds a launch configuration or a result report.
bool isProfile(const std::string& dir) {
  return present(joinPath(dir, kLaunchConfigName)) || present(joinPath(dir, kResultReportName));
}

// The profiles of one argument, in name order; false (and a line on
// standard error) when it is not a folder that can be read.
bool collectProfiles(const std::string& folder, std::vector<std::string>& profiles) {
  if (!checkFolder(folder)) return false;
  if (isProfile(folder)) {
    profiles.push_back(folder);
    return true;
  }
  std::error_code error;
  std::vector<std::string> found;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::string path = joinPath(folder, it->path().filename().string());
    if (isDirectory(path) && isProfile(path)) found.push_back(std::move(path));
  }
  if (error) {
    printError("cannot read the folder " + escapeText(folder) + ": " + error.message());
    return false;
  }
  std::sort(found.begin(), found.end());
  profiles.insert(profiles.end(), found.begin(), found.end());
  return true;
}

const char* statusColour(const std::string& status) {
  if (status == "ok") return "32";
  if (status == "blocked") return "31";
  if (status == "passthrough") return "";
  return "33";  // no report, or one that cannot be read
}

}  // namespace

int runList(const CommandOptions& options) {
  std::vector<std::string> profiles;
  bool allRead = true;
  for (const std::string& folder : options.folders) allRead &= collectProfiles(folder, profiles);

  const std::time_t now = std::time(nullptr);
  std::vector<Row> rows = {{{"PROFILE"},
                            {"CONFIG"},
                            {"PROXY"},
                            {"DISCOVERY"},
                            {"REPORT"},
                            {"IP"},
                            {"COUNTRY"},
                            {"ZONE"},
                            {"AGE"}}};
  std::string out;
  for (const std::string& profile : profiles) {
    std::string configPath = launchConfigPath(profile);
    JsonFileRead config = readJsonObjectFileChecked(configPath);
    OverlayKeys overlay = config.object ? overlayFromConfig(*config.object) : OverlayKeys{};
    LastReport report = readLastReport(profile, now);
    std::string status =
        report.state == JsonFileState::read ? report.status : jsonFileStateName(report.state);
    std::string proxy = maskedProxy(overlay.proxyServer);
    bool discovery = takesDiscoveryPath(overlay);
    if (options.json) {
      Json line = {{"profile", profile},
                   {"config", configPath},
                   {"config_state", jsonFileStateName(config.state)},
                   {"proxy", proxy},
                   {"discovery", discovery},
                   {"report", jsonFileStateName(report.state)},
                   {"status", report.status},
                   {"ip", report.ip},
                   {"country_code", report.countryCode},
                   {"timezone", report.timezone},
                   {"ts", report.timestamp}};
      line["age_s"] = report.ageSeconds ? Json(*report.ageSeconds) : Json(nullptr);
      out += jsonLine(std::move(line));
      continue;
    }
    auto shown = [](const std::string& text) { return text.empty() ? "-" : escapeText(text); };
    rows.push_back({{escapeText(profile)},
                    {config.state == JsonFileState::read && configPath.starts_with(profile) ? "read"
                     : config.state == JsonFileState::read ? "per-user"
                                                           : jsonFileStateName(config.state)},
                    {shown(proxy)},
                    {discovery ? "yes" : "no"},
                    {status, statusColour(report.state == JsonFileState::read ? status : "")},
                    {shown(report.ip)},
                    {shown(report.countryCode)},
                    {shown(report.timezone)},
                    {report.ageSeconds ? ageText(*report.ageSeconds) : "-"}});
  }
  if (!options.json) out = renderTable(rows, options.colour);
  return finishOutput(out, allRead ? kExitConsistent : kExitUsage);
}

}  // namespace quillon
