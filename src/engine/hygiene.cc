#include "engine/hygiene.h"

#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process_info.h"

namespace quillon {

namespace {

struct StorageKind {
  const char* name;
  std::vector<const char*> profilePaths;
  std::vector<const char*> userDataPaths;  // removed first, beside the profile
};

const std::vector<StorageKind>& storageKinds() {
  static const std::vector<StorageKind> kinds = {
      {"cookies", {"Cookies", "Cookies-journal", "Network/Cookies", "Network/Cookies-journal"}, {}},
      {"file_systems", {"File System"}, {}},
      {"indexeddb", {"IndexedDB"}, {}},
      {"local_storage", {"Local Storage"}, {}},
      {"shader_cache", {"GPUCache"}, {"ShaderCache", "GraphiteDawnCache"}},
      {"websql", {"databases"}, {}},
      {"service_workers", {"Service Worker"}, {}},
      {"cache_storage", {"Service Worker/CacheStorage"}, {}},
      {"interest_groups", {"InterestGroups"}, {}},
      {"shared_storage", {"Shared Storage", "Shared Storage-journal"}, {}},
      {"storage_buckets", {"StorageBuckets"}, {}},
  };
  return kinds;
}

bool isRealDirectory(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<long> profileEnginePid(const std::string& userDataDir) {
  std::optional<std::string> lock = linkTarget(joinPath(userDataDir, "SingletonLock"));
  if (!lock) return std::nullopt;
  // The host name may itself hold dashes; the process id follows the last.
  size_t dash = lock->rfind('-');
  if (dash == std::string::npos || lock->substr(0, dash) != hostName()) return std::nullopt;
  long pid = 0;
  const char* end = lock->data() + lock->size();
  auto [stop, ec] = std::from_chars(lock->data() + dash + 1, end, pid);
  if (ec != std::errc() || stop != end || !processExists(pid)) return std::nullopt;
  return pid;
}

bool profileInUse(const std::string& userDataDir) {
  return profileEnginePid(userDataDir).has_value();
}

HygieneSkip hygieneSkip(const std::optional<std::string>& userDataDir) {
  if (!userDataDir || userDataDir->empty()) return HygieneSkip::noUserDataDir;
  return profileInUse(*userDataDir) ? HygieneSkip::profileInUse : HygieneSkip::none;
}

std::optional<std::string> hygieneTarget(const std::string& base, const std::string& relative) {
  std::string path = base;
  size_t start = 0;
  for (size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
    path = joinPath(path, relative.substr(start, slash - start));
    if (!isRealDirectory(path)) return std::nullopt;
  }
  return joinPath(path, relative.substr(start));
}

void removeQuietly(const std::string& base, const std::string& relative) {
  std::optional<std::string> target = hygieneTarget(base, relative);
  if (!target) return;
  std::error_code ignored;
  std::filesystem::remove_all(*target, ignored);
}

std::vector<std::string> hygieneItems(bool closePreviousTabs,
                                      const std::map<std::string, bool>& kinds) {
  std::vector<std::string> items;
  if (closePreviousTabs) {
    for (const char* item :
         {"Current Tabs", "Current Session", "Last Tabs", "Last Session", "Sessions"})
      items.push_back(std::string("Default/") + item);
  }
  if (kinds.empty()) return items;
  auto selected = [&kinds](const char* name) {
    auto it = kinds.find(name);
    return it != kinds.end() && it->second;
  };
  bool all = selected("all");
  for (const StorageKind& kind : storageKinds()) {
    // "all" covers the cache storage through "Service Worker" itself.
    if (all ? std::string_view(kind.name) == "cache_storage" : !selected(kind.name)) continue;
    for (const char* path : kind.userDataPaths) items.emplace_back(path);
    for (const char* path : kind.profilePaths) items.push_back(std::string("Default/") + path);
  }
  return items;
}

}  // namespace quillon
