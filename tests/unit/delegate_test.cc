// The discovery path's threads end to end, with a window that the test
// closes: main queue, discovery thread, cancellation and the hand-over.
#include "launcher/launcher_delegate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "launcher/thread_main_queue.h"
#include "support/test_files.h"

namespace quillon {
namespace {

struct ClosableWindow : ProgressWindow {
  void show() override {}
  void updateStep(size_t, const StepChange&) override {}
  void hide() override {}
  bool isOnScreen() const override { return true; }
  void close() { notifyClosed(); }
};

// Runs the discovery path in this (forked) process against a probe that
// answers or fails at once, or closes the window and answers 10 s later.
[[noreturn]] void runDelegate(const LaunchInputs& inputs, bool closeWindow, bool fail) {
  static ClosableWindow window;
  static ThreadMainQueue queue;
  DiscoverySeams seams;
  seams.probe = [=](const std::string&, const std::string&) {
    if (closeWindow) queue.post([] { window.close(); });
    std::this_thread::sleep_for(std::chrono::seconds(closeWindow ? 10 : 0));
    DiscoverResult r;
    (fail ? r.errorCode : r.ip) = fail ? "PROXY_UNREACHABLE" : "203.0.113.7";
    return r;
  };
  static LauncherDelegate delegate(inputs, window, queue, seams);
  delegate.startLauncher();
  queue.run();
}

// Death tests fork before any thread exists: the threads are the child's.
TEST(LauncherDelegateDeathTest, ClosingEndsAtOnceElseTheLaunchGoesOnOrIsBlocked) {
  test::TempDir dir;
  test::writeFile(dir / "engine", "#!/bin/sh\n: > \"$0.started\"\n");
  chmod((dir / "engine").c_str(), 0755);
  LaunchInputs inputs;
  inputs.engineBinary = dir / "engine";
  inputs.userDataDir = dir / "profile";
  inputs.overlay.proxyServer = "socks5://127.0.0.1:1";
  inputs.overlay.webrtcNoLeak = true;
  EXPECT_EXIT(runDelegate(inputs, true, false), testing::ExitedWithCode(0), "");
  EXPECT_FALSE(test::exists(dir / "profile/.quillon-launcher-result.json")) << "the launch went on";
  EXPECT_EXIT(runDelegate(inputs, false, true), testing::ExitedWithCode(42), "");
  EXPECT_EXIT(runDelegate(inputs, false, false), testing::ExitedWithCode(0), "");
  for (int i = 0; i < 100 && !test::exists(dir / "engine.started"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(test::exists(dir / "engine.started"));
  EXPECT_NE(test::readFile(dir / "profile/.quillon-launcher-result.json").find("\"status\":\"ok\""),
            std::string::npos);
}

}  // namespace
}  // namespace quillon
