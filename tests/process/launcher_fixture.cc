#include "launcher_fixture.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

namespace quillon::test {

namespace {

// Files outside every profile that no launch may touch.
const char* const kOutsideFiles[] = {
    "outside/keep.txt",     "outside/Current Tabs", "outside/Cookies",
    "outside/Sessions/a",   "outside/Network/Cookies", "outside/IndexedDB/db",
    "outside/Default/Current Tabs",
};

}  // namespace

void LauncherProcessTest::SetUp() {
  becomeChildSubreaper();
  launcher_ = QUILLON_LAUNCHER_PATH;
  engine_ = QUILLON_RECORDING_ENGINE_PATH;
  record_ = tmp_ / "record";
  std::filesystem::create_directories(tmp_ / "home");
  std::filesystem::create_directories(tmp_ / "xdg");
  for (const char* file : kOutsideFiles) writeFile(tmp_ / file, "keep");
  env_ = {
      "HOME=" + (tmp_ / "home"),
      "XDG_CONFIG_HOME=" + (tmp_ / "xdg"),
      "PATH=/usr/bin:/bin",
      "QUILLON_ENGINE_BIN=" + engine_,
      "QUILLON_TEST_RECORD=" + record_,
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

std::string LauncherProcessTest::copyLauncher(const std::string& dir) const {
  std::string copy = tmp_ / (dir + "/quillon-launcher");
  std::filesystem::create_directories(tmp_ / dir);
  std::filesystem::copy_file(launcher_, copy, std::filesystem::copy_options::overwrite_existing);
  chmod(copy.c_str(), 0755);
  return copy;
}

Launch LauncherProcessTest::launch(const std::vector<std::string>& args,
                                   const LaunchOptions& options) {
  ProcessSetup setup;
  setup.program = options.program.empty() ? launcher_ : options.program;
  setup.argv.push_back(options.argv0.value_or(setup.program));
  setup.argv.insert(setup.argv.end(), args.begin(), args.end());
  setup.env = env_;
  setup.cwd = options.cwd;
  setup.standardError = options.standardError;
  if (options.lingerMs > 0) setup.env.push_back("QUILLON_TEST_LINGER=" + std::to_string(options.lingerMs));
  setup.inheritedFds = options.inheritedFds;
  setup.blockedSignals = options.blockedSignals;
  setup.ignoredSignals = options.ignoredSignals;
  setup.timeout = options.timeout;

  Launch result;
  RunningProcess process(setup, options.holdAtExit ? RunningProcess::Start::traced
                                                  : RunningProcess::Start::spawn);
  if (options.holdAtExit) process.waitForExitHeld(record_, Millis(10000));
  else process.waitForExit();

  // A successful launch leaves an engine behind; give it time to record.
  if (process.outcome().exitStatus == 0 && waitForFile(record_, Millis(10000))) {
    result.rawRecord = readFile(record_);
    result.engine = parseEngineRecord(result.rawRecord);
  }
  if (result.engine && options.lingerMs > 0) {
    siginfo_t info{};
    result.engineOutlivedLauncher =
        waitid(P_PID, static_cast<id_t>(result.engine->pid), &info,
               WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == 0;
    kill(result.engine->pid, SIGKILL);
  }
  result.childrenLeft = reapChildren(Millis(10000));
  process.drainOutput(Millis(5000));
  result.process = process.outcome();
  return result;
}

std::vector<std::string> deviceSwitches() {
  double bytes = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
  double gib = bytes / (1024.0 * 1024.0 * 1024.0);
  const char* bucket = gib >= 24 ? "32" : gib >= 12 ? "16" : gib >= 6 ? "8" : gib >= 3 ? "4" : gib >= 1.5 ? "2" : "1";
  return {std::string("--device-memory=") + bucket,
          "--hardware-concurrency=" + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)),
          "--speech-voices-preset=stock-chrome-mac"};
}

std::vector<std::string> defaultExtraSwitches(const std::string& startPage) {
  std::vector<std::string> extra = deviceSwitches();
  extra.push_back(startPage);
  return extra;
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

ReadOnlyDirectory::ReadOnlyDirectory(std::string path) : path_(std::move(path)) {
  chmod(path_.c_str(), 0555);
  if (geteuid() != 0) return;
  // Root writes through permission bits; the immutable flag stops it.
  int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags |= FS_IMMUTABLE_FL;
    immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
}

ReadOnlyDirectory::~ReadOnlyDirectory() {
  if (immutable_) {
    int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) close(fd);
  }
  chmod(path_.c_str(), 0755);
}

bool ReadOnlyDirectory::effective() const {
  std::string probe = path_ + "/.probe";
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return true;
  close(fd);
  unlink(probe.c_str());
  return false;
}

}  // namespace quillon::test
