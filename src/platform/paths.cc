#include "platform/paths.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace quillon {

namespace {

// Field index (from 0) of a ':'-separated line, or "" when it has fewer.
std::string_view field(std::string_view line, int index) {
  for (; index > 0; --index) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    line.remove_prefix(colon + 1);
  }
  return line.substr(0, line.find(':'));
}

// The home field of the user's entry in /etc/passwd. The launcher is linked
// statically, without the name service switch, so it reads the file itself.
std::string homeFromPasswd(uid_t uid) {
  std::optional<std::string> passwd = readRegularFile("/etc/passwd", size_t{4} * 1024 * 1024);
  if (!passwd) return "";
  std::string uidText = std::to_string(uid);
  std::string_view rest = *passwd;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    // name:password:uid:gid:gecos:home:shell
    if (field(line, 2) == uidText) return std::string(field(line, 5));
  }
  return "";
}

}  // namespace

std::string launcherDirectory() {
  std::vector<char> buf(4096);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) return parentPath(std::string(buf.data(), n));
    buf.resize(buf.size() * 4);
  }
  return "";
}

std::string homeDirectory() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  std::string fromPasswd = homeFromPasswd(getuid());
  return fromPasswd.empty() ? "/" : fromPasswd;
}

std::string appSupportDirectory() {
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return joinPath(xdg, "Quillon");
  return joinPath(joinPath(homeDirectory(), ".config"), "Quillon");
}

std::string currentDirectory() {
  std::vector<char> buf(4096);
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (getcwd(buf.data(), buf.size())) return buf.data();
    if (errno != ERANGE) return "";
    buf.resize(buf.size() * 4);
  }
  return "";
}

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string withoutDotSegments(const std::string& path) {
  std::string out;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = std::min(path.find('/', at), path.size());
    std::string_view segment = std::string_view(path).substr(at, end - at);
    bool last = end == path.size();
    if (segment == "..") {  // drops the last segment written, never the root
      if (out.size() > 1) out.erase(out.rfind('/', out.size() - 2) + 1);
    } else if (segment != ".") {
      out.append(segment);
      if (!last) out += '/';
    }
    at = end + 1;
  }
  return out;
}

std::string parentPath(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace quillon
