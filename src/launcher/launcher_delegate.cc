#include "launcher/launcher_delegate.h"

#include <unistd.h>

#include <system_error>
#include <thread>

#include "engine/switches.h"
#include "launcher/direct_launch.h"
#include "report/result_report.h"

namespace quillon {

namespace {

// Every end of the discovery path. The discovery thread may still be running
// (a cancelled probe), so the process ends without running destructors that
// it could still be using; every report is already on disk.
[[noreturn]] void endLauncher(int status) {
  _exit(status);
}

ResultReport discoveryReport(const char* status, const DiscoveryOutcome& outcome) {
  ResultReport report;
  report.status = status;
  report.ip = outcome.capture.ip;
  report.countryCode = outcome.capture.countryCode;
  report.provider = outcome.capture.provider;
  report.timezone = outcome.capture.timezone;
  report.elapsedMs = outcome.capture.elapsedMs;
  report.lat = outcome.resolved.geoLat;
  report.lng = outcome.resolved.geoLng;
  report.lang = outcome.resolved.lang;
  report.acceptLang = outcome.resolved.acceptLang;
  return report;
}

}  // namespace

LauncherDelegate::LauncherDelegate(LaunchInputs inputs, ProgressWindow& window, MainQueue& queue,
                                   DiscoverySeams seams)
    : inputs_(std::move(inputs)), window_(window), queue_(queue), seams_(std::move(seams)) {}

void LauncherDelegate::startLauncher() {
  window_.setCloseHandler([this] { windowWillClose(); });
  window_.show();
  if (!window_.isOnScreen()) seams_.pause = nullptr;
  seams_.postStep = [this](size_t index, StepChange change) {
    queue_.post([this, index, change = std::move(change)] { window_.updateStep(index, change); });
  };
  try {
    std::thread([this] { discoverInBackground(); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had (a process limit reached): discovery runs here,
    // unpaced, since nothing is drawn until it is over.
    seams_.pause = nullptr;
    discoverInBackground();
  }
}

void LauncherDelegate::discoverInBackground() {
  DiscoveryOutcome outcome = runDiscovery(inputs_.overlay, inputs_.userDataDir, seams_, cancelled_);
  if (outcome.cancelled) {
    queue_.post([] { endLauncher(0); });
    return;
  }
  queue_.post([this, outcome = std::move(outcome)] { launchEngine(outcome); });
}

void LauncherDelegate::windowWillClose() {
  cancelled_ = true;
  endLauncher(0);
}

void LauncherDelegate::launchEngine(const DiscoveryOutcome& outcome) {
  window_.hide();
  const std::string reportPath = resultReportPath(inputs_.userDataDir);
  if (outcome.blockEngine) {
    ResultReport report = discoveryReport("blocked", outcome);
    report.errorCode = "PROXY_BLOCKED";
    report.message = "see .quillon-launcher-error.json for details";
    writeReportFile(report, reportPath);
    endLauncher(42);
  }

  runProfileHygiene(inputs_.overlay, inputs_.userDataDir);
  SwitchList extra = discoverySwitchList(inputs_.overlay, outcome.resolved, webglSwitches(inputs_),
                                         currentMachineFacts());
  writeReportFile(discoveryReport("ok", outcome), reportPath);
  startEngine(inputs_, outcome.resolved, std::move(extra));
}

}  // namespace quillon
