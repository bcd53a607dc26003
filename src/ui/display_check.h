// Whether this process can open a window, decided before Qt is started: Qt
// ends the process with its own message when its display cannot be opened,
// and the launch must then go on without a window, silently.
#pragma once

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

}  // namespace quillon
