// The overrides summary without a window: which keys are listed, in which
// order, and how a row reads.
#include <gtest/gtest.h>

#include "ui/summary.h"

namespace quillon {
namespace {

Json parsed(const char* text) {
  return Json::parse(text);
}

TEST(Summary, WhichValuesCountAsSwitchedOn) {
  const std::pair<const char*, bool> cases[] = {
      {"null", false},       {"false", false},      {"true", true},     {"0", false},
      {"-0.0", false},       {"0.5", true},         {"-3", true},       {R"("")", false},
      {R"(" \t ")", false},  {R"(" Off ")", false}, {R"("NO")", false}, {R"("\t0")", false},
      {R"("FaLsE")", false}, {R"("yes")", true},    {R"("0\n")", true}, {R"("none")", true},
      {"[]", true},          {"{}", true},
  };
  for (const auto& [json, active] : cases) EXPECT_EQ(isActiveValue(parsed(json)), active) << json;
}

TEST(Summary, ValuesReadAsShortText) {
  const std::pair<const char*, const char*> cases[] = {
      {"null", ""},
      {R"(" a b ")", " a b "},
      {"true", "true"},
      {"false", "false"},
      {"42", "42"},
      {"-7", "-7"},
      {"2.0", "2"},
      {"0.5", "0.5"},
      {R"([1,"x",{"k":null}])", R"([1,"x",{"k":null}])"},
      {R"({"b": 1, "a": [true]})", R"({"b":1,"a":[true]})"},
  };
  for (const auto& [json, text] : cases) {
    Json value = parsed(json);
    EXPECT_EQ(displayValue(&value), text) << json;
  }
  EXPECT_EQ(displayValue(nullptr), "");
}

TEST(Summary, ListsActiveKeysSortedWithoutReservedOnes) {
  Json source = parsed(R"({
    "alpha": true, "Zeta": "on", "_comment": "x", "_hidden": true, "off-key": "off",
    "chrome-command-line": {"--b": 1, "--a": "yes", "_note": true, "--z": false, "--é": 1},
    "ä": 1, "b": 0
  })");
  SummaryKeys keys = collectSummaryKeys(source);
  EXPECT_EQ(keys.overrideKeys, (std::vector<std::string>{"Zeta", "alpha", "\xc3\xa4"}));
  EXPECT_EQ(keys.rawKeys, (std::vector<std::string>{"--a", "--b", "--\xc3\xa9", "_note"}));
  ASSERT_TRUE(keys.rawSwitches);

  keys = collectSummaryKeys(parsed(R"({"chrome-command-line": ["--a"], "x": 1})"));
  EXPECT_EQ(keys.overrideKeys, std::vector<std::string>{"x"});
  EXPECT_TRUE(keys.rawKeys.empty());
  EXPECT_FALSE(keys.rawSwitches);

  keys = collectSummaryKeys(std::nullopt);
  EXPECT_TRUE(keys.overrideKeys.empty() && keys.rawKeys.empty() && !keys.rawSwitches);
}

TEST(Summary, RowKeyColumnAndValueAreCutInUserPerceivedCharacters) {
  const std::string key30 = "abcdefghijklmnopqrstuvwxyz0123";
  const std::string v40 = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
  const std::string e = "e\xcc\x81";                            // e and a combining acute accent
  const std::string flag = "\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa";  // two regional indicators
  struct Case {
    std::string key, value;
    size_t width;
    std::string text;
  };
  const Case cases[] = {
      {"lang", "de", 12, "lang" + std::string(8 + 2, ' ') + "de"},
      {"proxy-server", "socks5://h:1", 12, "proxy-server  socks5://h:1"},
      {key30, "1", 28, "abcdefghijklmnopqrstuvwxyz0\u2026  1"},
      {"short", "", 28, "short" + std::string(23 + 2, ' ')},
      {"k", v40, 1, "k  0123456789abcdefghijklmnopqrstuvw\u2026"},
      {"k", v40.substr(0, 36), 1, "k  0123456789abcdefghijklmnopqrstuvwxyz"},
      {"k", v40.substr(0, 37), 1, "k  0123456789abcdefghijklmnopqrstuvw\u2026"},
      {e + e, "x", 3, e + e + "   x"},
      {flag + flag, "x", 2, flag + flag + "  x"},
      {"k", flag + std::string(34, '-') + e, 1, "k  " + flag + std::string(34, '-') + e},
      {"k", std::string(36, '-') + e + e, 1, "k  " + std::string(33, '-') + "\u2026"},
  };
  for (const Case& c : cases) EXPECT_EQ(summaryRowText(c.key, c.value, c.width), c.text) << c.key;
  // In the window the key column is as wide as the longest key, up to 28.
  Json source = parsed(R"({"abcdefghijklmnopqrstuvwxyz0123":1,"k":2})");
  EXPECT_EQ(layoutSummary(source, collectSummaryKeys(source)).at(0).text,
            std::string("k").append(27 + 2, ' ') + "2");
}

}  // namespace
}  // namespace quillon
