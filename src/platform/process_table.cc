#include "platform/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>

namespace quillon {

namespace {

std::optional<std::string> readProcFile(long pid, const char* name, size_t cap) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/%s", pid, name);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  ssize_t n;
  while (bytes.size() < cap && (n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, n);
  close(fd);
  if (bytes.size() > cap) bytes.resize(cap);
  return bytes;
}

}  // namespace

std::vector<long> processIds() {
  std::vector<long> pids;
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (dirent* entry = readdir(proc)) {
    const char* name = entry->d_name;
    long pid = 0;
    auto [end, ec] = std::from_chars(name, name + strlen(name), pid);
    if (ec == std::errc() && *end == '\0' && pid > 0) pids.push_back(pid);
  }
  closedir(proc);
  return pids;
}

std::optional<uint32_t> processUser(long pid) {
  std::optional<std::string> status = readProcFile(pid, "status", 16384);
  if (!status) return std::nullopt;
  size_t line = status->find("\nUid:");
  unsigned real = 0, effective = 0;
  if (line == std::string::npos ||
      sscanf(status->c_str() + line + 5, "%u %u", &real, &effective) != 2)
    return std::nullopt;
  return effective;
}

std::optional<uint64_t> processStartTime(long pid) {
  std::optional<std::string> stat = readProcFile(pid, "stat", 4096);
  // The name in parentheses may hold anything; the fields follow its last ")".
  size_t close = stat ? stat->rfind(')') : std::string::npos;
  if (close == std::string::npos) return std::nullopt;
  char state = 0;
  unsigned long long start = 0;
  // Field 3 is the state; field 22 the start time.
  if (sscanf(stat->c_str() + close + 1,
             " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
             &state, &start) != 2 ||
      state == 'Z' || state == 'X')
    return std::nullopt;
  return start;
}

bool inThisNetworkNamespace(long pid) {
  char path[64], own[64] = "", theirs[64] = "";
  snprintf(path, sizeof path, "/proc/%ld/ns/net", pid);
  ssize_t a = readlink("/proc/self/ns/net", own, sizeof own - 1);
  ssize_t b = readlink(path, theirs, sizeof theirs - 1);
  return a > 0 && a == b && memcmp(own, theirs, a) == 0;
}

std::optional<std::string> processCommandLine(long pid) {
  return readProcFile(pid, "cmdline", 256 * 1024);
}

std::vector<std::string> commandLineArguments(std::string_view raw) {
  if (raw.ends_with('\0')) raw.remove_suffix(1);
  std::vector<std::string> arguments;
  if (raw.find('\0') != std::string_view::npos) {
    for (size_t start = 0, end; start <= raw.size(); start = end + 1) {
      end = std::min(raw.find('\0', start), raw.size());
      arguments.emplace_back(raw.substr(start, end - start));
    }
    return arguments;
  }
  for (size_t start = 0, end; start <= raw.size() && !raw.empty(); start = end + 1) {
    end = std::min(raw.find(" --", start), raw.size());
    arguments.emplace_back(raw.substr(start, end - start));
  }
  return arguments;
}

}  // namespace quillon
