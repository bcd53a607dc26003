#include "engine_record.h"

#include <charconv>
#include <string_view>

namespace quillon::test {

namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  // "key VALUE\n" with VALUE read up to the line end.
  bool field(std::string_view key, std::string& value) {
    if (text_.compare(at_, key.size() + 1, std::string(key) + " ") != 0) return false;
    size_t end = text_.find('\n', at_);
    if (end == std::string::npos) return false;
    value = text_.substr(at_ + key.size() + 1, end - at_ - key.size() - 1);
    at_ = end + 1;
    return true;
  }

  template <typename Number>
  bool number(std::string_view key, Number& value, int base = 10) {
    std::string text;
    if (!field(key, text)) return false;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && ptr == text.data() + text.size();
  }

  // "LEN:BYTES\n"
  bool string(std::string& value) {
    size_t colon = text_.find(':', at_);
    if (colon == std::string::npos) return false;
    size_t length = 0;
    auto [ptr, ec] = std::from_chars(text_.data() + at_, text_.data() + colon, length);
    if (ec != std::errc() || ptr != text_.data() + colon) return false;
    if (colon + 1 + length + 1 > text_.size() || text_[colon + 1 + length] != '\n') return false;
    value = text_.substr(colon + 1, length);
    at_ = colon + 1 + length + 1;
    return true;
  }

  bool strings(std::string_view key, std::vector<std::string>& values) {
    long long count = 0;
    if (!number(key, count) || count < 0) return false;
    values.resize(static_cast<size_t>(count));
    for (std::string& value : values)
      if (!string(value)) return false;
    return true;
  }

  // "fd N LEN:TARGET\n"
  bool descriptor(std::map<int, std::string>& fds) {
    if (text_.compare(at_, 3, "fd ") != 0) return false;
    size_t space = text_.find(' ', at_ + 3);
    if (space == std::string::npos) return false;
    int fd = 0;
    auto [ptr, ec] = std::from_chars(text_.data() + at_ + 3, text_.data() + space, fd);
    if (ec != std::errc() || ptr != text_.data() + space) return false;
    at_ = space + 1;
    return string(fds[fd]);
  }

  bool atEnd() const { return at_ == text_.size(); }
  bool literal(std::string_view line) {
    if (text_.compare(at_, line.size(), line) != 0) return false;
    at_ += line.size();
    return true;
  }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

uint64_t signalBit(int sig) { return uint64_t{1} << (sig - 1); }

std::optional<EngineRecord> parseEngineRecord(const std::string& text) {
  Reader in(text);
  EngineRecord r;
  long long pid = 0, ppid = 0, sid = 0;
  if (!in.strings("argc", r.argv) || !in.strings("envc", r.env)) return std::nullopt;
  if (!in.number("pid", pid) || !in.number("ppid", ppid) || !in.number("sid", sid))
    return std::nullopt;
  while (in.descriptor(r.fds)) {
  }
  if (!in.number("sigblk", r.blockedSignals, 16) || !in.number("sigign", r.ignoredSignals, 16))
    return std::nullopt;
  if (!in.literal("end\n") || !in.atEnd()) return std::nullopt;
  r.pid = static_cast<pid_t>(pid);
  r.ppid = static_cast<pid_t>(ppid);
  r.sid = static_cast<pid_t>(sid);
  return r;
}

}  // namespace quillon::test
