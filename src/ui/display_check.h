// Whether this process can open a window, decided before Qt is started: Qt
// ends the process with its own message when its display cannot be opened,
// and the launch must then go on without a window, silently.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillon {

// The Qt platform that reaches a display answering now: "xcb" when the X
// server of DISPLAY accepts a connection, else "wayland" when the compositor
// of WAYLAND_DISPLAY accepts one; each only when Qt has its plugin. None
// otherwise.
std::optional<std::string> reachableDisplayPlatform();

// Installs a Qt message handler that drops every message: nothing of Qt's
// reaches standard error.
void silenceQtMessages();

// What the process does instead of ending when its display goes away under
// Qt (the X server gone, or the window killed with xkill): Qt then ends the
// process itself, with exit(1) after the warning "The X11 connection broke"
// or an abort after a fatal message. The continuation runs in place of
// either, at most once, on the thread that met the loss, and must not
// return; it must not call Qt either (Qt's messages from that thread would
// then reach standard error). Any other exit() of the process counts as a
// lost display too: the launcher itself only ever ends with _exit. Set it
// after the objects that it uses are built, so that they outlive it at exit.
// A write to the lost connection then fails instead of raising SIGPIPE.
void continueOnDisplayLoss(std::function<void()> continuation);

}  // namespace quillon
