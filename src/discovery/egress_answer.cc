#include "discovery/egress_answer.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "config/json_read.h"
#include "report/utf8.h"

namespace quillon {

namespace {

// Unicode White_Space: what is skipped before the shape is chosen.
bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Line breaks of the plain shape: LF, VT, FF, CR, NEL, LS, PS.
bool isLineBreak(char32_t c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Tab and the space separators (general category Zs): trimmed off a line.
bool isSpaceSeparator(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// Calls visit(scalar, offset, length) for each scalar of valid UTF-8 until
// it returns false.
template <typename Visit>
void forEachScalar(std::string_view text, Visit visit) {
  size_t i = 0;
  while (i < text.size()) {
    char32_t c = 0;
    size_t length = decodeUtf8Scalar(text, i, c);
    if (length == 0) length = 1;  // only reached on text that is not UTF-8
    if (!visit(c, i, length)) return;
    i += length;
  }
}

std::string_view trimSpaceSeparators(std::string_view line) {
  size_t begin = line.size();
  size_t end = 0;
  forEachScalar(line, [&](char32_t c, size_t at, size_t length) {
    if (!isSpaceSeparator(c)) {
      if (begin == line.size()) begin = at;
      end = at + length;
    }
    return true;
  });
  if (begin >= end) return {};
  return line.substr(begin, end - begin);
}

EgressAnswer parsePlainShape(std::string_view text) {
  EgressAnswer answer;
  size_t lineStart = 0;
  bool found = false;
  auto takeLine = [&](size_t end) {
    std::string_view trimmed = trimSpaceSeparators(text.substr(lineStart, end - lineStart));
    if (trimmed.empty()) return false;
    answer.candidate = std::string(trimmed);
    return true;
  };
  forEachScalar(text, [&](char32_t c, size_t at, size_t length) {
    if (!isLineBreak(c)) return true;
    found = takeLine(at);
    lineStart = at + length;
    return !found;
  });
  if (!found) takeLine(text.size());
  return answer;
}

std::string stringMember(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return "";
  return it->get_ref<const std::string&>();
}

std::string coordinateMember(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return "";
  if (it->is_string()) return it->get_ref<const std::string&>();
  if (it->is_boolean()) return it->get<bool>() ? "1" : "0";
  return numberText(*it);
}

EgressAnswer parseJsonShape(std::string_view text) {
  EgressAnswer answer;
  std::optional<Json> value = parseJson(text);
  if (!value || !value->is_object()) return answer;
  answer.candidate = stringMember(*value, "ip");
  answer.countryCode = stringMember(*value, "country_code");
  answer.timezone = stringMember(*value, "timezone");
  answer.latitude = coordinateMember(*value, "latitude");
  answer.longitude = coordinateMember(*value, "longitude");
  return answer;
}

bool startsWithBrace(std::string_view text) {
  bool brace = false;
  forEachScalar(text, [&](char32_t c, size_t, size_t) {
    if (isWhiteSpace(c)) return true;
    brace = c == U'{';
    return false;
  });
  return brace;
}

DiscoverResult answerFailure(int64_t elapsedMs, std::string message) {
  DiscoverResult result;
  result.curlExitCode = 0;
  result.elapsedMs = elapsedMs;
  result.errorCode = kErrorDiscoveryHttp;
  result.message = std::move(message);
  return result;
}

}  // namespace

bool isStrictUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    // Runs of ASCII are the common case; take them a byte at a time.
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c = 0;
    size_t length = decodeUtf8Scalar(bytes, i, c);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

size_t scalarCount(std::string_view utf8Text) {
  size_t count = 0;
  for (char byte : utf8Text)
    if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++count;
  return count;
}

std::string_view leadingScalars(std::string_view utf8Text, size_t count) {
  size_t end = 0;
  size_t taken = 0;
  forEachScalar(utf8Text, [&](char32_t, size_t at, size_t length) {
    if (taken == count) return false;
    ++taken;
    end = at + length;
    return true;
  });
  return utf8Text.substr(0, end);
}

EgressAnswer parseEgressAnswer(std::string_view utf8Text) {
  if (startsWithBrace(utf8Text)) return parseJsonShape(utf8Text);
  return parsePlainShape(utf8Text);
}

DiscoverResult classifyAnswer(std::string_view rawBytes, int64_t elapsedMs) {
  if (!isStrictUtf8(rawBytes)) return answerFailure(elapsedMs, kNotUtf8Message);
  EgressAnswer answer = parseEgressAnswer(rawBytes);
  size_t length = scalarCount(answer.candidate);
  DiscoverResult result;
  if (length < kMinIpChars || length > kMaxIpChars)
    result = answerFailure(
        elapsedMs, noUsableIpMessage(rawBytes.size(), leadingScalars(rawBytes, kAnswerHeadChars)));
  result.ip = std::move(answer.candidate);
  result.curlExitCode = 0;
  result.elapsedMs = elapsedMs;
  result.countryCode = std::move(answer.countryCode);
  result.timezone = std::move(answer.timezone);
  result.latitude = std::move(answer.latitude);
  result.longitude = std::move(answer.longitude);
  return result;
}

DiscoverResult classifyOversizedAnswer(std::string_view keptBytes, uint64_t totalBytes,
                                       int64_t elapsedMs) {
  // The cut may fall inside a character: the last three bytes are not judged.
  bool utf8 = false;
  for (size_t cut = 0; cut < 4 && cut <= keptBytes.size() && !utf8; ++cut) {
    std::string_view whole = keptBytes.substr(0, keptBytes.size() - cut);
    if (isStrictUtf8(whole)) {
      utf8 = true;
      keptBytes = whole;
    }
  }
  if (!utf8) return answerFailure(elapsedMs, kNotUtf8Message);
  return answerFailure(elapsedMs,
                       noUsableIpMessage(totalBytes, leadingScalars(keptBytes, kAnswerHeadChars)));
}

std::string noUsableIpMessage(uint64_t responseBytes, std::string_view head) {
  std::string message = "curl exit 0 but no usable IP in response \u2014 got ";
  message += std::to_string(responseBytes);
  message += " bytes, head: \"";
  message.append(head);
  message += '"';
  return message;
}

}  // namespace quillon
