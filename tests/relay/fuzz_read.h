// What the relay's parser fuzz targets check of every reading beyond not crashing: a message is
// whole at exactly one length (bytes come in pieces of any size); bytes after it change nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/fuzz_require.h"
#include "relay/socks5.h"

namespace quillon {

inline std::string_view fuzzBytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Reads bytes with `read`; an incomplete reading is only ever shorter than `longest`, the
// longest message the reader can be waiting for.
inline socks5::Read checkedRead(socks5::Read (*read)(std::string_view), std::string_view bytes,
                                size_t longest) {
  using socks5::Parse;
  socks5::Read got = read(bytes);
  require(got.parse == Parse::done || got.used == 0);
  if (got.parse == Parse::incomplete) require(bytes.size() < longest);
  if (got.parse != Parse::done) return got;
  require(got.used > 0 && got.used <= bytes.size() && got.used <= longest);
  std::string_view message = bytes.substr(0, got.used);
  socks5::Read alone = read(message);
  require(alone.parse == Parse::done && alone.used == got.used && alone.reply == got.reply);
  for (size_t shorter : {size_t{0}, size_t{1}, got.used / 2, got.used - 1})
    if (shorter < got.used) require(read(message.substr(0, shorter)).parse == Parse::incomplete);
  return got;
}

}  // namespace quillon
