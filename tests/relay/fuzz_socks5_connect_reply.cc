// Fuzz target: any bytes as a SOCKS5 proxy's reply to the CONNECT; what
// follows the reply belongs to the tunnel, so its length must be exact.
#include "fuzz_read.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes = fuzzBytes(data, size);
  socks5::Read r = checkedRead(socks5::readConnectReply, bytes, 4 + 1 + 255 + 2);
  if (r.parse != socks5::Parse::done) return 0;
  size_t address = bytes[3] == 1 ? 4 : bytes[3] == 4 ? 16 : 1 + static_cast<uint8_t>(bytes[4]);
  require(r.used == 4 + address + 2 && r.reply == static_cast<uint8_t>(bytes[1]));
  return 0;
}
