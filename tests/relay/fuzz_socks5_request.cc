// Fuzz target: any bytes as a browser's SOCKS5 request. A target it takes becomes an authority of
// host name characters only, whatever came: it goes into an HTTP proxy's request line as it is.
#include "fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes = fuzzBytes(data, size);
  socks5::Read r = checkedRead(socks5::readRequest, bytes, 4 + 1 + 255 + 2);
  if (r.parse != socks5::Parse::done || r.reply != socks5::kSucceeded) return 0;
  std::string_view target = bytes.substr(3, r.used - 3);
  std::string authority = socks5::targetAuthority(target);
  require(authority.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "0123456789-_.:[]") == std::string::npos);
  unsigned port = static_cast<uint8_t>(target[target.size() - 2]) << 8 |
                  static_cast<uint8_t>(target[target.size() - 1]);
  require(authority.ends_with(":" + std::to_string(port)));
  require(socks5::connectRequest(target) == std::string(bytes.substr(0, r.used)));
  return 0;
}
