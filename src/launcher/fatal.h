// The single fatal path of the launcher: an engine that is missing or cannot
// be spawned. It is the only output the launcher ever makes.
#pragma once

#include <functional>
#include <string>

#include "engine/spawn.h"

namespace quillon {

// The user-facing message for a failed spawn.
std::string fatalMessage(const SpawnError& error);

// Shows the critical alert for a message and returns once it is dismissed,
// or at once when there is no display to show it on.
using FatalAlert = std::function<void(const std::string& message)>;

// The alert that fatalLaunchError shows after its line; none until set.
void setFatalAlert(FatalAlert alert);

// Writes "[quillon-launcher] " + message + "\n" to standard error in one
// write, shows the critical alert, and ends the process with status 1.
[[noreturn]] void fatalLaunchError(const std::string& message);

}  // namespace quillon
