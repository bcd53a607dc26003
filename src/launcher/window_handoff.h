// The desktop companion, quillon-launcher-window: the launcher is a static
// executable and cannot load Qt, so a discovery launch with a display is
// handed over to the companion, which draws the progress window, and the
// fatal alert is shown by it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/launch_config.h"

namespace quillon {

inline constexpr const char* kCompanionName = "quillon-launcher-window";

// The companion's first argument for a launch: this prefix and the
// launcher's directory. The companion removes it before anything else reads
// the arguments, so the engine never sees it.
inline constexpr std::string_view kLaunchFromPrefix = "--quillon-launch-from=";

// The companion's second argument for a launch: this prefix and the number
// of an inherited descriptor that holds the launch configuration's bytes as
// the launcher read them. The companion reads it and closes it before
// anything else, and never reads the configuration file itself: a file
// changed after the launcher's read cannot change the launch.
inline constexpr std::string_view kLaunchConfigPrefix = "--quillon-launch-config=";

// The companion's first argument for the alert; the message follows.
inline constexpr std::string_view kAlertArgument = "--quillon-alert";

// DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool hasDisplayEnvironment();

// The companion in <launcherDir>/../libexec/quillon/ (installed) or beside
// the launcher (build tree); none when neither is an executable file.
std::optional<std::string> findCompanion(const std::string& launcherDir);

// The companion's argument vector for a launch: the launcher's own argv[0]
// ("" when there was none), the launch-from and launch-config arguments, then
// the rest of argv.
std::vector<std::string> handOffArguments(int argc, char** argv, const std::string& launcherDir,
                                          int configFd);

// Replaces this process by the companion with those arguments and the same
// environment; descriptors, signal mask and ignored signals carry over, and
// one more descriptor holds the configuration's bytes (in memory, never on
// disk or on a command line). Returns only when the companion could not be
// started, with nothing left open.
void handOffToCompanion(const std::string& companion, int argc, char** argv,
                        const std::string& launcherDir, const LaunchConfig& config);

// The fatal alert shown by the companion: runs it and waits until the user
// has dismissed the alert. Nothing happens without a display environment or
// a companion.
void alertThroughCompanion(const std::string& launcherDir, const std::string& message);

}  // namespace quillon
