// quillon-launcher: starts the browser engine with the persona of the launch
// configuration. Prints nothing unless the engine cannot be started.
#include "launcher/direct_launch.h"
#include "launcher/discovery_launch.h"
#include "launcher/fatal.h"
#include "launcher/launch_decision.h"
#include "launcher/startup.h"
#include "launcher/window_handoff.h"

int main(int argc, char** argv) {
  quillon::LaunchInputs in = quillon::startUp(argc, argv);
  // The critical alert needs Qt, which only the desktop companion loads.
  quillon::setFatalAlert([&in](const std::string& message) {
    quillon::alertThroughCompanion(in.launcherDir, message);
  });
  if (auto refusal = quillon::launchRefusal(in)) quillon::fatalLaunchError(*refusal);
  if (quillon::takesDiscoveryPath(in.overlay)) {
    // With a display the companion runs the launch and shows the progress
    // window; it finds the engine from this launcher's directory.
    if (quillon::hasDisplayEnvironment()) {
      if (std::optional<std::string> companion = quillon::findCompanion(in.launcherDir))
        quillon::handOffToCompanion(*companion, argc, argv, in.launcherDir, in.launchConfig);
    }
    quillon::runDiscoveryLaunch(in);
  }
  quillon::runDirectLaunch(in);
}
