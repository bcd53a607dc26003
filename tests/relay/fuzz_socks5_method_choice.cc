// Fuzz target: any bytes as a SOCKS5 proxy's choice of method.
#include "fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes = fuzzBytes(data, size);
  socks5::Read r = checkedRead(socks5::readMethodChoice, bytes, 2);
  if (r.parse == socks5::Parse::done)
    require(r.used == 2 && (r.reply == socks5::kSucceeded) == (bytes[1] == '\x02'));
  return 0;
}
