#include "ui/summary.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "config/proxy_url.h"
#include "report/utf8.h"
#include "ui/label_text.h"

namespace quillon {

namespace {

constexpr const char* kRawSwitchesKey = "chrome-command-line";
constexpr const char* kEllipsis = "\u2026";
constexpr size_t kMaxKeyColumn = 28;
constexpr size_t kLongValue = 37;  // values this long or longer are cut
constexpr size_t kValueKept = 33;

// Code points that attach to the character before them.
bool extendsCluster(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kExtending[] = {
      {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD},   {0x05BF, 0x05C7},
      {0x0610, 0x061A},   {0x064B, 0x065F},   {0x0670, 0x0670},   {0x06D6, 0x06ED},
      {0x0900, 0x0903},   {0x093A, 0x094F},   {0x0951, 0x0957},   {0x0962, 0x0963},
      {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},   {0x0E47, 0x0E4E},   {0x1160, 0x11FF},
      {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},   {0x200C, 0x200D},   {0x20D0, 0x20FF},
      {0x302A, 0x302F},   {0x3099, 0x309A},   {0xFE00, 0xFE0F},   {0xFE20, 0xFE2F},
      {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
  };
  for (const Range& r : kExtending)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

bool isRegionalIndicator(char32_t c) {
  return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Byte offsets where each user-perceived character starts, then the size.
// A byte that is not well-formed UTF-8 counts as a character of its own.
std::vector<size_t> clusterBounds(std::string_view text) {
  std::vector<size_t> bounds;
  char32_t previous = 0;
  bool pairOpen = false;  // a lone regional indicator waits for its partner
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0;
    size_t n = decodeUtf8Scalar(text, i, c);
    bool joins = false;
    if (n == 0) {
      n = 1;
      c = 0xFFFD;
    } else if (!bounds.empty()) {
      joins = extendsCluster(c) || previous == 0x200D || (pairOpen && isRegionalIndicator(c));
    }
    if (!joins) bounds.push_back(i);
    pairOpen = isRegionalIndicator(c) && !(joins && pairOpen);
    previous = c;
    i += n;
  }
  bounds.push_back(text.size());
  return bounds;
}

// The first count user-perceived characters of text.
std::string_view leading(std::string_view text, size_t count) {
  std::vector<size_t> bounds = clusterBounds(text);
  return text.substr(0, bounds[std::min(count, bounds.size() - 1)]);
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& ch : out)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return out;
}

std::vector<std::string> sortedActiveKeys(const Json& object, bool skipReserved) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) {
    if (skipReserved && (key.starts_with('_') || key == kRawSwitchesKey)) continue;
    if (isActiveValue(value)) keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());  // byte order of UTF-8 is scalar order
  return keys;
}

// The window never shows a proxy's password: in the value of a proxy key, or
// in a switch written whole as a key ("--proxy-server=URL").
constexpr std::string_view kProxySwitch = "--proxy-server=";

std::string shownKey(const std::string& key) {
  if (!key.starts_with(kProxySwitch)) return key;
  return std::string(kProxySwitch) +
         maskedProxyUrl(std::string_view(key).substr(kProxySwitch.size()));
}

std::string shownValue(const std::string& key, const Json* value) {
  std::string text = displayValue(value);
  return key == "proxy-server" || key == "--proxy-server" ? maskedProxyUrl(text) : text;
}

size_t keyColumnWidth(const std::vector<std::string>& keys) {
  size_t longest = 0;
  for (const std::string& key : keys) longest = std::max(longest, perceivedLength(shownKey(key)));
  return std::min(kMaxKeyColumn, longest);
}

// Rows of one section from its last key up, then its header; returns the y
// above the header.
int addSection(std::vector<SummaryLine>& lines, const std::string& title,
               const std::vector<std::string>& keys, const Json& values, int y,
               const SummaryMetrics& m) {
  size_t width = keyColumnWidth(keys);
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    auto found = values.find(*key);
    std::string value = shownValue(*key, found == values.end() ? nullptr : &*found);
    lines.push_back(
        {false, summaryRowText(shownKey(*key), value, width), m.left, y, m.width, m.rowHeight});
    y += m.rowHeight;
  }
  lines.push_back(
      {true, title + " (" + std::to_string(keys.size()) + ")", m.left, y, m.width, m.headerHeight});
  return y + m.headerHeight;
}

}  // namespace

SummaryKeys collectSummaryKeys(const std::optional<Json>& source) {
  SummaryKeys keys;
  if (!source || !source->is_object()) return keys;
  auto raw = source->find(kRawSwitchesKey);
  if (raw != source->end() && raw->is_object()) keys.rawSwitches = *raw;
  keys.overrideKeys = sortedActiveKeys(*source, true);
  if (keys.rawSwitches) keys.rawKeys = sortedActiveKeys(*keys.rawSwitches, false);
  return keys;
}

bool isActiveValue(const Json& value) {
  if (value.is_null()) return false;
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0.0;
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    size_t last = text.find_last_not_of(" \t");
    std::string word = lowerAscii(std::string_view(text).substr(first, last - first + 1));
    return word != "false" && word != "0" && word != "off" && word != "no";
  }
  return true;  // arrays and objects, empty ones included
}

std::string displayValue(const Json* value) {
  if (!value || value->is_null()) return "";
  if (value->is_string()) return value->get<std::string>();
  if (value->is_boolean()) return value->get<bool>() ? "true" : "false";
  if (value->is_number()) return numberText(*value);  // whole numbers without a fraction
  try {
    return value->dump();
  } catch (const Json::exception&) {
    return value->is_array() ? "array of " + std::to_string(value->size()) + " items"
                             : "object of " + std::to_string(value->size()) + " members";
  }
}

size_t perceivedLength(std::string_view text) {
  return clusterBounds(text).size() - 1;
}

std::string summaryRowText(std::string_view rawKey, std::string_view rawValue,
                           size_t keyColumnWidth) {
  const std::string key = singleLineText(rawKey), value = singleLineText(rawValue);
  std::string text;
  size_t keyLength = perceivedLength(key);
  if (keyLength > keyColumnWidth) {
    text = std::string(leading(key, std::max<size_t>(keyColumnWidth, 2) - 1)) + kEllipsis;
    keyLength = std::max<size_t>(keyColumnWidth, 2);
  } else {
    text = std::string(key);
  }
  text.append(keyColumnWidth > keyLength ? keyColumnWidth - keyLength : 0, ' ');
  text += "  ";
  if (perceivedLength(value) >= kLongValue)
    text += std::string(leading(value, kValueKept)) + kEllipsis;
  else
    text += value;
  return text;
}

int summaryHeight(const SummaryKeys& keys, const SummaryMetrics& m) {
  // A section is its header, the 4 points above it and its rows.
  auto section = [&m](size_t rows) {
    return m.headerHeight + 4 + m.rowHeight * static_cast<int>(rows);
  };
  int height = keys.overrideKeys.empty() ? 0 : section(keys.overrideKeys.size());
  if (!keys.rawKeys.empty())
    height += (height > 0 ? m.sectionGap : 0) + section(keys.rawKeys.size());
  return height;
}

std::vector<SummaryLine> layoutSummary(const std::optional<Json>& source, const SummaryKeys& keys,
                                       const SummaryMetrics& m) {
  std::vector<SummaryLine> lines;
  int y = m.bottom;
  if (!keys.rawKeys.empty() && keys.rawSwitches) {
    y = addSection(lines, "Raw Chromium switches", keys.rawKeys, *keys.rawSwitches, y, m) + 4;
    if (!keys.overrideKeys.empty()) y += m.sectionGap;
  }
  if (!keys.overrideKeys.empty() && source)
    addSection(lines, "Active overrides", keys.overrideKeys, *source, y, m);
  return lines;
}

}  // namespace quillon
