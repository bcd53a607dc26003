#include "persona/verdict.h"

#include <algorithm>

#include "discovery/country_lang.h"

namespace quillon {

namespace {

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

// The language subtag of a tag, lower case: "fr-FR" gives "fr".
std::string languageOf(std::string_view tag) {
  size_t start = tag.find_first_not_of(" \t");
  if (start == std::string_view::npos) return "";
  tag.remove_prefix(start);
  std::string language(tag.substr(0, tag.find_first_of("-_,; \t")));
  for (char& c : language)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return language;
}

// The languages of the country's row (English only where it leads the row).
std::vector<std::string> countryLanguageSet(const CountryLang& row) {
  std::vector<std::string> languages = {languageOf(row.primary)};
  std::string_view accept = row.accept;
  while (!accept.empty()) {
    size_t comma = accept.find(',');
    std::string language = languageOf(accept.substr(0, comma));
    accept = comma == std::string_view::npos ? "" : accept.substr(comma + 1);
    if (language != "en" &&
        std::find(languages.begin(), languages.end(), language) == languages.end())
      languages.push_back(language);
  }
  return languages;
}

void judgeTimezone(const VerdictInputs& in, const std::string& country, Verdict& v) {
  if (in.statedTimezone.empty()) return;
  if (country.empty()) {
    v.notes.push_back("the endpoint gave no country: the stated time zone " + in.statedTimezone +
                      " cannot be checked");
    return;
  }
  if (!in.zones || in.zones->path.empty()) {
    v.notes.push_back(
        "tzdata's zone table (zone1970.tab, zone.tab) cannot be read: the time zone "
        "is not checked");
    return;
  }
  std::optional<std::vector<std::string>> countries =
      zoneCountries(in.zones->text, in.statedTimezone);
  if (!countries) {
    v.notes.push_back("the stated time zone " + in.statedTimezone + " is not in " + in.zones->path +
                      ": its country is unknown");
    return;
  }
  if (std::find(countries->begin(), countries->end(), country) == countries->end())
    v.reasons.push_back("the stated time zone " + in.statedTimezone + " is of " +
                        joined(*countries) + ", not of the egress country " + country);
}

void judgeLanguage(const VerdictInputs& in, const std::string& country, Verdict& v) {
  std::string language = languageOf(in.statedLanguage);
  if (language.empty() || country.empty()) return;
  std::optional<CountryLang> row = lookupCountryLang(country);
  if (!row) {
    v.notes.push_back("no languages known for " + country + ": the stated language " +
                      in.statedLanguage + " is not checked");
    return;
  }
  std::vector<std::string> languages = countryLanguageSet(*row);
  if (std::find(languages.begin(), languages.end(), language) == languages.end())
    v.notes.push_back("the stated language " + in.statedLanguage + " is not one of " + country +
                      "'s (" + joined(languages) + ")");
}

void judgeDrift(const VerdictInputs& in, const std::string& country, Verdict& v) {
  if (in.lastCountry.empty() && in.lastTimezone.empty()) {
    v.notes.push_back("no earlier egress in the result report to compare with");
    return;
  }
  std::string last = upperCased(in.lastCountry);
  if (!last.empty() && last != country)
    v.reasons.push_back("the egress country changed since the last launch: " + last + " -> " +
                        (country.empty() ? "none" : country));
  if (!in.lastTimezone.empty() && in.lastTimezone != in.egressTimezone)
    v.reasons.push_back("the egress time zone changed since the last launch: " + in.lastTimezone +
                        " -> " + (in.egressTimezone.empty() ? "none" : in.egressTimezone));
}

}  // namespace

Verdict judgePersona(const VerdictInputs& in) {
  Verdict v;
  const std::string country = upperCased(in.egressCountry);
  judgeTimezone(in, country, v);
  judgeLanguage(in, country, v);
  judgeDrift(in, country, v);
  return v;
}

}  // namespace quillon
