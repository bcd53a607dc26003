#include "config/json_read.h"

#include "platform/files.h"

namespace quillon {

namespace {

bool nestingWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

}  // namespace

std::optional<Json> parseJson(std::string_view text) {
  // The parser stops at a NUL byte as if the text ended there; JSON text
  // never holds one, so such text is refused whole.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (!nestingWithin(text, kMaxJsonDepth)) return std::nullopt;
  Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<Json> readJsonObjectFile(const std::string& path) {
  std::optional<std::string> bytes = readRegularFile(path, kMaxJsonFileBytes);
  if (!bytes) return std::nullopt;
  std::optional<Json> value = parseJson(*bytes);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

}  // namespace quillon
