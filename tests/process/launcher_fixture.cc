#include "launcher_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

namespace quillon::test {

namespace {

// Files outside every profile that no launch may touch.
const char* const kOutsideFiles[] = {
    "outside/keep.txt",        "outside/Cookies",      "outside/Sessions/a",
    "outside/Network/Cookies", "outside/IndexedDB/db", "outside/Default/Current Tabs",
};

int openOutput(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

}  // namespace

void LauncherProcessTest::SetUp() {
  // Orphans come to this process, so every engine is reaped and counted.
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  record_ = tmp_ / "record";
  std::filesystem::create_directories(tmp_ / "home");
  std::filesystem::create_directories(tmp_ / "xdg");
  for (const char* file : kOutsideFiles) writeFile(tmp_ / file, "keep");
  env_ = {
      "HOME=" + (tmp_ / "home"),       "XDG_CONFIG_HOME=" + (tmp_ / "xdg"), "PATH=/usr/bin:/bin",
      "QUILLON_ENGINE_BIN=" + engine_, "QUILLON_TEST_RECORD=" + record_,
  };
}

void LauncherProcessTest::TearDown() {
  EXPECT_EQ(reapChildren(Millis(5000)), 0) << "a process outlived its test";
  for (const char* file : kOutsideFiles)
    EXPECT_EQ(readFile(tmp_ / file), "keep") << "touched outside the profile: " << file;
}

void LauncherProcessTest::setEnv(const std::string& name, const std::optional<std::string>& value) {
  std::erase_if(env_, [&name](const std::string& entry) { return entry.starts_with(name + "="); });
  if (value) env_.push_back(name + "=" + *value);
}

Launch LauncherProcessTest::launch(const std::vector<std::string>& args, ProcessSetup setup) {
  std::filesystem::remove(record_);
  if (setup.program.empty()) setup.program = launcher_;
  setup.argv = {setup.program};
  setup.argv.insert(setup.argv.end(), args.begin(), args.end());
  setup.env = env_;
  bool ownError = setup.standardError < 0;
  setup.standardOutput = openOutput(path("stdout"));
  if (ownError) setup.standardError = openOutput(path("stderr"));

  Launch result;
  result.process = runProcess(setup);
  close(setup.standardOutput);
  if (ownError) close(setup.standardError);
  // A successful launch leaves an engine behind; give it time to record.
  if (result.process.exitStatus == 0 && waitForFile(record_, Millis(10000))) {
    result.engine = parseEngineRecord(readFile(record_));
  }
  if (result.engine && result.engine->pid != result.process.pid) kill(result.engine->pid, SIGKILL);
  result.childrenLeft = reapChildren(Millis(10000));
  result.out = readFile(path("stdout"));
  result.err = ownError ? readFile(path("stderr")) : "";
  return result;
}

void expectQuietSuccess(const Launch& run) {
  EXPECT_EQ(run.process.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.childrenLeft, 1) << "exactly one engine process";
  ASSERT_TRUE(run.engine) << "no whole record";
}

std::vector<std::string> defaultExtraSwitches(const std::string& startPage) {
  double gib = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
               static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0 * 1024.0);
  const char* bucket = gib >= 24    ? "32"
                       : gib >= 12  ? "16"
                       : gib >= 6   ? "8"
                       : gib >= 3   ? "4"
                       : gib >= 1.5 ? "2"
                                    : "1";
  return {std::string("--device-memory=") + bucket,
          "--hardware-concurrency=" + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)),
          "--speech-voices-preset=stock-chrome-mac", startPage};
}

std::vector<std::string> expectedEngineArgv(const std::string& engine,
                                            const std::vector<std::string>& args,
                                            const std::vector<std::string>& extra) {
  std::vector<std::string> argv{engine};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("--hide-crash-restore-bubble");
  argv.push_back("--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage");
  argv.push_back("--disable-save-password-bubble");
  return argv;
}

bool isPassthroughReport(const std::string& bytes) {
  static const std::regex pattern(
      R"(\{"schema":1,"ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","status":"passthrough","ip":"",)"
      R"("timezone":"","country_code":"","lat":"","lng":"","lang":"","accept_lang":"",)"
      R"("elapsed_ms":0,"provider":"","error_code":"","message":"","launcher_version":"0\.28\.0-mac"\}
)");
  return std::regex_match(bytes, pattern);
}

}  // namespace quillon::test
