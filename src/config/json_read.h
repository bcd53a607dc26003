// Strict, bounded JSON reading for the files and answers the launcher parses,
// in time linear in their size. Member order is kept as written.
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
// deeper than kMaxJsonDepth is refused before parsing. A key given twice
// keeps its first place and takes its last value.
std::optional<Json> parseJson(std::string_view text);

// A regular file of at most kMaxJsonFileBytes whose top level is an object.
std::optional<Json> readJsonObjectFile(const std::string& path);

// What reading such a file found: its object, or why there is none (a
// file that is read but is not one JSON object is "malformed").
enum class JsonFileState { read, missing, malformed, tooLarge, notRegular, unreadable };

struct JsonFileRead {
  JsonFileState state = JsonFileState::missing;
  std::optional<Json> object;  // set exactly when state is read
};

// readJsonObjectFile with its state.
JsonFileRead readJsonObjectFileChecked(const std::string& path);

// Decimal text of a JSON number: plain notation, no exponent, integral
// values without a fraction, otherwise the shortest text that reads back
// as the same double. Infinities and NaN give the empty string.
std::string decimalText(double value);

// decimalText of any JSON number, integers exactly; "" for other values.
std::string numberText(const Json& number);

}  // namespace quillon
