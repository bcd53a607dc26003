// Text as the progress window's labels show it: always on one line.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// The text with every control character (U+0000 to U+001F, U+007F to U+009F)
// and the line and paragraph separators (U+2028, U+2029) replaced by U+FFFD,
// which every font of the window draws in one column: a value holding a line
// break shows where the break was and never draws a second line. Bytes that
// are not UTF-8 stay as they are (the toolkit shows them as U+FFFD too).
std::string singleLineText(std::string_view text);

}  // namespace quillon
