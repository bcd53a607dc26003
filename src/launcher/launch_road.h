// Which road a launch takes. On the launcher's own road the engine starts in
// a session of its own and the launcher exits at once. The driving road is
// for a caller that drives the browser (Playwright, Puppeteer, chromedriver)
// and takes the process it started for the browser: the persona is applied
// the same way, and then the process becomes the engine.
#pragma once

#include <string_view>
#include <vector>

#include "engine/chromium_persona.h"

namespace quillon {

enum class LaunchRoad { launcher, driven };

// The name that takes the driving road: the launcher run under it, through a
// symbolic link installed beside it.
inline constexpr std::string_view kDrivenName = "quillon-browser";

// The driving road when the program path's last component is kDrivenName.
LaunchRoad launchRoadFor(std::string_view programPath);

// Whether the launcher's start page is left out: the engine's arguments name
// a page of their own, on the driving road or before a stock Chromium, which
// given two pages headless exits at once.
bool leavesOutStartPage(LaunchRoad road, EngineKind kind, const std::vector<std::string>& args);

}  // namespace quillon
