#include "config/json_read.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace quillon {

namespace {

bool nestingWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// Builds the document from the parser's events. The ordered type's own
// builder looks each key up among the earlier ones, which makes an object of
// n members cost n squared; here members are appended and duplicates are
// settled once per object, as the ordered type would: the first position,
// the last value.
class LinearBuilder {
 public:
  using Members = std::vector<std::pair<const std::string, Json>>;

  bool null() { return add(Json(nullptr)); }
  bool boolean(bool value) { return add(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return add(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return add(Json(value)); }
  bool number_float(Json::number_float_t value, const std::string&) { return add(Json(value)); }
  bool string(std::string& value) { return add(Json(std::move(value))); }
  bool binary(Json::binary_t&) { return false; }
  bool start_object(size_t) { return open(Json::object()); }
  bool key(std::string& name) {
    key_ = std::move(name);
    return true;
  }
  bool end_object() {
    settleDuplicates(members(*open_.back()));
    open_.pop_back();
    return true;
  }
  bool start_array(size_t) { return open(Json::array()); }
  bool end_array() {
    open_.pop_back();
    return true;
  }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  Json result() { return std::move(root_); }

 private:
  static Members& members(Json& object) { return object.get_ref<Json::object_t&>(); }

  // Adds a value to the open container (or as the document) and returns it.
  Json* place(Json&& value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.get_ref<Json::array_t&>().push_back(std::move(value));
      return &parent.get_ref<Json::array_t&>().back();
    }
    members(parent).emplace_back(std::move(key_), std::move(value));
    return &members(parent).back().second;
  }
  bool add(Json&& value) {
    place(std::move(value));
    return true;
  }
  // A container stays where it was placed while it is open: its parent gets
  // no other member until it is closed.
  bool open(Json&& container) {
    open_.push_back(place(std::move(container)));
    return true;
  }

  // Finds duplicate keys with an open-addressing table of member indexes: one
  // hash per member and no allocation per member.
  static void settleDuplicates(Members& all) {
    if (all.size() < 2) return;
    std::vector<size_t> slots(size_t{2} << std::bit_width(all.size()), kEmpty);
    std::vector<size_t> first(all.size());
    bool duplicates = false;
    for (size_t i = 0; i < all.size(); ++i) {
      size_t at = std::hash<std::string_view>()(all[i].first) & (slots.size() - 1);
      while (slots[at] != kEmpty && all[slots[at]].first != all[i].first)
        at = (at + 1) & (slots.size() - 1);
      if (slots[at] == kEmpty) slots[at] = i;
      first[i] = slots[at];
      duplicates |= first[i] != i;
    }
    if (!duplicates) return;
    Members kept;
    std::vector<size_t> position(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
      if (first[i] == i) {
        position[i] = kept.size();
        kept.emplace_back(all[i].first, std::move(all[i].second));
      } else {
        kept[position[first[i]]].second = std::move(all[i].second);
      }
    }
    all.swap(kept);
  }

  static constexpr size_t kEmpty = SIZE_MAX;
  Json root_;
  std::vector<Json*> open_;
  std::string key_;
};

}  // namespace

std::optional<Json> parseJson(std::string_view text) {
  // The parser stops at a NUL byte as if the text ended there; JSON text
  // never holds one, so such text is refused whole.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  if (!nestingWithin(text, kMaxJsonDepth)) return std::nullopt;
  LinearBuilder builder;
  if (!Json::sax_parse(text, &builder, nlohmann::detail::input_format_t::json, /*strict=*/true,
                       /*ignore_comments=*/false))
    return std::nullopt;
  return builder.result();
}

std::optional<Json> readJsonObjectFile(const std::string& path) {
  return readJsonObjectFileChecked(path).object;
}

JsonFileRead readJsonObjectFileChecked(const std::string& path) {
  FileRead file = readRegularFileChecked(path, kMaxJsonFileBytes);
  switch (file.error) {
    case FileReadError::none:
      break;
    case FileReadError::missing:
      return {JsonFileState::missing, std::nullopt};
    case FileReadError::notRegular:
      return {JsonFileState::notRegular, std::nullopt};
    case FileReadError::tooLarge:
      return {JsonFileState::tooLarge, std::nullopt};
    case FileReadError::unreadable:
      return {JsonFileState::unreadable, std::nullopt};
  }
  std::optional<Json> value = parseJson(*file.bytes);
  if (!value || !value->is_object()) return {JsonFileState::malformed, std::nullopt};
  return {JsonFileState::read, std::move(value)};
}

std::string decimalText(double value) {
  if (!std::isfinite(value)) return "";  // JSON has no such numbers
  // Long enough for every double in fixed notation (about 330 characters).
  char buf[512];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (ec != std::errc()) return "";
  return std::string(buf, end);
}

std::string numberText(const Json& number) {
  if (number.is_number_unsigned()) return std::to_string(number.get<Json::number_unsigned_t>());
  if (number.is_number_integer()) return std::to_string(number.get<Json::number_integer_t>());
  if (number.is_number_float()) return decimalText(number.get<double>());
  return "";
}

}  // namespace quillon
