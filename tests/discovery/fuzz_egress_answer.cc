// Fuzz target: any bytes as an endpoint's answer. Reading them must never
// crash, and the record must keep the promises its callers rely on.
#include "discovery/egress_answer.h"
#include "fuzz_require.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillon;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DiscoverResult r = classifyAnswer(bytes, 42);
  bool usable = scalarCount(r.ip) >= kMinIpChars && scalarCount(r.ip) <= kMaxIpChars;
  require(r.curlExitCode == 0 && r.elapsedMs == 42 && r.errorCode.empty() == usable);
  if (!isStrictUtf8(bytes))
    require(r.message == kNotUtf8Message && r.ip.empty());
  else if (!usable)
    require(r.message == noUsableIpMessage(size, leadingScalars(bytes, kAnswerHeadChars)));
  for (const std::string* field : {&r.ip, &r.countryCode, &r.timezone, &r.latitude, &r.longitude})
    require(isStrictUtf8(*field));
  if (bytes.find('{') == bytes.npos)  // no JSON: the candidate is one line of the input
    require(r.countryCode.empty() && bytes.find(r.ip) != bytes.npos &&
            r.ip.find_first_of("\r\n") == std::string::npos);
  require(classifyOversizedAnswer(bytes, size + 1000, 42).ip.empty());
  return 0;
}
