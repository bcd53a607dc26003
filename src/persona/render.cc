#include "persona/render.h"

#include <unistd.h>

#include <algorithm>
#include <optional>

#include "config/proxy_url.h"
#include "platform/process_info.h"
#include "report/utf8.h"

namespace quillon {

namespace {

// The embeddings, overrides and isolates that reorder the text around them.
bool isBidiControl(char32_t scalar) {
  return (scalar >= 0x202a && scalar <= 0x202e) || (scalar >= 0x2066 && scalar <= 0x2069);
}

bool isUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    char32_t scalar = 0;
    size_t length = decodeUtf8Scalar(text, i, scalar);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Not a string, or a string of well-formed UTF-8.
bool isUtf8Text(const Json& value) {
  return !value.is_string() || isUtf8(value.get_ref<const std::string&>());
}

// The member's escaped form when its text, or an element's, is not UTF-8.
std::optional<Json> escapedForm(const Json& value) {
  if (value.is_string() && !isUtf8Text(value)) return escapeText(value.get<std::string>());
  if (!value.is_array() || std::all_of(value.begin(), value.end(), isUtf8Text)) return {};
  Json escaped = Json::array();
  for (const Json& element : value)
    escaped.push_back(element.is_string() ? Json(escapeText(element.get<std::string>())) : element);
  return escaped;
}

// Beside each member whose text is not UTF-8, NAME_escaped, in objects at
// any depth.
void addEscapedForms(Json& object) {
  std::vector<std::pair<std::string, Json>> added;
  for (auto& [key, value] : object.items()) {
    if (value.is_object()) addEscapedForms(value);
    if (std::optional<Json> escaped = escapedForm(value))
      added.emplace_back(key + "_escaped", std::move(*escaped));
  }
  for (auto& [key, value] : added) object[key] = std::move(value);
}

}  // namespace

std::string escapeText(std::string_view bytes) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t scalar = 0;
    size_t length = decodeUtf8Scalar(bytes, i, scalar);
    bool control = scalar < 0x20 || scalar == 0x7f || (scalar >= 0x80 && scalar < 0xa0) ||
                   isBidiControl(scalar);
    if (length > 0 && !control) {
      if (scalar == '\\') out += '\\';
      out.append(bytes.substr(i, length));
    } else if (length == 1 && (scalar == '\n' || scalar == '\t')) {
      out += scalar == '\n' ? "\\n" : "\\t";
    } else {
      // Every byte of a control character, or the one byte that is not UTF-8.
      length = std::max<size_t>(length, 1);
      for (size_t k = 0; k < length; ++k) {
        unsigned char b = static_cast<unsigned char>(bytes[i + k]);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    }
    i += length;
  }
  return out;
}

size_t displayWidth(std::string_view text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size(); ++width) {
    char32_t scalar = 0;
    size_t length = decodeUtf8Scalar(text, i, scalar);
    i += length == 0 ? 1 : length;
  }
  return width;
}

std::string maskedProxy(std::string_view proxyUrl) {
  ProxyUrl parts = splitProxyUrl(proxyUrl);
  if (!parts.userinfo) return std::string(proxyUrl);
  std::string_view user = parts.userinfo->substr(0, parts.userinfo->find(':'));
  std::string out;
  if (!parts.scheme.empty()) out.append(parts.scheme).append("://");
  out.append(user);
  if (user.size() != parts.userinfo->size()) out += ":***";
  return out.append("@").append(parts.hostPart);
}

std::string withProxyMasked(std::string text, std::string_view proxyUrl) {
  if (proxyUrl.empty()) return text;
  const std::string masked = maskedProxy(proxyUrl);
  for (size_t at = 0; (at = text.find(proxyUrl, at)) != std::string::npos; at += masked.size())
    text.replace(at, proxyUrl.size(), masked);
  return text;
}

std::string ageText(int64_t seconds) {
  if (seconds < 0) return "-";
  if (seconds < 120) return std::to_string(seconds) + "s";
  if (seconds < int64_t{2} * 3600) return std::to_string(seconds / 60) + "m";
  if (seconds < int64_t{2} * 86400) return std::to_string(seconds / 3600) + "h";
  return std::to_string(seconds / 86400) + "d";
}

std::string paint(std::string_view text, const char* colour, bool on) {
  if (!on || !colour || !*colour) return std::string(text);
  return std::string("\x1b[") + colour + "m" + std::string(text) + "\x1b[0m";
}

std::string renderTable(const std::vector<Row>& rows, bool colour) {
  std::vector<size_t> widths;
  for (const Row& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size());
    for (size_t c = 0; c < row.size(); ++c)
      widths[c] = std::max(widths[c], displayWidth(row[c].text));
  }
  std::string out;
  for (const Row& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      out += paint(row[c].text, row[c].colour, colour);
      if (c + 1 < row.size()) out.append(widths[c] - displayWidth(row[c].text) + 2, ' ');
    }
    out += '\n';
  }
  return out;
}

bool colourWanted() {
  std::optional<std::string> noColour = environmentValue("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 && (!noColour || noColour->empty());
}

std::string jsonLine(Json value) {
  if (value.is_object()) addEscapedForms(value);
  return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace quillon
