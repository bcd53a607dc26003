#include "launcher/fatal.h"

#include <csignal>
#include <cstdlib>

#include "platform/files.h"

namespace quillon {

std::string fatalMessage(const SpawnError& error) {
  if (error.kind() == SpawnError::Kind::engineMissing)
    return "Engine binary not found:\n" + error.enginePath();
  return "Engine spawn failed: " + error.description();
}

void fatalLaunchError(const std::string& message) {
  // Standard error may be a pipe that nobody reads any more; the line is then
  // lost, but the launcher must still end with status 1, not by SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  writeStandardError("[quillon-launcher] " + message + "\n");
  // Where a display and the window module are available, the critical alert
  // is shown here before exiting; without them the line is the whole report.
  exit(1);
}

}  // namespace quillon
