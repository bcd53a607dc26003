#include "engine_record.h"

#include <charconv>

namespace quillon::test {

namespace {

template <typename Number>
bool toNumber(const std::string& text, Number& value, int base = 10) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// One "KEY LEN:BYTES\n" item at `at`; false when there is none.
bool nextItem(const std::string& text, size_t& at, std::string& key, std::string& value) {
  size_t space = text.find(' ', at), colon = text.find(':', space);
  size_t length = 0;
  if (colon == std::string::npos || !toNumber(text.substr(space + 1, colon - space - 1), length))
    return false;
  if (colon + 1 + length >= text.size() || text[colon + 1 + length] != '\n') return false;
  key = text.substr(at, space - at);
  value = text.substr(colon + 1, length);
  at = colon + 2 + length;
  return true;
}

bool addItem(EngineRecord& r, const std::string& key, const std::string& value) {
  if (key == "arg")
    r.argv.push_back(value);
  else if (key == "env")
    r.env.push_back(value);
  else if (key == "pid")
    return toNumber(value, r.pid);
  else if (key == "ppid")
    return toNumber(value, r.ppid);
  else if (key == "sid")
    return toNumber(value, r.sid);
  else if (key == "sigblk")
    return toNumber(value, r.blockedSignals, 16);
  else if (key == "sigign")
    return toNumber(value, r.ignoredSignals, 16);
  else if (key == "fd") {
    size_t space = value.find(' ');
    int fd = -1;
    if (space == std::string::npos || !toNumber(value.substr(0, space), fd)) return false;
    r.fds[fd] = value.substr(space + 1);
  } else
    return false;
  return true;
}

}  // namespace

std::optional<EngineRecord> parseEngineRecord(const std::string& text) {
  EngineRecord r;
  std::string key, value;
  for (size_t at = 0; nextItem(text, at, key, value);) {
    if (key == "end") return at == text.size() && r.pid > 0 ? std::optional(r) : std::nullopt;
    if (!addItem(r, key, value)) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quillon::test
