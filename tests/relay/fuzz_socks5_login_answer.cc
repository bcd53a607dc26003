// Fuzz target: any bytes as a SOCKS5 proxy's answer to the login.
#include "fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes = fuzzBytes(data, size);
  socks5::Read r = checkedRead(socks5::readLoginAnswer, bytes, 2);
  if (r.parse == socks5::Parse::done)
    require(r.used == 2 && (r.reply == socks5::kSucceeded) == (bytes[1] == 0));
  return 0;
}
