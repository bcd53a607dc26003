// What a launch of a persona would do now, gathered through the launcher's
// own code: its configuration, overlay, launch decision, switch lists,
// Chromium forms and hygiene's selection. Reads, never writes.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config/json_read.h"
#include "engine/hygiene.h"
#include "launcher/startup.h"
#include "persona/last_report.h"

namespace quillon {

// The launcher's inputs for a launch with this --user-data-dir (none: the
// per-user folder), as the launcher in programPath's directory computes them.
LaunchInputs personaInputs(const std::string& programPath,
                           const std::optional<std::string>& userDataDir);

struct PersonaValue {
  std::string name;    // the configuration key
  std::string source;  // "stated", "proxy", "machine", "default" or "unset"
  std::string value;   // the value, the proxy's password masked ("" when unset)
};

struct PersonaView {
  LaunchInputs inputs;
  JsonFileState configState = JsonFileState::missing;
  bool engineFound = false;  // as the spawn checks it; else a launch ends at the fatal line
  std::string road;          // "direct", "discovery" or "refused"
  std::string why;
  std::vector<PersonaValue> values;
  // Values from the proxy come from the last "ok" result report when there
  // is one, else they are shown as "<proxy ...>".
  bool proxyValuesFromReport = false;
  LastReport lastReport;
  std::vector<std::string> commandLine;  // the engine's whole argument vector
  std::vector<std::string> environment;  // "NAME=value" changes
  std::vector<std::string> notCarried;   // values the engine kind ignores
  bool agent = false;                    // the persona agent holds the DevTools pipe
  HygieneSkip hygiene = HygieneSkip::none;
  std::vector<std::string> hygienePaths;  // present items hygiene would delete
};

PersonaView viewPersona(const std::string& programPath,
                        const std::optional<std::string>& userDataDir, std::time_t now);

const char* engineKindName(EngineKind kind);

}  // namespace quillon
