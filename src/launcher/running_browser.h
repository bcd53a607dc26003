// A second launch on a profile where a stock Chromium already runs: the engine
// hands its start page to that browser, which opens it with its own network
// settings. So the launch goes on only when that browser runs with the proxy
// settings this launch would give it; through the relay, with this persona's
// proxy behind a relay of this user that still serves. Each launch that
// starts a browser with the relay records, beside the profile, the relay's
// port and the proxy it logs in to (never the password).
#pragma once

#include <optional>
#include <string>

#include "launcher/startup.h"
#include "relay/relay_settings.h"

namespace quillon {

// The record's name in the user data directory (owner-only).
inline constexpr const char* kRelayRecordName = "Quillon Relay";

inline constexpr const char* kRunningBrowserRefusal =
    "A browser already runs on this profile without this persona's proxy; not started, so that "
    "the persona's pages do not go outside its proxy";

struct RunningBrowser {
  bool found = false;    // a process holds the profile's SingletonLock on this host
  bool persona = false;  // it is this user's and runs with this launch's proxy settings
  int relayPort = 0;     // through this persona's relay, which still serves on that port
};

// What runs on the profile of a stock Chromium launch; nothing for the
// product's engine or without a user data directory.
RunningBrowser runningBrowser(const LaunchInputs& in);

// The switches that decide where Chromium sends its requests, each with its
// last value ("" for a switch without one), in a fixed order; a switch that
// is absent is left out: "--proxy-server=X\n--proxy-bypass-list=Y\n".
std::string proxySwitchesOf(const std::vector<std::string>& arguments);

// The record, written by a launch that starts a browser with the relay on a
// free profile; removed by one that starts a browser without it.
void recordRelay(const std::string& userDataDir, const RelaySettings& settings, int port);
void forgetRelay(const std::string& userDataDir);

}  // namespace quillon
