// quillon-launcher: starts the browser engine with the persona of the launch
// configuration. Prints nothing unless the engine cannot be started.
#include "launcher/direct_launch.h"
#include "launcher/discovery_launch.h"
#include "launcher/fatal.h"
#include "launcher/launch_decision.h"
#include "launcher/startup.h"

int main(int argc, char** argv) {
  quillon::LaunchInputs in = quillon::startUp(argc, argv);
  if (auto refusal = quillon::launchRefusal(in)) quillon::fatalLaunchError(*refusal);
  if (quillon::takesDiscoveryPath(in.overlay)) quillon::runDiscoveryLaunch(in);
  quillon::runDirectLaunch(in);
}
