// The overrides summary at the foot of the progress window: which keys of the
// launch configuration are listed, in which order, and how each row reads.
// Plain data, no drawing: the window turns the lines into labels.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/json_read.h"

namespace quillon {

struct SummaryKeys {
  std::vector<std::string> overrideKeys;  // active top-level keys, sorted
  std::vector<std::string> rawKeys;       // active keys of "chrome-command-line", sorted
  std::optional<Json> rawSwitches;        // "chrome-command-line" when it is an object
};

// The keys to list for a launch configuration (none without one). Keys are
// sorted by Unicode scalar value.
SummaryKeys collectSummaryKeys(const std::optional<Json>& source);

// Whether a value counts as switched on: null, false, 0 and the strings "",
// "false", "0", "off", "no" (any case, spaces and tabs trimmed) do not.
bool isActiveValue(const Json& value);

// The short rendering of a value: strings as they are, compact JSON for
// arrays and objects, empty for null or a missing value.
std::string displayValue(const Json* value);

// Length in user-perceived characters: a base character with the combining
// marks, joiners, variation selectors and modifiers that follow it, or a pair
// of regional indicators, counts as one.
size_t perceivedLength(std::string_view text);

// The row text, on one line (singleLineText): the key cut to width (width - 1
// characters and "…") or padded to it, two spaces, then the value, cut to 33
// characters and "…" when it has 37 or more.
std::string summaryRowText(std::string_view key, std::string_view value, size_t keyColumnWidth);

// One label of the summary, in window content coordinates with the origin at
// the bottom-left and y growing upward.
struct SummaryLine {
  bool header = false;  // section header (bold) or row (monospaced)
  std::string text;
  int x = 0, y = 0, width = 0, height = 0;
};

struct SummaryMetrics {
  int left = 16;
  int bottom = 16;
  int headerHeight = 18;
  int rowHeight = 18;
  int sectionGap = 8;
  int width = 428;
};

// Height the summary takes: a row height per row, a header and 4 points per
// section, and the gap between two sections (18, 22 and 8 by default).
int summaryHeight(const SummaryKeys& keys, const SummaryMetrics& metrics = {});

// The labels of both sections, placed from the bottom up: raw switch rows,
// their header, then the override rows and their header.
std::vector<SummaryLine> layoutSummary(const std::optional<Json>& source, const SummaryKeys& keys,
                                       const SummaryMetrics& metrics = {});

}  // namespace quillon
