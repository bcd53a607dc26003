// Rendering for quillon-persona: names and values made safe for a terminal,
// the proxy with its password masked, ages, aligned columns, colour, and
// JSON lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/json_read.h"

namespace quillon {

// The text with backslash, control characters, bidirectional controls
// (U+202A-202E, U+2066-2069) and bytes that are not UTF-8 escaped ("\\",
// "\n", "\t", "\xNN" for each byte); everything else as it is. The bytes
// can be had back from it.
std::string escapeText(std::string_view bytes);

// Columns the text takes: one per Unicode scalar of well-formed UTF-8.
size_t displayWidth(std::string_view text);

// The proxy URL with its password replaced by "***" (the user name stays).
std::string maskedProxy(std::string_view proxyUrl);

// Every occurrence of the proxy URL in text replaced by its masked form.
std::string withProxyMasked(std::string text, std::string_view proxyUrl);

// "45s", "12m", "3h", "4d"; "-" for none.
std::string ageText(int64_t seconds);

struct Cell {
  std::string text;         // already escaped
  const char* colour = "";  // an SGR parameter such as "32", or ""
};
using Row = std::vector<Cell>;

// The rows with every column but the last padded to its widest cell, two
// spaces apart, one line each; colour codes only when colour is true.
std::string renderTable(const std::vector<Row>& rows, bool colour);

// text in the SGR colour when on.
std::string paint(std::string_view text, const char* colour, bool on);

// Standard output is a terminal and NO_COLOR is unset or empty.
bool colourWanted();

// The value as one line of JSON. Text that is not UTF-8 shows U+FFFD, and
// its member (a string, or an array holding one) has a second one beside it,
// its name + "_escaped", holding it as escapeText gives it.
std::string jsonLine(Json value);

}  // namespace quillon
