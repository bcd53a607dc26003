// The single fatal path of the launcher: an engine that is missing or cannot
// be spawned. It is the only output the launcher ever makes.
#pragma once

#include <string>

#include "engine/spawn.h"

namespace quillon {

// The user-facing message for a failed spawn.
std::string fatalMessage(const SpawnError& error);

// Writes "[quillon-launcher] " + message + "\n" to standard error in one
// write and ends the process with status 1.
[[noreturn]] void fatalLaunchError(const std::string& message);

}  // namespace quillon
