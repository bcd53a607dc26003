#include "ui/display_check.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QtGlobal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <xcb/xcb.h>

#include "platform/paths.h"
#include "platform/process_info.h"

namespace quillon {

namespace {

bool isSet(const std::optional<std::string>& value) {
  return value && !value->empty();
}

bool xServerAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  bool ok = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return ok;
}

// Connects to the compositor's socket: WAYLAND_DISPLAY as an absolute path,
// or a name in XDG_RUNTIME_DIR.
bool compositorAnswers(const std::string& display) {
  std::string path = display;
  if (!path.starts_with('/')) {
    std::optional<std::string> runtime = environmentValue("XDG_RUNTIME_DIR");
    if (!isSet(runtime)) return false;
    path = joinPath(*runtime, display);
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// Qt ends the process when the platform's plugin is missing.
bool hasPlatformPlugin(const char* name) {
  std::string plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString();
  std::error_code ignored;
  return std::filesystem::exists(plugins + "/platforms/" + name, ignored);
}

std::mutex continuationMutex;
std::function<void()> continuation;  // taken once, under the mutex
bool continuing = false;

void continueWithoutDisplay() {
  std::function<void()> next;
  bool elsewhere = false;
  {
    std::lock_guard<std::mutex> lock(continuationMutex);
    elsewhere = continuing;
    next.swap(continuation);
    continuing = continuing || next;
  }
  // A launch that already goes on elsewhere ends the process itself.
  while (elsewhere) pause();
  if (next) next();
}

void ignorePipeSignal(int) {}

// A write to the X connection that the server has just closed raises SIGPIPE,
// whose default action ends the process silently; with a handler the write
// fails with EPIPE instead and Qt meets the loss as above. A handler, not
// SIG_IGN: exec resets it, so children get SIGPIPE's default back, and one
// that the process was given ignored stays ignored.
void surviveWritesToALostDisplay() {
  struct sigaction current = {};
  if (sigaction(SIGPIPE, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction handler = {};
  handler.sa_handler = ignorePipeSignal;
  handler.sa_flags = SA_RESTART;
  sigemptyset(&handler.sa_mask);
  sigaction(SIGPIPE, &handler, nullptr);
}

void dropMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg || message.startsWith(QLatin1String("The X11 connection broke")))
    continueWithoutDisplay();
}

}  // namespace

std::optional<std::string> reachableDisplayPlatform() {
  if (isSet(environmentValue("DISPLAY")) && hasPlatformPlugin("libqxcb.so") && xServerAnswers())
    return "xcb";
  std::optional<std::string> wayland = environmentValue("WAYLAND_DISPLAY");
  if (isSet(wayland) && hasPlatformPlugin("libqwayland-generic.so") && compositorAnswers(*wayland))
    return "wayland";
  return std::nullopt;
}

void silenceQtMessages() {
  qInstallMessageHandler(dropMessage);
}

void continueOnDisplayLoss(std::function<void()> next) {
  {
    std::lock_guard<std::mutex> lock(continuationMutex);
    continuation = std::move(next);
  }
  // Runs before the destructors of everything built so far.
  std::atexit(continueWithoutDisplay);
  surviveWritesToALostDisplay();
}

}  // namespace quillon
