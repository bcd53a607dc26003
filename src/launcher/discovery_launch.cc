#include "launcher/discovery_launch.h"

#include <chrono>
#include <thread>

#include "discovery/probe.h"
#include "launcher/launcher_delegate.h"
#include "launcher/thread_main_queue.h"
#include "ui/headless_window.h"

namespace quillon {

namespace {

DiscoverySeams realSeams() {
  DiscoverySeams seams;
  seams.probe = [](const std::string& proxyServer, const std::string& endpointURL) {
    return probeEgress(proxyServer, endpointURL);
  };
  seams.pause = [](double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  };
  return seams;
}

}  // namespace

void runDiscoveryLaunch(const LaunchInputs& in) {
  // Without a display nothing is drawn, and discovery runs unpaced.
  static HeadlessWindow window;
  static ThreadMainQueue queue;
  static LauncherDelegate delegate(in, window, queue, realSeams());
  delegate.startLauncher();
  queue.run();
}

}  // namespace quillon
