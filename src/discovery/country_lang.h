// The constant table that turns the egress country into the engine's
// language and Accept-Language values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct CountryLang {
  std::string cc;       // ISO 3166-1 alpha-2, upper case
  std::string primary;  // language-REGION tag for the engine's language
  std::string accept;   // Accept-Language value, most preferred first
};

// What a caller uses when no row matches.
inline constexpr const char* kFallbackLanguage = "en-US";
inline constexpr const char* kFallbackAcceptLanguage = "en-US,en;q=0.9";

// The 38 rows in table order, built on first use and never changed.
const std::vector<CountryLang>& countryLanguages();

// A country code upper-cased as Unicode does it, as far as that can lead to
// a row: ASCII letters, and the few other letters whose capitals are ASCII
// (dotless i, long s, sharp s, the Latin ligatures). Everything else is kept.
std::string upperCased(std::string_view countryCode);

// The first row whose code equals cc exactly (no trimming, no case change).
std::optional<CountryLang> lookupCountryLang(std::string_view cc);

}  // namespace quillon
