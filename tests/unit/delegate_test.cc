// The discovery path's threads end to end, with a window that the test
// closes: main queue, discovery thread, cancellation and the hand-over.
#include "launcher/launcher_delegate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "launcher/thread_main_queue.h"
#include "support/test_files.h"

namespace quillon {
namespace {

// A window on screen that the user closes on request.
class ClosableWindow : public ProgressWindow {
 public:
  void show() override {}
  void updateStep(size_t index, const StepChange& change) override {
    applyStepChange(steps, index, change);
  }
  void hide() override {}
  bool isOnScreen() const override { return true; }
  void close() { notifyClosed(); }

  std::vector<SplashStep> steps = defaultSplashSteps();
};

// Runs the discovery path in this process with the given probe; it always
// ends the process.
[[noreturn]] void runDelegate(const LaunchInputs& inputs,
                              const std::function<DiscoverResult(ClosableWindow&, MainQueue&)>& probe) {
  static ClosableWindow window;
  static ThreadMainQueue queue;
  DiscoverySeams seams;
  seams.probe = [&probe](const std::string&, const std::string&) { return probe(window, queue); };
  seams.pause = [](double) {};
  static LauncherDelegate delegate(inputs, window, queue, seams);
  delegate.startLauncher();
  queue.run();
}

// The death tests fork before any thread exists, so the child's threads are
// its own and the parent sees what the child left in the directory.
class LauncherDelegateDeathTest : public testing::Test {
 protected:
  void SetUp() override {
    test::writeFile(dir_ / "engine", "#!/bin/sh\n: > \"$0.started\"\n");
    chmod((dir_ / "engine").c_str(), 0755);
    inputs_.engineBinary = dir_ / "engine";
    inputs_.userDataDir = dir_ / "profile";
    inputs_.overlay.proxyServer = "socks5://127.0.0.1:1";
    inputs_.overlay.autoTimezone = true;
  }
  bool engineStarted() {
    for (int i = 0; i < 100 && !test::exists(dir_ / "engine.started"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return test::exists(dir_ / "engine.started");
  }

  test::TempDir dir_;
  LaunchInputs inputs_;
};

TEST_F(LauncherDelegateDeathTest, ClosingTheWindowDuringASlowProbeEndsAtOnce) {
  EXPECT_EXIT(runDelegate(inputs_,
                          [](ClosableWindow& window, MainQueue& queue) {
                            queue.post([&window] { window.close(); });
                            std::this_thread::sleep_for(std::chrono::seconds(10));
                            DiscoverResult r;
                            r.ip = "203.0.113.7";
                            r.timezone = "Asia/Tokyo";
                            return r;
                          }),
              testing::ExitedWithCode(0), "");
  // Had the launch gone on, it would have started the engine before exiting.
  EXPECT_FALSE(test::exists(dir_ / "engine.started"));
  EXPECT_FALSE(test::exists(dir_ / "profile/.quillon-launcher-result.json"));
}

TEST_F(LauncherDelegateDeathTest, DiscoveryHandsOverToTheLaunch) {
  auto answer = [](ClosableWindow&, MainQueue&) {
    DiscoverResult r;
    r.ip = "203.0.113.7";
    r.timezone = "Asia/Tokyo";
    return r;
  };
  EXPECT_EXIT(runDelegate(inputs_, answer), testing::ExitedWithCode(0), "");
  EXPECT_TRUE(engineStarted());
  EXPECT_NE(test::readFile(dir_ / "profile/.quillon-launcher-result.json").find("\"status\":\"ok\""),
            std::string::npos);
  inputs_.overlay.onProxyFail = "block";
  auto failure = [](ClosableWindow&, MainQueue&) {
    DiscoverResult r;
    r.errorCode = "PROXY_UNREACHABLE";
    return r;
  };
  EXPECT_EXIT(runDelegate(inputs_, failure), testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace quillon
