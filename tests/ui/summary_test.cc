// The overrides summary without a window: which keys are listed, in which
// order, and how a row reads.
#include <gtest/gtest.h>

#include "ui/summary.h"

namespace quillon {
namespace {

TEST(Summary, WhichValuesCountAsSwitchedOnAndHowTheyRead) {
  for (const char* off : {"null", "false", "0", R"("")", R"(" \t ")", R"(" Off ")", R"("NO")",
                          R"("\t0")", R"("FaLsE")"})
    EXPECT_FALSE(isActiveValue(Json::parse(off))) << off;
  for (const char* on : {"true", "0.5", "-3", R"("yes")", R"("0\n")", "[]", "{}"})
    EXPECT_TRUE(isActiveValue(Json::parse(on))) << on;
  const std::pair<const char*, const char*> texts[] = {
      {"null", ""}, {R"(" a b ")", " a b "}, {"true", "true"},
      {"2.0", "2"}, {"0.5", "0.5"},          {R"({"b": 1, "a": [true]})", R"({"b":1,"a":[true]})"}};
  for (const auto& [json, text] : texts) {
    Json value = Json::parse(json);
    EXPECT_EQ(displayValue(&value), text) << json;
  }
  EXPECT_EQ(displayValue(nullptr), "");
}

TEST(Summary, ListsActiveKeysSortedWithoutReservedOnes) {
  Json source = Json::parse(R"({"alpha": true, "Zeta": "on", "_comment": "x", "off-key": "off",
    "chrome-command-line": {"--b": 1, "--a": "yes", "_note": true, "--z": false, "--é": 1}, "ä": 1})");
  SummaryKeys keys = collectSummaryKeys(source);
  EXPECT_EQ(keys.overrideKeys, (std::vector<std::string>{"Zeta", "alpha", "ä"}));
  EXPECT_EQ(keys.rawKeys, (std::vector<std::string>{"--a", "--b", "--é", "_note"}));
  keys = collectSummaryKeys(Json::parse(R"({"chrome-command-line": ["--a"], "x": 1})"));
  EXPECT_TRUE(keys.rawKeys.empty() && !keys.rawSwitches);
}

TEST(Summary, RowKeyColumnAndValueAreCutInUserPerceivedCharacters) {
  const std::string e = "e\u0301", flag = "\U0001F1E9\U0001F1EA", v36(36, '-');
  const std::tuple<std::string, std::string, size_t, std::string> cases[] = {
      {"lang", "de", 12, "lang          de"},
      {"abcdefghijklmnopqrstuvwxyz0123", "1", 28, "abcdefghijklmnopqrstuvwxyz0\u2026  1"},
      {"k", v36, 1, "k  " + v36},
      {"k", v36 + "x", 1, "k  " + v36.substr(3) + "\u2026"},
      {e + e, "x", 3, e + e + "   x"},
      {flag + flag, "x", 2, flag + flag + "  x"},
      {"k", flag + v36.substr(2) + e, 1, "k  " + flag + v36.substr(2) + e},
  };
  for (const auto& [key, value, width, text] : cases)
    EXPECT_EQ(summaryRowText(key, value, width), text) << key << value;
  Json source = Json::parse(R"({"abcdefghijklmnopqrstuvwxyz0123":1,"k":2})");  // column 28
  EXPECT_EQ(layoutSummary(source, collectSummaryKeys(source)).at(0).text,
            "k" + std::string(29, ' ') + "2");
}

}  // namespace
}  // namespace quillon
