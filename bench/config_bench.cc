// Configuration benchmark: how long reading the largest allowed launch
// configuration takes (8 MiB of short keys, the worst case for the number of
// members), and an egress answer of 100,000 keys, each the median of a few
// runs.
//
//   config_bench [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/json_read.h"
#include "config/overlay.h"
#include "discovery/egress_answer.h"

namespace {

using Clock = std::chrono::steady_clock;

// An object of short members ("k1":0 ...) filling size bytes.
std::string shortKeys(size_t size) {
  std::string text = "{\"start-page\":\"about:blank\"";
  for (int i = 0; text.size() < size - 16; ++i) text += ",\"" + std::to_string(i) + "\":0";
  return text + "}";
}

template <typename Work>
double medianMs(int runs, Work work) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc == 3 && !strcmp(argv[1], "--runs") ? atoi(argv[2]) : 5;
  char dir[] = "/tmp/quillon-config-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string path = std::string(dir) + "/command-line.json";
  std::string config = shortKeys(quillon::kMaxJsonFileBytes);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file || fwrite(config.data(), 1, config.size(), file) != config.size() || fclose(file))
    return 1;
  size_t members = quillon::parseJson(config)->size();
  double load = medianMs(runs, [&] {
    if (quillon::loadOverlay(path).startPage.empty()) abort();
  });
  std::string answer = "{\"ip\":\"203.0.113.7\"" + shortKeys(1 << 20).substr(27);
  double probe = medianMs(runs, [&] { quillon::classifyAnswer(answer, 0); });
  printf("launch configuration, %zu bytes, %zu members: %.1f ms to read (median of %d)\n",
         config.size(), members, load, runs);
  printf("egress answer, %zu bytes: %.1f ms to classify (median of %d)\n", answer.size(), probe,
         runs);
  remove(path.c_str());
  rmdir(dir);
  return 0;
}
