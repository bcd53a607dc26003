// Fuzz target: any bytes as a browser's SOCKS5 greeting.
#include "fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  socks5::Read r = checkedRead(socks5::readGreeting, fuzzBytes(data, size), 2 + 255);
  if (r.parse == socks5::Parse::done)
    require((r.reply == socks5::kSucceeded || r.reply == socks5::kNotAllowed) &&
            socks5::greetingAnswer(r.reply).size() == 2);
  return 0;
}
