// quillon-persona show: what a launch of the persona would do now.
#include <ctime>

#include "persona/commands.h"
#include "persona/persona_view.h"
#include "persona/render.h"

namespace quillon {

namespace {

const char* hygieneName(HygieneSkip skip) {
  switch (skip) {
    case HygieneSkip::none:
      return "runs";
    case HygieneSkip::noUserDataDir:
      return "no user data directory";
    case HygieneSkip::profileInUse:
      return "in use";
  }
  return "runs";
}

Json showJson(const PersonaView& v) {
  Json out = Json::object();
  out["config"] = {{"path", v.inputs.launchConfigPath},
                   {"state", jsonFileStateName(v.configState)}};
  out["engine_kind"] = engineKindName(v.inputs.engineKind);
  out["engine"] = {{"path", v.inputs.engineBinary}, {"found", v.engineFound}};
  out["road"] = v.road;
  out["why"] = v.why;
  Json values = Json::object();
  for (const PersonaValue& value : v.values)
    values[value.name] = {{"source", value.source}, {"value", value.value}};
  out["values"] = values;
  out["proxy_values_from_report"] = v.proxyValuesFromReport;
  out["command_line"] = v.commandLine;
  out["environment"] = v.environment;
  out["not_carried"] = v.notCarried;
  out["agent"] = v.agent;
  out["hygiene"] = {{"state", hygieneName(v.hygiene)}, {"delete", v.hygienePaths}};
  return out;
}

std::string showText(const PersonaView& v, bool colour) {
  std::vector<Row> head = {
      {{"configuration"},
       {escapeText(v.inputs.launchConfigPath) + " (" + jsonFileStateName(v.configState) +
        (v.configState == JsonFileState::read ? "" : ": defaults") + ")"}},
      {{"engine kind"},
       {std::string(engineKindName(v.inputs.engineKind)) + " (QUILLON_ENGINE_KIND)"}},
      {{"engine"},
       {escapeText(v.inputs.engineBinary) +
            (v.engineFound
                 ? ""
                 : " (missing: a launch ends with \"Engine binary not found\", status 1)"),
        v.engineFound ? "" : "31"}},
      {{"road"}, {v.road, v.road == "refused" ? "31" : ""}},
      {{"why"}, {escapeText(v.why)}}};
  std::string out = renderTable(head, colour) + "\nvalues\n";
  std::vector<Row> values;
  for (const PersonaValue& value : v.values) {
    std::string source =
        value.source == "proxy" && v.proxyValuesFromReport ? "proxy (last report)" : value.source;
    values.push_back({{"  " + value.name},
                      {source, value.source == "proxy" ? "36" : ""},
                      {escapeText(value.value)}});
  }
  out += renderTable(values, colour) + "\ncommand line\n";
  for (const std::string& arg : v.commandLine) out += "  " + escapeText(arg) + "\n";
  if (v.agent)
    out +=
        "\npersona agent\n  quillon-launcher-agent on the DevTools pipe: the coordinates, the "
        "processor count and the locale in every page and worker; the browser names it as its own "
        "program (argv[0]), so that a relaunch from inside it starts a new agent\n";
  out += "\nenvironment changes\n";
  for (const std::string& entry : v.environment) out += "  " + escapeText(entry) + "\n";
  if (v.environment.empty()) out += "  none\n";
  out += "\nnot carried by " + std::string(engineKindName(v.inputs.engineKind)) + "\n";
  for (const std::string& name : v.notCarried) out += "  " + name + "\n";
  if (v.notCarried.empty()) out += "  none\n";
  out += "\nhygiene: ";
  if (v.hygiene == HygieneSkip::noUserDataDir) return out + "none (no --user-data-dir)\n";
  if (v.hygiene == HygieneSkip::profileInUse)
    out += paint("in use", "33", colour) + " by a running engine: skipped, nothing deleted\n";
  else
    out += v.hygienePaths.empty() ? "nothing present to delete\n" : "would delete\n";
  if (v.hygiene == HygieneSkip::none)
    for (const std::string& path : v.hygienePaths) out += "  " + escapeText(path) + "\n";
  return out;
}

}  // namespace

int runShow(const CommandOptions& options) {
  PersonaView view = viewPersona(options.programPath, options.userDataDir, std::time(nullptr));
  std::string out = options.json ? jsonLine(showJson(view)) : showText(view, options.colour);
  // A launch that would not start the engine is not a persona that works.
  bool starts = view.road != "refused" && view.engineFound;
  return finishOutput(out, starts ? kExitConsistent : kExitInconsistent);
}

}  // namespace quillon
