// Strict, bounded JSON reading for the files and answers the launcher parses.
// Member order is kept as written.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quillon {

using Json = nlohmann::ordered_json;

// No real configuration comes near these bounds; beyond them a file or text
// counts as unreadable instead of costing memory or stack.
inline constexpr size_t kMaxJsonFileBytes = size_t{8} * 1024 * 1024;
inline constexpr int kMaxJsonDepth = 256;

// Parses strict JSON (no comments, no trailing data, valid UTF-8). Text nested
// deeper than kMaxJsonDepth is refused before parsing.
std::optional<Json> parseJson(std::string_view text);

// A regular file of at most kMaxJsonFileBytes whose top level is an object.
std::optional<Json> readJsonObjectFile(const std::string& path);

}  // namespace quillon
