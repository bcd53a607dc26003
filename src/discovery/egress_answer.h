// Reading what an egress endpoint answered into a DiscoverResult: strict UTF-8,
// the JSON and plain-text shapes, the length rule. Pure, safe on any bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/discover_result.h"

namespace quillon {

// Characters are Unicode scalar values throughout: the length rule and the
// head of a rejected answer count scalars, not bytes or grapheme clusters.
inline constexpr size_t kMinIpChars = 7;   // "1.2.3.4"
inline constexpr size_t kMaxIpChars = 45;  // longest IPv6 text with IPv4 tail
inline constexpr size_t kAnswerHeadChars = 80;

inline constexpr const char* kNotUtf8Message = "curl exit 0 but response not UTF-8";

// The IP candidate and geo fields read from an answer. Geo fields are only
// ever set by the JSON shape.
struct EgressAnswer {
  std::string candidate;
  std::string countryCode;
  std::string timezone;
  std::string latitude;
  std::string longitude;
};

// True when the bytes are well-formed UTF-8: no overlong forms, surrogates,
// values above U+10FFFF or cut sequences.
bool isStrictUtf8(std::string_view bytes);

// Number of scalars in well-formed UTF-8 text.
size_t scalarCount(std::string_view utf8Text);

// The first count scalars of well-formed UTF-8 text (all of it when shorter).
std::string_view leadingScalars(std::string_view utf8Text, size_t count);

// Reads an answer already known to be UTF-8. After leading Unicode white
// space, "{" selects the JSON shape (the whole text must be one JSON object;
// otherwise everything is empty), anything else the plain shape (the first
// line that is not empty once trimmed of space separators and tabs).
EgressAnswer parseEgressAnswer(std::string_view utf8Text);

// The record for curl status 0 and these bytes on standard output.
DiscoverResult classifyAnswer(std::string_view rawBytes, int64_t elapsedMs);

// The record for an answer of totalBytes of which only the first keptBytes
// were kept. No IP service sends an answer that large, so it is refused as
// carrying no usable IP (or as not UTF-8 when the kept part is not), with the
// real size and the head of the kept part in the message and no candidate.
DiscoverResult classifyOversizedAnswer(std::string_view keptBytes, uint64_t totalBytes,
                                       int64_t elapsedMs);

// "curl exit 0 but no usable IP in response — got N bytes, head: \"…\""
std::string noUsableIpMessage(uint64_t responseBytes, std::string_view head);

}  // namespace quillon
