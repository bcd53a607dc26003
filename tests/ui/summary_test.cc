// The overrides summary without a window: which keys, in which order, and how a row reads.
#include <gtest/gtest.h>

#include "ui/summary.h"

namespace quillon {
namespace {

TEST(Summary, ListsActiveKeysSortedWithoutReservedOnes) {
  SummaryKeys keys = collectSummaryKeys(Json::parse(R"({"n": null, "f": false, "0": 0, "e": "",
    "t": " \t ", "o": " Off ", "N": "NO", "z": "\t0", "F": "FaLsE", "_c": 1, "ä": 0.5, "Z": "0\n",
    "m": -3, "a": [], "y": {}, "chrome-command-line": {"--b": 1, "--a": "yes", "_n": true,
    "--z": false, "--é": 1}})"));
  EXPECT_EQ(keys.overrideKeys, (std::vector<std::string>{"Z", "a", "m", "y", "ä"}));
  EXPECT_EQ(keys.rawKeys, (std::vector<std::string>{"--a", "--b", "--é", "_n"}));
  keys = collectSummaryKeys(Json::parse(R"({"chrome-command-line": ["--a"], "x": 1})"));
  EXPECT_TRUE(keys.rawKeys.empty() && !keys.rawSwitches);
}

TEST(Summary, RowKeyColumnAndValueAreCutInUserPerceivedCharacters) {
  const std::string e = "e\u0301", flag = "\U0001F1E9\U0001F1EA", v33(33, '-'),
                    coder = "\U0001F469\u200D\U0001F4BB";
  const std::tuple<std::string, std::string, size_t, std::string> cases[] = {
      {"abcdefghijklmnopqrstuvwxyz0123", "1", 28, "abcdefghijklmnopqrstuvwxyz0\u2026  1"},
      {"k", flag + v33 + "xy" + e, 1, "k  " + flag + v33.substr(1) + "\u2026"},  // 37 characters
      {"k", flag + v33 + coder + e, 1, "k  " + flag + v33 + coder + e},          // 36
      {e + e, "x", 3, e + e + "   x"},
      {flag + flag, "x", 2, flag + flag + "  x"},
  };
  for (const auto& [key, value, width, text] : cases)
    EXPECT_EQ(summaryRowText(key, value, width), text) << key << value;
  Json source = Json::parse(R"({"abcdefghijklmnopqrstuvwxyz0123": {"b": 1, "a": [true]}, "k": 2.0,
    "chrome-command-line": {"--proxy-server=u:p:w@h": "a\nb"}})");  // a switch written as a key
  std::vector<SummaryLine> lines = layoutSummary(source, collectSummaryKeys(source));
  EXPECT_EQ(lines.at(0).text, "--proxy-server=u:\u2022\u2022\u2022\u2022@h  a\uFFFDb");
  EXPECT_EQ(lines.at(2).text, "k" + std::string(29, ' ') + "2");  // a column of 28
  EXPECT_EQ(lines.at(3).text, "abcdefghijklmnopqrstuvwxyz0\u2026  {\"b\":1,\"a\":[true]}");
}

}  // namespace
}  // namespace quillon
