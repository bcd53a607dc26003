// The built launcher as a whole process, against the recording engine: what
// only a whole process shows (arguments, environment, session, descriptors,
// signal state, exit status, standard error) and the launch end to end.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace quillon::test {
namespace {

using Args = std::vector<std::string>;
constexpr auto kStep = std::chrono::milliseconds(5);
constexpr int kSteps = 4000;  // 20 s of steps: the bound of every wait

struct Options {
  std::string program = QUILLON_LAUNCHER_PATH;
  std::string cwd = "/";
  int standardError = -1;  // -1: the file that also takes standard output
  int inheritedFd = -1;    // passed on as descriptor 7
  int blocked = 0, ignored = 0;
};

struct Launch {
  pid_t pid = -1;
  int status = -1;  // exit status, -1 when killed by a signal or held too long
  std::string out;  // standard output and error
  std::multimap<std::string, std::string> engine;  // the engine's record, when one ran
  int children = 0;                                // processes reaped after the launch
  Args operator[](const std::string& key) const {  // the record's values of a key
    Args found;
    for (auto [it, end] = engine.equal_range(key); it != end; ++it) found.push_back(it->second);
    return found;
  }
};

class LauncherProcess : public ::testing::Test {
 protected:
  void SetUp() override { prctl(PR_SET_CHILD_SUBREAPER, 1); }  // engines come here when orphaned

  // Runs the launcher, traced so that it is held at its exit until the
  // engine has recorded its start: the launcher is still its parent then.
  Launch launch(const Args& args, Options setup = {}) {
    std::filesystem::remove(record);
    Args argv = {setup.program}, env = environment;
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cArgv, cEnv;
    for (std::string& a : argv) cArgv.push_back(a.data());
    for (std::string& e : env) cEnv.push_back(e.data());
    cArgv.push_back(nullptr);
    cEnv.push_back(nullptr);
    int out = open((tmp / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t pid = fork();
    if (pid == 0) {
      close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
      int err = setup.standardError >= 0 ? setup.standardError : out;
      if (dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0) < 0 || dup2(out, 1) < 0 ||
          dup2(err, 2) < 0 || (setup.inheritedFd >= 0 && dup2(setup.inheritedFd, 7) < 0))
        _exit(126);
      sigset_t mask;
      sigemptyset(&mask);
      if (setup.blocked) sigaddset(&mask, setup.blocked);
      sigprocmask(SIG_SETMASK, &mask, nullptr);
      for (int sig = 1; sig < NSIG; ++sig) signal(sig, sig == setup.ignored ? SIG_IGN : SIG_DFL);
      if (chdir(setup.cwd.c_str()) == 0 && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0)
        execve(setup.program.c_str(), cArgv.data(), cEnv.data());
      _exit(127);
    }
    close(out);
    Launch run;
    run.pid = pid;
    for (int step = 0, status = 0; step < kSteps; ++step) {
      if (waitpid(pid, &status, WNOHANG | __WALL) != pid) {
        std::this_thread::sleep_for(kStep);
      } else if (WIFSTOPPED(status) && status >> 8 == (SIGTRAP | PTRACE_EVENT_EXIT << 8)) {
        unsigned long code = 0;
        ptrace(PTRACE_GETEVENTMSG, pid, nullptr, &code);
        for (int wait = 0; code == 0 && wait < kSteps && !exists(record); ++wait)
          std::this_thread::sleep_for(kStep);
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
      } else if (WIFSTOPPED(status)) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
        ptrace(PTRACE_CONT, pid, nullptr, WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status));
      } else {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
    }
    kill(pid, SIGKILL);  // only when it outlived every bound
    std::string bytes = readFile(record);
    for (size_t at = 0, end; run.status == 0 && (end = bytes.find('\0', at)) != bytes.npos;
         at = end + 1) {
      size_t space = bytes.find(' ', at);
      run.engine.emplace(bytes.substr(at, space - at), bytes.substr(space + 1, end - space - 1));
    }
    for (const std::string& engine : run["pid"]) kill(std::stoi(engine), SIGKILL);
    for (int step = 0, done = 0; step < kSteps && done >= 0; ++step) {
      done = waitpid(-1, nullptr, WNOHANG | __WALL);
      if (done == 0) std::this_thread::sleep_for(kStep);
      run.children += done > 0;
    }
    run.out = readFile(tmp / "out");
    return run;
  }

  // Exit 0, nothing printed, one engine that recorded its start.
  void expectStarted(const Launch& run) {
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.children, 1);
    EXPECT_FALSE(run.engine.empty());
  }

  TempDir tmp;
  std::string record = tmp / "record";
  // The leak checker of a sanitized build cannot run in a traced process.
  Args environment = {"HOME=" + tmp / "home",
                      "XDG_CONFIG_HOME=" + tmp / "xdg",
                      "PATH=/bin",
                      "QUILLON_ENGINE_BIN=" QUILLON_RECORDING_ENGINE_PATH,
                      "QUILLON_TEST_RECORD=" + record,
                      "ASAN_OPTIONS=detect_leaks=0"};
};

// Without an override the engine is the one in the launcher's own bundle and
// WebGL profiles come from the installed share directory; the arguments go
// first, then the extra and trailing switches.
TEST_F(LauncherProcess, ArgumentsFirstThenSwitchesWholeEnvironmentReportInTheProfile) {
  std::string app = std::filesystem::weakly_canonical(tmp.path()).string() + "/app/";
  std::string engine = app + "bin/Contents/Frameworks/Quillon Browser Engine.app/Contents/MacOS/";
  std::filesystem::create_directories(engine);
  std::filesystem::copy_file(QUILLON_LAUNCHER_PATH, app + "bin/quillon-launcher");
  std::filesystem::copy_file(QUILLON_RECORDING_ENGINE_PATH, engine += "Quillon Browser Engine");
  writeFile(app + "share/quillon/quillon-webgl-profiles.json", R"({"profiles":{"g":{"w":"A"}}})");
  std::string profile = tmp / "profile";
  writeFile(profile + "/command-line.json", R"({"webgl-profile":"g"})");
  const Args args = {"--user-data-dir=" + profile, "", "line\nbreak \xc3\xa9 \xff",
                     "--user-data-dir=" + tmp / "second"};
  environment[3] = "QUILLON_ODD= spaces =equals\nnewline \xff";  // and no QUILLON_ENGINE_BIN
  Launch run = launch(args, {.program = app + "bin/quillon-launcher"});
  expectStarted(run);
  Args argv = run["arg"], expected = {engine};
  expected.insert(expected.end(), args.begin(), args.end());
  ASSERT_EQ(argv.size(), 13u);
  EXPECT_TRUE(std::regex_match(argv[6], std::regex("--device-memory=(1|2|4|8|16|32)"))) << argv[6];
  expected.insert(
      expected.end(),
      {"--w=A", argv[6],
       "--hardware-concurrency=" + std::to_string(std::thread::hardware_concurrency()),
       "--speech-voices-preset=stock-chrome-mac", "chrome://version", "--hide-crash-restore-bubble",
       "--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
       "--disable-save-password-bubble"});
  EXPECT_EQ(argv, expected);
  EXPECT_EQ(run["env"], environment);
  EXPECT_TRUE(std::regex_match(
      readFile(profile + "/.quillon-launcher-result.json"),
      std::regex(R"(\{"schema":1,"ts":"[-0-9T:]{19}Z","status":"passthrough","ip":"",)"
                 R"("timezone":"","country_code":"","lat":"","lng":"","lang":"","accept_lang":"",)"
                 R"("elapsed_ms":0,"provider":"","error_code":"","message":"",)"
                 R"("launcher_version":"0\.28\.0-mac"\}
)")));
  EXPECT_FALSE(exists(tmp / "second"));
  // A user data directory far beyond the path limit still launches.
  std::string deep = "--user-data-dir=" + tmp.path();
  for (int i = 0; i < 40000; ++i) deep += "/d";
  expectStarted(launch({deep}, {.program = app + "bin/quillon-launcher"}));
}

// The engine leads a session of its own as the launcher's child, with the
// launcher's descriptors, signal mask and ignored signals, and the launcher
// does not wait for it.
TEST_F(LauncherProcess, EngineGetsItsOwnSessionAndTheLaunchersProcessState) {
  writeFile(tmp / "inherited", "x");
  int fd = fcntl(open((tmp / "inherited").c_str(), O_RDONLY | O_CLOEXEC), F_DUPFD_CLOEXEC, 10);
  std::string profile = tmp / "profile";
  writeFile(profile + "/command-line.json", R"({"start-page":"a"})");
  writeFile(profile + "/Default/Current Tabs", "tabs");
  // An engine that runs on the profile (this test) holds its lock.
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  symlink((host + ("-" + std::to_string(getpid()))).c_str(), (profile + "/SingletonLock").c_str());
  environment.push_back("QUILLON_TEST_LINGER=60");
  Launch run = launch({"--user-data-dir=" + profile},
                      {.inheritedFd = fd, .blocked = SIGUSR1, .ignored = SIGUSR2});
  expectStarted(run);
  EXPECT_EQ(run["sid"], run["pid"]);
  EXPECT_EQ(run["ppid"], Args{std::to_string(run.pid)});
  EXPECT_EQ(run["fd"], (Args{"0 /dev/null", "1 " + tmp / "out", "2 " + tmp / "out",
                             "7 " + tmp / "inherited"}));
  auto mask = [](const Args& hex) { return std::stoull(hex.at(0), nullptr, 16) & 0x7fffffffULL; };
  EXPECT_EQ(mask(run["SigBlk:"]), 1ULL << (SIGUSR1 - 1));
  EXPECT_EQ(mask(run["SigIgn:"]), 1ULL << (SIGUSR2 - 1));
  EXPECT_EQ(readFile(profile + "/Default/Current Tabs"), "tabs") << "hygiene under an engine";
}

// The only output: one line and status 1 when the engine cannot start, after
// the profile is cleaned and the report written.
TEST_F(LauncherProcess, UnusableEngineGivesOneLineAfterHygieneAndReport) {
  const std::string work = std::filesystem::weakly_canonical(tmp.path()).string() + "/work";
  writeFile(work + "/plain", "#!/bin/sh\n");
  writeFile(work + "/garbage", "\x01\x02 not a program\n");
  chmod((work + "/garbage").c_str(), 0755);
  // A relative engine path is taken against the current directory.
  const std::string cases[][2] = {
      {"missing engine", "Engine binary not found:\n" + work + "/missing engine"},
      {"plain", "Engine binary not found:\n" + work + "/plain"},
      {work, "Engine binary not found:\n" + work},
      {"garbage", "Engine spawn failed: posix_spawn failed (errno 8): Exec format error"}};
  std::string profile = tmp / "profile";
  for (const auto& [engine, line] : cases) {
    writeFile(profile + "/command-line.json", R"({"close-previous-tabs":1})");
    writeFile(profile + "/Default/Current Tabs", "tabs");
    std::filesystem::remove(profile + "/.quillon-launcher-result.json");
    environment[3] = "QUILLON_ENGINE_BIN=" + engine;
    Launch run = launch({"--user-data-dir=" + profile}, {.cwd = work});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "[quillon-launcher] " + line + "\n");
    EXPECT_EQ(run.children, 0);
    EXPECT_FALSE(exists(profile + "/Default/Current Tabs")) << engine;
    EXPECT_TRUE(exists(profile + "/.quillon-launcher-result.json"));
  }
  // Standard error is a pipe that nobody reads any more: still status 1.
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);
  EXPECT_EQ(launch({}, {.standardError = fds[1]}).status, 1);
  close(fds[1]);
  // A persona that needs proxy discovery, which this build does not run.
  writeFile(profile + "/command-line.json",
            R"({"auto-timezone":1,"proxy-server":"socks5://127.0.0.1:9"})");
  EXPECT_TRUE(launch({"--user-data-dir=" + profile}).out.starts_with("[quillon-launcher] "));
}

}  // namespace
}  // namespace quillon::test
