// The JSON string writer shared by both reports: the content of a string
// literal, without its quotes.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Escapes quote, backslash and control characters (LF, CR and tab in their
// short forms, every other one as \u00XX). Everything else passes through as
// UTF-8; a byte sequence that is not UTF-8 becomes U+FFFD, so the output is
// always valid JSON text.
std::string jsonEscape(std::string_view text);

}  // namespace quillon
