#include "persona/zone_table.h"

#include "platform/files.h"

namespace quillon {

namespace {

// The field-th tab-separated field of the line ("" past the last).
std::string_view field(std::string_view line, size_t field) {
  for (; field > 0; --field) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return "";
    line.remove_prefix(tab + 1);
  }
  return line.substr(0, line.find('\t'));
}

}  // namespace

ZoneTable loadZoneTable(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    if (std::optional<std::string> text = readRegularFile(path, kMaxZoneTableBytes))
      return {path, std::move(*text)};
  }
  return {};
}

std::optional<std::vector<std::string>> zoneCountries(std::string_view text,
                                                      std::string_view zone) {
  if (zone.empty()) return std::nullopt;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? "" : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || field(line, 2) != zone) continue;
    std::vector<std::string> countries;
    std::string_view codes = field(line, 0);
    while (!codes.empty()) {
      size_t comma = codes.find(',');
      if (comma != 0) countries.emplace_back(codes.substr(0, comma));
      codes = comma == std::string_view::npos ? "" : codes.substr(comma + 1);
    }
    return countries;
  }
  return std::nullopt;
}

}  // namespace quillon
