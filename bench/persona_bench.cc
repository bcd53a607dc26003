// quillon-persona's figures: `show` on a persona (whole process, median of many runs) and
// `list` over 250, 500 and 1,000 profiles (whole process), to show the time is linear.
// Usage: persona_bench PERSONA_TOOL ENGINE RUNS
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

double runMs(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "persona_bench: %s failed\n", args[1].c_str());
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << bytes;
}

const char* kPersona =
    R"({"proxy-server":"socks5://user:pw@127.0.0.1:1080","auto-timezone":true,"auto-lang":true,)"
    R"("webgl-profile":"macbook-pro-m2","close-previous-tabs":true,)"
    R"("granular-storage-reset":{"all":true}})";
const char* kReport =
    R"({"schema":1,"ts":"2026-12-08T09:00:00Z","status":"ok","ip":"203.0.113.7",)"
    R"("timezone":"Europe/Berlin","country_code":"de","lat":"","lng":"","lang":"de-DE",)"
    R"("accept_lang":"de-DE,de;q=0.9,en;q=0.8","elapsed_ms":61,"provider":"quillon",)"
    R"("error_code":"","message":"","launcher_version":"0.28.0-mac"})";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: persona_bench PERSONA_TOOL ENGINE RUNS\n");
    return 2;
  }
  const std::string tool = argv[1];
  const int runs = std::max(3, std::atoi(argv[3]));
  setenv("QUILLON_ENGINE_BIN", argv[2], 1);
  char pattern[] = "/tmp/quillon-persona-bench-XXXXXX";
  const std::filesystem::path work = mkdtemp(pattern);
  const std::filesystem::path profile = work / "persona";
  write(profile / "command-line.json", kPersona);
  write(profile / ".quillon-launcher-result.json", kReport);
  write(profile / "Default/Current Tabs", "tabs");

  std::vector<double> show;
  for (int i = 0; i < runs; ++i)
    show.push_back(runMs({tool, "show", "--user-data-dir=" + profile.string()}));
  std::printf("show, %d runs: median %.2f ms, min %.2f ms, max %.2f ms\n", runs, median(show),
              *std::min_element(show.begin(), show.end()),
              *std::max_element(show.begin(), show.end()));

  for (int count : {250, 500, 1000}) {
    const std::filesystem::path folder = work / ("list-" + std::to_string(count));
    for (int i = 0; i < count; ++i) {
      std::filesystem::path dir = folder / std::to_string(i);
      write(dir / "command-line.json", kPersona);
      if (i % 10 != 9) write(dir / ".quillon-launcher-result.json", kReport);  // some without
    }
    std::vector<double> list;
    for (int i = 0; i < 5; ++i) list.push_back(runMs({tool, "list", folder.string()}));
    std::printf("list over %4d profiles, 5 runs: median %.1f ms (%.1f us a profile)\n", count,
                median(list), median(list) * 1000 / count);
  }
  std::filesystem::remove_all(work);
  return 0;
}
