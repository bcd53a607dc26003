// Debian tzdata's table of time zones and the countries they serve
// (zone1970.tab, else zone.tab): the source of the time-zone verdict.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Larger than any table tzdata ships (about 18 KB); past it the table is refused.
inline constexpr size_t kMaxZoneTableBytes = size_t{1} << 20;

struct ZoneTable {
  std::string path;  // the file read; empty when none could be read
  std::string text;
};

// The first of the files that is a regular file within the bound.
ZoneTable loadZoneTable(const std::vector<std::string>& candidates = {
                            "/usr/share/zoneinfo/zone1970.tab", "/usr/share/zoneinfo/zone.tab"});

// The country codes (upper case, as listed) of the zone's row; none when the
// table has no row for it. Rows are tab-separated: codes (comma-separated),
// coordinates, zone, comments; lines starting with "#" are comments.
std::optional<std::vector<std::string>> zoneCountries(std::string_view tableText,
                                                      std::string_view zone);

}  // namespace quillon
