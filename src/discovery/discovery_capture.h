// What the result report keeps of a discovery run.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct DiscoveryCapture {
  std::string ip;           // final result's ip (the rejected text on failure)
  std::string countryCode;  // as the endpoint sent it
  std::string provider;     // label of the endpoint the final result came from
  std::string timezone;
  int64_t elapsedMs = 0;  // both attempts after a fallback
};

}  // namespace quillon
