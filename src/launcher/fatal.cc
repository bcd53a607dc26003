#include "launcher/fatal.h"

#include <unistd.h>

#include <csignal>

#include "platform/files.h"

namespace quillon {

namespace {

FatalAlert& fatalAlert() {
  static FatalAlert alert;
  return alert;
}

}  // namespace

void setFatalAlert(FatalAlert alert) {
  fatalAlert() = std::move(alert);
}

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
  if (fatalAlert()) fatalAlert()(message);
  // No destructors: a toolkit torn down at exit can hang, and the discovery
  // thread may still be running.
  _exit(1);
}

}  // namespace quillon
