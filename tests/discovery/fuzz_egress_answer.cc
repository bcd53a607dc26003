// Fuzz target: any bytes as an endpoint's answer. Reading them must never
// crash, and the record must keep the promises its callers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "discovery/egress_answer.h"

namespace {

using namespace quillon;

void require(bool promise) {
  if (!promise) abort();
}

bool geoEmpty(const DiscoverResult& r) {
  return r.countryCode.empty() && r.timezone.empty() && r.latitude.empty() && r.longitude.empty();
}

bool hasLineBreak(std::string_view text) {
  for (std::string_view br : {"\n", "\x0b", "\x0c", "\r", "\u0085", "\u2028", "\u2029"})
    if (text.find(br) != std::string_view::npos) return true;
  return false;
}

void checkRecord(std::string_view bytes, const DiscoverResult& r) {
  require(r.curlExitCode == 0 && r.elapsedMs == 42);
  bool utf8 = isStrictUtf8(bytes);
  if (r.errorCode.empty()) {
    size_t length = scalarCount(r.ip);
    require(utf8 && r.message.empty());
    require(length >= kMinIpChars && length <= kMaxIpChars);
  } else if (!utf8) {
    require(r.errorCode == kErrorDiscoveryHttp && r.message == kNotUtf8Message);
    require(r.ip.empty() && geoEmpty(r));
  } else {
    require(r.errorCode == kErrorDiscoveryHttp);
    require(r.message == noUsableIpMessage(bytes.size(), leadingScalars(bytes, kAnswerHeadChars)));
    size_t length = scalarCount(r.ip);
    require(length < kMinIpChars || length > kMaxIpChars);
  }
  for (const std::string* field :
       {&r.ip, &r.message, &r.countryCode, &r.timezone, &r.latitude, &r.longitude})
    require(isStrictUtf8(*field));
}

void checkAnswer(std::string_view bytes, const DiscoverResult& r) {
  if (!isStrictUtf8(bytes)) return;
  EgressAnswer a = parseEgressAnswer(bytes);
  require(a.candidate == r.ip && a.countryCode == r.countryCode && a.timezone == r.timezone &&
          a.latitude == r.latitude && a.longitude == r.longitude);
  // Without a brace there is no JSON: the candidate is one line of the input.
  if (bytes.find('{') == std::string_view::npos) {
    require(geoEmpty(r));
    require(bytes.find(a.candidate) != std::string_view::npos);
    require(!hasLineBreak(a.candidate));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DiscoverResult r = classifyAnswer(bytes, 42);
  checkRecord(bytes, r);
  checkAnswer(bytes, r);
  DiscoverResult oversized = classifyOversizedAnswer(bytes, size + 1000, 42);
  require(oversized.errorCode == kErrorDiscoveryHttp && oversized.ip.empty());
  return 0;
}
