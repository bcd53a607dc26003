// Launch benchmark: times the launcher's whole direct launch path as a
// process against the least possible launcher (a C program that only calls
// posix_spawn), on the same engine that exits at once, and reports both
// medians, their ratio and the launcher's peak resident memory.
//
//   launch_bench --launcher PATH --spawner PATH --engine PATH [--runs N] [--warmup N]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string launcher, spawner, engine;
  int runs = 300;
  int warmup = 20;
};

struct Sample {
  double ms = 0;
  bool ok = false;
};

struct Program {
  std::string path;
  std::vector<std::string> argv;
};

void onAlarm(int) {}

bool parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    if (key == "--launcher")
      o.launcher = value;
    else if (key == "--spawner")
      o.spawner = value;
    else if (key == "--engine")
      o.engine = value;
    else if (key == "--runs")
      o.runs = atoi(value.c_str());
    else if (key == "--warmup")
      o.warmup = atoi(value.c_str());
    else
      return false;
  }
  return !o.launcher.empty() && !o.spawner.empty() && !o.engine.empty() && o.runs > 0 &&
         o.warmup >= 0;
}

std::vector<char*> cBlock(std::vector<std::string>& strings) {
  std::vector<char*> block;
  for (std::string& s : strings) block.push_back(s.data());
  block.push_back(nullptr);
  return block;
}

// Reaps the engines that were handed to this process when their launcher
// ended. Not timed.
void reapOrphans() {
  for (int step = 0; step < 5000; ++step) {
    pid_t done = waitpid(-1, nullptr, WNOHANG);
    if (done < 0) return;
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// One whole process, from posix_spawn to its reaping, output to /dev/null.
Sample runOnce(Program& program, std::vector<std::string>& env, int devnull) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, devnull, 0);
  posix_spawn_file_actions_adddup2(&actions, devnull, 1);
  posix_spawn_file_actions_adddup2(&actions, devnull, 2);
  std::vector<char*> argv = cBlock(program.argv);
  std::vector<char*> envp = cBlock(env);

  Sample sample;
  pid_t pid = 0;
  auto start = Clock::now();
  int code = posix_spawn(&pid, program.path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (code != 0) return sample;
  int status = 0;
  alarm(10);  // a launch that hangs is killed instead of stalling the run
  pid_t done = waitpid(pid, &status, 0);
  auto end = Clock::now();
  alarm(0);
  if (done != pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return sample;
  }
  sample.ms = std::chrono::duration<double, std::milli>(end - start).count();
  sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  reapOrphans();
  return sample;
}

long highWaterKiB(pid_t pid) {
  FILE* status = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "re");
  if (!status) return 0;
  char line[256];
  long kib = 0;
  while (fgets(line, sizeof line, status))
    if (strncmp(line, "VmHWM:", 6) == 0) kib = atol(line + 6);
  fclose(status);
  return kib;
}

// The shared libraries mapped into the process, by path.
std::vector<std::string> sharedLibraries(pid_t pid) {
  std::vector<std::string> libraries;
  FILE* maps = fopen(("/proc/" + std::to_string(pid) + "/maps").c_str(), "re");
  if (!maps) return libraries;
  char line[4096];
  while (fgets(line, sizeof line, maps)) {
    const char* path = strchr(line, '/');
    if (!path || !strstr(path, ".so")) continue;
    std::string library(path, strcspn(path, "\n"));
    if (std::find(libraries.begin(), libraries.end(), library) == libraries.end())
      libraries.push_back(library);
  }
  fclose(maps);
  return libraries;
}

// The peak resident memory of one run, read from the process itself as it
// exits (held there under ptrace). Not the rusage figure: a child started
// with posix_spawn shares this runner's memory until its exec, and the
// kernel counts that peak into the child's ru_maxrss.
long peakResidentKiB(Program& program, std::vector<std::string>& env, int devnull,
                     std::vector<std::string>* libraries) {
  std::vector<char*> argv = cBlock(program.argv);
  std::vector<char*> envp = cBlock(env);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    execve(program.path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return 0;
  long kib = 0;
  alarm(10);
  for (int stop = 0; stop < 100; ++stop) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) break;
    long signal = 0;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      kib = highWaterKiB(pid);
      if (libraries) *libraries = sharedLibraries(pid);
    } else if (stop == 0) {
      ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    } else {
      signal = WSTOPSIG(status);
    }
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(signal));
  }
  alarm(0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, WNOHANG);
  reapOrphans();
  return kib;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = fopen(path.c_str(), "we");
  if (!f) return;
  fputs(text.c_str(), f);
  fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    fprintf(stderr,
            "usage: launch_bench --launcher PATH --spawner PATH --engine PATH [--runs N] [--warmup "
            "N]\n");
    return 2;
  }
  prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  struct sigaction alarmAction {};
  alarmAction.sa_handler = onAlarm;
  sigaction(SIGALRM, &alarmAction, nullptr);

  char pattern[] = "/tmp/quillon-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  std::string tmp = pattern;
  std::string profile = tmp + "/profile";
  // A small persona, so the direct path does its real work: read the
  // configuration, clean the profile, look up a WebGL profile, write the report.
  writeText(profile + "/command-line.json",
            R"({"close-previous-tabs":true,"granular-storage-reset":{"cookies":true},)"
            R"("webgl-profile":"macbook-pro-m2","start-page":"https://example.org/"})"
            "\n");
  std::vector<std::string> env = {"HOME=" + tmp + "/home", "PATH=/usr/bin:/bin",
                                  "QUILLON_ENGINE_BIN=" + o.engine};
  std::vector<std::string> args = {"--user-data-dir=" + profile, "--no-first-run"};

  Program launcher{o.launcher, {o.launcher}};
  launcher.argv.insert(launcher.argv.end(), args.begin(), args.end());
  Program spawner{o.spawner, {o.spawner, o.engine}};
  spawner.argv.insert(spawner.argv.end(), args.begin(), args.end());
  spawner.argv.push_back("https://example.org/");

  int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int i = 0; i < o.warmup; ++i) {
    runOnce(launcher, env, devnull);
    runOnce(spawner, env, devnull);
  }
  std::vector<double> launcherMs, spawnerMs;
  int failures = 0;
  for (int i = 0; i < o.runs; ++i) {
    // Alternate which goes first so that drift hits both alike.
    for (int k = 0; k < 2; ++k) {
      bool isLauncher = (i + k) % 2 == 0;
      Sample s = runOnce(isLauncher ? launcher : spawner, env, devnull);
      if (!s.ok) ++failures;
      (isLauncher ? launcherMs : spawnerMs).push_back(s.ms);
    }
  }
  long launcherPeak = 0, spawnerPeak = 0;
  std::vector<std::string> libraries;
  for (int i = 0; i < 5; ++i) {
    launcherPeak = std::max(launcherPeak, peakResidentKiB(launcher, env, devnull, &libraries));
    spawnerPeak = std::max(spawnerPeak, peakResidentKiB(spawner, env, devnull, nullptr));
  }
  bool reportWritten = std::filesystem::exists(profile + "/.quillon-launcher-result.json");
  std::error_code ignored;
  std::filesystem::remove_all(tmp, ignored);

  double launcherMedian = median(launcherMs), spawnerMedian = median(spawnerMs);
  double ratio = launcherMedian / spawnerMedian;
  double peakMiB = static_cast<double>(launcherPeak) / 1024.0;
  printf("runs: %d each (after %d warm-up runs each)\n", o.runs, o.warmup);
  printf("quillon-launcher  median %.3f ms  (p10 %.3f, p90 %.3f)  peak RSS %.2f MiB\n",
         launcherMedian, percentile(launcherMs, 0.1), percentile(launcherMs, 0.9), peakMiB);
  printf("minimal spawner   median %.3f ms  (p10 %.3f, p90 %.3f)  peak RSS %.2f MiB\n",
         spawnerMedian, percentile(spawnerMs, 0.1), percentile(spawnerMs, 0.9),
         static_cast<double>(spawnerPeak) / 1024.0);
  printf("ratio launcher/spawner: %.3f (goal <= 1.2: %s)\n", ratio,
         ratio <= 1.2 ? "met" : "missed");
  printf("launcher peak RSS: %.2f MiB (goal < 4 MiB: %s)\n", peakMiB,
         peakMiB < 4.0 ? "met" : "missed");
  printf("shared libraries in the launcher at exit (%zu):", libraries.size());
  for (const std::string& library : libraries) printf(" %s", library.c_str());
  printf("\n");
  if (failures > 0 || !reportWritten) {
    printf("%d runs did not exit 0%s\n", failures,
           reportWritten ? "" : "; no result report was written");
    return 1;
  }
  return 0;
}
