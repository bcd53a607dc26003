// quillon-launcher-window: the launcher's desktop companion. The static
// launcher hands it a discovery launch when there is a display (first
// arguments "--quillon-launch-from=DIR" and "--quillon-launch-config=FD",
// removed before anything else reads the arguments), and runs it with
// "--quillon-alert MESSAGE" to show the fatal alert. It never writes to
// standard output or error itself.
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include <QApplication>

#include "config/json_read.h"
#include "launcher/direct_launch.h"
#include "launcher/discovery_launch.h"
#include "launcher/fatal.h"
#include "launcher/launch_decision.h"
#include "launcher/launcher_delegate.h"
#include "launcher/startup.h"
#include "launcher/window_handoff.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "ui/critical_alert.h"
#include "ui/display_check.h"
#include "ui/qt_main_queue.h"
#include "ui/qt_progress_window.h"

namespace {

using namespace quillon;

// Qt's own arguments: never the user's, which belong to the engine.
QApplication& startQt(const std::string& platform) {
  static std::string name = kCompanionName, option = "-platform", value = platform;
  static char* argv[] = {name.data(), option.data(), value.data(), nullptr};
  static int argc = 3;
  static QApplication app(argc, argv);
  return app;
}

// The bytes of the launch configuration that the launcher read, from the
// descriptor that the argument names; the descriptor is closed, so the engine
// gets exactly the descriptors the launcher was given.
std::optional<std::string> launchConfigBytes(std::string_view argument) {
  if (!argument.starts_with(kLaunchConfigPrefix)) return std::nullopt;
  argument.remove_prefix(kLaunchConfigPrefix.size());
  int fd = -1;
  auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), fd);
  if (error != std::errc() || end != argument.data() + argument.size() || fd < 0)
    return std::nullopt;
  return takeDescriptorContent(fd, kMaxJsonFileBytes);
}

// The fatal alert of a window launch. Its line is out already: a display that
// goes away under the alert ends the launch as dismissing the alert would,
// rather than going on without a window, where nothing is left to run.
void alertOrEnd(const std::string& message) {
  continueOnDisplayLoss([] { _exit(1); });
  showCriticalAlert(message);
}

// The launch goes on without a window when the display goes away: before
// discovery has started, as a launch without a display from the start; after,
// the discovery thread carries on and its tasks run without Qt.
[[noreturn]] void runWindowLaunch(const LaunchInputs& in, const std::string& platform) {
  continueOnDisplayLoss([&in] {
    setFatalAlert(nullptr);
    runDiscoveryLaunch(in);
  });
  startQt(platform);
  setFatalAlert(alertOrEnd);
  if (!takesDiscoveryPath(in.overlay)) runDirectLaunch(in);
  static QtProgressWindow window(defaultSplashSteps(), in.launchConfig.object);
  static QtMainQueue queue;
  static LauncherDelegate delegate(in, window, queue, realDiscoverySeams());
  delegate.startLauncher();
  continueOnDisplayLoss([] {
    window.forget();
    setFatalAlert(nullptr);
    queue.runWithoutToolkit();
  });
  queue.run();
}

}  // namespace

int main(int argc, char** argv) {
  // The engine gets the environment the launcher was given; Qt changes it.
  keepEnvironment();
  silenceQtMessages();
  if (argc == 3 && argv[1] == kAlertArgument) {
    if (std::optional<std::string> platform = reachableDisplayPlatform()) {
      startQt(*platform);
      showCriticalAlert(argv[2]);
    }
    _exit(1);  // without tearing Qt down, which can hang at exit
  }
  if (argc < 3 || !std::string_view(argv[1]).starts_with(kLaunchFromPrefix)) return 2;
  std::optional<std::string> config = launchConfigBytes(argv[2]);
  if (!config) return 2;

  // The launcher's argv[0] takes the place of the two arguments it inserted.
  std::string launcherDir = argv[1] + kLaunchFromPrefix.size();
  argv[2] = argv[0];
  LaunchInputs in = startUp(argc - 2, argv + 2, launcherDir, launchConfigOf(std::move(config)));
  std::optional<std::string> platform = reachableDisplayPlatform();
  if (!platform) runDiscoveryLaunch(in);  // the display went away: no window
  runWindowLaunch(in, *platform);
}
