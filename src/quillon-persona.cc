// quillon-persona: what a persona will do at launch, and whether its proxy
// still fits it. Changes nothing.
#include <string_view>

#include "persona/commands.h"
#include "persona/render.h"

namespace {

constexpr const char* kHelp = R"(Usage: quillon-persona [--json] show [--user-data-dir=DIR]
       quillon-persona [--json] probe [--user-data-dir=DIR]
       quillon-persona [--json] list DIR...

Tells what quillon-launcher would do with a persona, through the launcher's own
code, and never changes anything: no report is written, nothing is deleted.

  show    the launch configuration read and its state, every persona value
          (stated, from the proxy, or unset), the road the launch takes and
          why, the engine's command line and environment changes for the
          QUILLON_ENGINE_KIND in force, the values that engine cannot carry,
          and the paths hygiene would delete
  probe   the launcher's probe through the persona's proxy: egress IP,
          country, time zone, coordinates, the languages a launch would
          choose, and a verdict (time zone of the egress country per tzdata's
          zone1970.tab, language as a note, drift since the last report)
  list    one row per profile (a folder holding command-line.json or a result
          report), given directly or found one level below each DIR

  --json  one JSON object (one per line and profile for list)
  --help  this text

Exit status: 0 consistent (or done); 1 the output could not be written;
2 usage error or a DIR that is missing or not a folder; 3 inconsistent (one
line per reason), or for show a launch that would not start the engine
(refused, or the engine missing); 4 the probe failed.
Colour only on a terminal with NO_COLOR unset or empty.
)";

int usage(const std::string& message) {
  quillon::printError(message + " (see quillon-persona --help)");
  return quillon::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  quillon::CommandOptions options;
  options.programPath = argc > 0 && argv[0] ? argv[0] : "";
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return quillon::finishOutput(kHelp, 0);
    if (arg == "--json") {
      options.json = true;
    } else if (command.empty() && !arg.starts_with("-")) {
      command = arg;
      if (command != "show" && command != "probe" && command != "list")
        return usage("unknown command: " + quillon::escapeText(arg));
    } else if (command == "list" && !arg.starts_with("-")) {
      options.folders.emplace_back(arg);
    } else if ((command == "show" || command == "probe") && arg.starts_with("--user-data-dir=")) {
      options.userDataDir = std::string(arg.substr(16));
    } else {
      return usage("unexpected argument: " + quillon::escapeText(arg));
    }
  }
  if (command.empty()) return usage("no command given");
  if (command == "list" && options.folders.empty()) return usage("list needs a folder");
  // A launch creates a missing user data directory, but a persona is checked
  // before its folder is gone or mistyped: either is a mistake here.
  if (options.userDataDir && !quillon::checkFolder(*options.userDataDir))
    return quillon::kExitUsage;
  options.colour = !options.json && quillon::colourWanted();
  if (command == "show") return quillon::runShow(options);
  if (command == "probe") return quillon::runProbe(options);
  return quillon::runList(options);
}
