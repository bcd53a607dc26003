// The discovery path's owner: shows the progress window, runs discovery on a
// background thread, lets the user cancel by closing the window, and launches
// the engine on the main thread once discovery has handed over.
#pragma once

#include <atomic>

#include "discovery/run_discovery.h"
#include "launcher/startup.h"
#include "ui/main_queue.h"
#include "ui/progress_window.h"

namespace quillon {

class LauncherDelegate {
 public:
  // seams.postStep is filled in by the delegate; probe and pause are used as
  // given (pause is dropped when the window is not on screen).
  LauncherDelegate(LaunchInputs inputs, ProgressWindow& window, MainQueue& queue,
                   DiscoverySeams seams);
  LauncherDelegate(const LauncherDelegate&) = delete;
  LauncherDelegate& operator=(const LauncherDelegate&) = delete;

  // Main thread: shows the window and starts discovery in the background
  // (or runs it at once when no thread can be created).
  void startLauncher();

  // Main thread: the user closed the window. Ends the process with status 0.
  [[noreturn]] void windowWillClose();

  // Main thread, after discovery: exit 42 when blocked, else hygiene, the
  // switches, the "ok" report and the spawn (exit 0, or 1 through the
  // fatal path).
  [[noreturn]] void launchEngine(const DiscoveryOutcome& outcome);

 private:
  void discoverInBackground();

  const LaunchInputs inputs_;
  ProgressWindow& window_;
  MainQueue& queue_;
  DiscoverySeams seams_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace quillon
