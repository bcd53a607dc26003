// Fuzz target: any bytes as an HTTP proxy's answer to the CONNECT. The head ends at its first
// empty line, never later; a 2xx status alone opens the tunnel.
#include "fuzz_read.h"
#include "relay/http_connect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes = fuzzBytes(data, size);
  socks5::Read r = checkedRead(http::readConnectAnswer, bytes, http::kMaxAnswerHead);
  if (r.parse != socks5::Parse::done) return 0;
  require(bytes.find("\r\n\r\n") == r.used - 4);
  require(bytes.starts_with("HTTP/1.") && (r.reply == socks5::kSucceeded) == (bytes[9] == '2'));
  return 0;
}
