#include "ui/label_text.h"

#include "report/utf8.h"

namespace quillon {

namespace {

bool breaksOrControls(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::string singleLineText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0;
    size_t n = decodeUtf8Scalar(text, i, c);
    if (n > 0 && breaksOrControls(c))
      out += "\uFFFD";
    else
      out.append(text.substr(i, n ? n : 1));
    i += n ? n : 1;
  }
  return out;
}

}  // namespace quillon
