// The answer parser and classifier: shapes, line breaks, the length rule and
// the exact failure records.
#include "discovery/egress_answer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace quillon {
namespace {

using namespace std::string_literals;

std::string noIp(size_t bytes, const std::string& head) {
  return "curl exit 0 but no usable IP in response \u2014 got " + std::to_string(bytes) +
         " bytes, head: \"" + head + "\"";
}

std::string repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

enum Verdict { kUsable, kNoIp, kNotUtf8 };

struct Row {
  std::string answer;
  std::string ip;  // the candidate kept in the record
  Verdict verdict;
};

// Every answer without geo data: the whole record, message included (each
// answer here is shorter than the 80-character head).
TEST(EgressAnswer, PlainAndRejectedAnswersGiveTheExactRecord) {
  const std::string longest = "0000:0000:0000:0000:0000:ffff:255.255.255.255";
  std::vector<Row> rows = {
      {"203.0.113.7\n", "203.0.113.7", kUsable},
      {"\n\n  203.0.113.7  \r\n", "203.0.113.7", kUsable},
      {"\r\n \t \r\n198.51.100.4\r\nsecond line\r\n", "198.51.100.4", kUsable},
      {" 1.2 .3.4 ", "1.2 .3.4", kUsable},          // inner separators stay
      {"\u200b1.2.3.4", "\u200b1.2.3.4", kUsable},  // zero width space is no separator
      {"1.2.3.4\0"s, "1.2.3.4\0"s, kUsable},        // nor is NUL
      {"1.2.3.4", "1.2.3.4", kUsable},              // 7 characters
      {"localhost\n", "localhost", kUsable},
      {longest, longest, kUsable},  // 45 characters
      {"1.2.3\n", "1.2.3", kNoIp},
      {"1.2.3.", "1.2.3.", kNoIp},                          // 6 characters
      {longest + "0", longest + "0", kNoIp},                // 46 characters
      {repeat("\u00e9", 7), repeat("\u00e9", 7), kUsable},  // characters, not bytes
      {repeat("\u00e9", 6), repeat("\u00e9", 6), kNoIp},
      {repeat("\U0001F600", 45), repeat("\U0001F600", 45), kUsable},
      {repeat("\U0001F600", 46), repeat("\U0001F600", 46), kNoIp},
      {"", "", kNoIp},
      {" \r\n\t\u2028\u3000\n", "", kNoIp},
      {"<!DOCTYPE html>\n<html></html>\n", "<!DOCTYPE html>", kUsable},
      {"<html><head><title>403 Forbidden</title></head>\n<p>no</p>",
       "<html><head><title>403 Forbidden</title></head>", kNoIp},
      {"[\"1.2.3.4\"]", "[\"1.2.3.4\"]", kUsable},  // only a brace selects JSON
      // Begins with a brace but is not one JSON object: never read as plain text.
      {"{\"ip\":\"203.0.113.7\"", "", kNoIp},
      {"{\"ip\":\"203.0.113.7\"}\n{}", "", kNoIp},
      {"{\"ip\":\"203.0.113.7\", /* note */ \"x\":1}", "", kNoIp},
      {"{'ip':'203.0.113.7'}", "", kNoIp},
      {"\u0085{\"ip\":\"203.0.113.7\"}", "", kNoIp},  // NEL is white space, not JSON's
      {"203.0.113.7\n\xff"s, "", kNotUtf8},
      {"\xc0\x80"
       "1.2.3.4"s,
       "", kNotUtf8},  // overlong NUL
      {"\xe0\x80\xaf"
       "1.2.3.4"s,
       "", kNotUtf8},  // overlong solidus
      {"\xed\xa0\x80"
       "1.2.3.4"s,
       "", kNotUtf8},  // surrogate
      {"\xf4\x90\x80\x80"
       "1.2.3.4"s,
       "", kNotUtf8},                               // above U+10FFFF
      {"1.2.3.4\xe2\x82"s, "", kNotUtf8},           // cut sequence
      {"1.2.3.4\x80"s, "", kNotUtf8},               // stray continuation byte
      {"{\"ip\":\"1.2.3.4\xa0\"}"s, "", kNotUtf8},  // Latin-1 inside JSON
  };
  // Every line break splits; tab and every space separator are trimmed.
  for (std::string br : {"\n", "\x0b", "\x0c", "\r", "\r\n", "\u0085", "\u2028", "\u2029"})
    rows.push_back({br + br + "1.2.3.4" + br + "5.6.7.8", "1.2.3.4", kUsable});
  for (std::string sp : {" ", "\t", "\u00a0", "\u1680", "\u2000", "\u2005", "\u200a", "\u202f",
                         "\u205f", "\u3000"}) {
    rows.push_back({sp + sp + "1.2.3.4" + sp + "\n", "1.2.3.4", kUsable});
    rows.push_back({sp + "\n" + sp + "9.9.9.9", "9.9.9.9", kUsable});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.answer));
    DiscoverResult r = classifyAnswer(row.answer, 17);
    EXPECT_EQ(r.errorCode, row.verdict == kUsable ? "" : "DISCOVERY_HTTP_ERROR");
    EXPECT_EQ(r.message, row.verdict == kUsable ? ""
                         : row.verdict == kNoIp ? noIp(row.answer.size(), row.answer)
                                                : "curl exit 0 but response not UTF-8");
    EXPECT_EQ(r.ip, row.ip);
    EXPECT_EQ(r.curlExitCode, 0);
    EXPECT_EQ(r.elapsedMs, 17);
    EXPECT_EQ(r.countryCode + r.timezone + r.latitude + r.longitude, "");
  }
}

TEST(EgressAnswer, HeadIsTheFirstEightyCharactersUntrimmed) {
  struct Case {
    std::string answer;
    std::string head;
  };
  const Case cases[] = {
      {"\r\n\t" + repeat("x", 100), "\r\n\t" + repeat("x", 77)},
      {repeat("z", 80), repeat("z", 80)},
      {repeat("z", 81), repeat("z", 80)},
      {repeat("\u00e9", 50) + "\n" + repeat("\u2014", 70),
       repeat("\u00e9", 50) + "\n" + repeat("\u2014", 29)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(classifyAnswer(c.answer, 0).message, noIp(c.answer.size(), c.head));
}

// ip, country_code and timezone only as strings, verbatim; a rejected IP
// keeps the geo data read with it.
TEST(EgressAnswer, JsonFieldsAreTakenByType) {
  const std::pair<std::string, std::string> cases[] = {
      {" \r\n\t{\"ip\":\"203.0.113.7\",\"country_code\":\"de\",\"timezone\":\"Europe/Berlin\","
       "\"latitude\":48.85,\"longitude\":\"2.35\",\"org\":{\"asn\":[1,2,null]}}",
       "203.0.113.7|de|Europe/Berlin|48.85|2.35"},
      {"{\"ip\":\" 1.2.3.4 \",\"country_code\":\"De\",\"timezone\":\"Not/A Zone \\\"x\\\"\"}",
       " 1.2.3.4 |De|Not/A Zone \"x\"||"},
      {"{\"ip\":\"1.2.3\",\"country_code\":\"FR\",\"latitude\":41.5}", "1.2.3|FR||41.5|"},
      {"{\"ip\":3405803783,\"timezone\":\"America/Chicago\",\"longitude\":-87.25}",
       "||America/Chicago||-87.25"},
      {"{\"ip\":null,\"country_code\":49,\"timezone\":[\"UTC\"]}", "||||"},
  };
  for (const auto& [json, fields] : cases) {
    DiscoverResult r = classifyAnswer(json, 9);
    EXPECT_EQ(r.ip + "|" + r.countryCode + "|" + r.timezone + "|" + r.latitude + "|" + r.longitude,
              fields);
    EXPECT_EQ(r.message, r.errorCode.empty() ? "" : noIp(json.size(), json));
    EXPECT_EQ(r.errorCode.empty(), r.ip.size() > 6) << json;
  }
  // Deep nesting is refused without harm.
  std::string deep = "{\"a\":" + repeat("[", 200000) + repeat("]", 200000) + ",\"ip\":\"1.2.3.4\"}";
  EXPECT_EQ(classifyAnswer(deep, 0).ip, "");
}

TEST(EgressAnswer, CoordinatesBecomeDecimalText) {
  const std::pair<const char*, const char*> cases[] = {
      {"48.85", "48.85"},
      {"\"48.85\"", "48.85"},
      {"\" 48,85 \"", " 48,85 "},
      {"2", "2"},
      {"2.0", "2"},
      {"-87.25", "-87.25"},
      {"-0.5", "-0.5"},
      {"0", "0"},
      {"true", "1"},
      {"false", "0"},
      {"1e21", "1000000000000000000000"},
      {"1.5e-7", "0.00000015"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"null", ""},
      {"[48.85]", ""},
      {"{\"v\":48.85}", ""},
  };
  for (const auto& [json, text] : cases) {
    EgressAnswer a =
        parseEgressAnswer(std::string("{\"latitude\":") + json + ",\"longitude\":" + json + "}");
    EXPECT_EQ(a.latitude, text) << json;
    EXPECT_EQ(a.longitude, text) << json;
  }
  EXPECT_EQ(decimalText(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(decimalText(std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(EgressAnswer, OversizedAnswerIsRefusedWithTheRealSizeAndTheKeptHead) {
  DiscoverResult r = classifyOversizedAnswer("203.0.113.7\n" + repeat("x", 1000), 70000000, 8);
  EXPECT_EQ(r.errorCode + "|" + r.ip + "|" + std::to_string(r.elapsedMs),
            "DISCOVERY_HTTP_ERROR||8");
  EXPECT_EQ(r.message, noIp(70000000, "203.0.113.7\n" + repeat("x", 68)));

  // The cut may split the last character; that alone is not an encoding fault.
  std::string cut = repeat("\u2014", 100);
  cut.pop_back();
  EXPECT_EQ(classifyOversizedAnswer(cut, 90000000, 0).message,
            noIp(90000000, repeat("\u2014", 80)));
  EXPECT_EQ(classifyOversizedAnswer("ab\xff" + repeat("c", 10), 90000000, 0).message,
            "curl exit 0 but response not UTF-8");
}

}  // namespace
}  // namespace quillon
