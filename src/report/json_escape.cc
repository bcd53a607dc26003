#include "report/json_escape.h"

#include <cstdio>

#include "report/utf8.h"

namespace quillon {

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else if (char32_t scalar; size_t length = decodeUtf8Scalar(text, i, scalar)) {
          out.append(text.substr(i, length));
          i += length;
          continue;
        } else {
          out += "\xEF\xBF\xBD";
        }
    }
    ++i;
  }
  return out;
}

}  // namespace quillon
