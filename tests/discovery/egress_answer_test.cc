// The answer parser and classifier: shapes, line breaks, the length rule and
// the exact failure records.
#include "discovery/egress_answer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace quillon {
namespace {

using namespace std::string_literals;

const std::string kNoIp = "curl exit 0 but no usable IP in response \u2014 got ";

std::string noIpMessage(size_t bytes, const std::string& head) {
  return kNoIp + std::to_string(bytes) + " bytes, head: \"" + head + "\"";
}

std::string repeat(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

void expectSuccess(const DiscoverResult& r, const std::string& ip) {
  EXPECT_EQ(r.errorCode, "");
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.ip, ip);
  EXPECT_EQ(r.curlExitCode, 0);
}

TEST(EgressAnswerUtf8, MalformedBytesAreRefusedWithTheFixedMessage) {
  const std::string samples[] = {
      "203.0.113.7\n\xff"s,            // byte never used in UTF-8
      "\xc0\x80" "1.2.3.4"s,           // overlong NUL
      "\xe0\x80\xaf" "1.2.3.4"s,       // overlong solidus
      "\xed\xa0\x80" "1.2.3.4"s,       // surrogate
      "\xf4\x90\x80\x80" "1.2.3.4"s,   // above U+10FFFF
      "1.2.3.4\xe2\x82"s,              // cut sequence at the end
      "1.2.3.4\x80"s,                  // stray continuation byte
      "{\"ip\":\"1.2.3.4\xa0\"}"s,     // Latin-1 inside JSON
  };
  for (const std::string& bytes : samples) {
    DiscoverResult r = classifyAnswer(bytes, 17);
    EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR") << bytes;
    EXPECT_EQ(r.message, "curl exit 0 but response not UTF-8");
    EXPECT_EQ(r.curlExitCode, 0);
    EXPECT_EQ(r.elapsedMs, 17);
    EXPECT_EQ(r.ip, "");
    EXPECT_EQ(r.countryCode, "");
  }
}

TEST(EgressAnswerUtf8, EveryEncodingLengthIsAccepted) {
  EXPECT_TRUE(isStrictUtf8("a\xc3\xa9\xe2\x80\x94\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf"));
  EXPECT_TRUE(isStrictUtf8("\0"s));
  EXPECT_TRUE(isStrictUtf8(""));
  EXPECT_EQ(scalarCount("a\xc3\xa9\xe2\x80\x94\xf0\x9f\x98\x80"), 4u);
  EXPECT_EQ(leadingScalars("\xc3\xa9\xc3\xa9\xc3\xa9", 2), "\xc3\xa9\xc3\xa9");
  EXPECT_EQ(leadingScalars("ab", 80), "ab");
}

TEST(EgressAnswerPlain, FirstNonBlankLineIsTheCandidate) {
  expectSuccess(classifyAnswer("203.0.113.7\n", 5), "203.0.113.7");
  expectSuccess(classifyAnswer("\n\n  203.0.113.7  \r\n", 5), "203.0.113.7");
  expectSuccess(classifyAnswer("203.0.113.7", 5), "203.0.113.7");
  expectSuccess(classifyAnswer("\r\n \t \r\n198.51.100.4\r\nsecond line\r\n", 5), "198.51.100.4");
  DiscoverResult r = classifyAnswer("203.0.113.7\n", 5);
  EXPECT_EQ(r.countryCode, "");
  EXPECT_EQ(r.timezone, "");
  EXPECT_EQ(r.latitude, "");
  EXPECT_EQ(r.longitude, "");
  EXPECT_EQ(r.elapsedMs, 5);
}

TEST(EgressAnswerPlain, EveryLineBreakSplits) {
  const std::string breaks[] = {"\n", "\x0b", "\x0c", "\r", "\r\n", "\u0085", "\u2028", "\u2029"};
  for (const std::string& br : breaks) {
    EXPECT_EQ(parseEgressAnswer(br + br + "1.2.3.4" + br + "5.6.7.8").candidate, "1.2.3.4")
        << "break " << testing::PrintToString(br);
    EXPECT_EQ(parseEgressAnswer("10.0.0.1" + br + "junk").candidate, "10.0.0.1");
  }
}

TEST(EgressAnswerPlain, SpaceSeparatorsAndTabsAreTrimmedNothingElse) {
  const std::string spaces[] = {" ",      "\t",     "\u00a0", "\u1680", "\u2000", "\u2005",
                                "\u200a", "\u202f", "\u205f", "\u3000"};
  for (const std::string& sp : spaces) {
    EXPECT_EQ(parseEgressAnswer(sp + sp + "1.2.3.4" + sp + "\n").candidate, "1.2.3.4")
        << testing::PrintToString(sp);
    // A line of nothing but separators counts as empty.
    EXPECT_EQ(parseEgressAnswer(sp + "\n" + sp + "9.9.9.9").candidate, "9.9.9.9");
  }
  // Separators inside a line stay; zero width space and NUL are not separators.
  EXPECT_EQ(parseEgressAnswer(" 1.2 .3.4 ").candidate, "1.2 .3.4");
  EXPECT_EQ(parseEgressAnswer("\u200b1.2.3.4").candidate, "\u200b1.2.3.4");
  EXPECT_EQ(parseEgressAnswer("1.2.3.4\0"s).candidate, "1.2.3.4\0"s);
}

TEST(EgressAnswerPlain, BlankAnswersHaveNoCandidate) {
  EXPECT_EQ(parseEgressAnswer("").candidate, "");
  EXPECT_EQ(parseEgressAnswer(" \r\n\t\u2028\u3000\n").candidate, "");
}

TEST(EgressAnswerPlain, HtmlPagesAreReadLikeAnyAnswer) {
  std::string page =
      "<html><head><title>403 Forbidden</title></head>\n<body>Forbidden</body></html>\n";
  DiscoverResult r = classifyAnswer(page, 3);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.ip, "<html><head><title>403 Forbidden</title></head>");
  EXPECT_EQ(r.message, noIpMessage(page.size(), page.substr(0, 80)));
  // A first line of 7 to 45 characters is taken, whatever it says.
  expectSuccess(classifyAnswer("<!DOCTYPE html>\n<html></html>\n", 3), "<!DOCTYPE html>");
}

TEST(EgressAnswerLength, SevenToFortyFiveCharactersAreUsable) {
  expectSuccess(classifyAnswer("1.2.3.4", 0), "1.2.3.4");
  expectSuccess(classifyAnswer("localhost\n", 0), "localhost");
  std::string longest = "0000:0000:0000:0000:0000:ffff:255.255.255.255";
  ASSERT_EQ(longest.size(), 45u);
  expectSuccess(classifyAnswer(longest, 0), longest);

  DiscoverResult shortOne = classifyAnswer("1.2.3\n", 4);
  EXPECT_EQ(shortOne.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(shortOne.ip, "1.2.3");
  EXPECT_EQ(shortOne.message, noIpMessage(6, "1.2.3\n"));
  DiscoverResult longOne = classifyAnswer(longest + "0", 4);
  EXPECT_EQ(longOne.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(longOne.ip, longest + "0");
}

TEST(EgressAnswerLength, CharactersAreScalarsNotBytes) {
  // Seven two-byte letters are 14 bytes but 7 characters.
  expectSuccess(classifyAnswer(repeat("\u00e9", 7), 0), repeat("\u00e9", 7));
  expectSuccess(classifyAnswer(repeat("\U0001F600", 45), 0), repeat("\U0001F600", 45));
  EXPECT_EQ(classifyAnswer(repeat("\u00e9", 6), 0).errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(classifyAnswer(repeat("\U0001F600", 46), 0).errorCode, "DISCOVERY_HTTP_ERROR");
}

TEST(EgressAnswerMessage, EmptyAnswerShowsZeroBytesAndAnEmptyHead) {
  DiscoverResult r = classifyAnswer("", 12);
  EXPECT_EQ(r.message, "curl exit 0 but no usable IP in response \u2014 got 0 bytes, head: \"\"");
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.elapsedMs, 12);
  EXPECT_EQ(r.ip, "");
}

TEST(EgressAnswerMessage, HeadIsTheFirstEightyCharactersUntrimmed) {
  std::string answer = "\r\n\t" + repeat("x", 100);
  DiscoverResult r = classifyAnswer(answer, 0);
  EXPECT_EQ(r.message, noIpMessage(103, "\r\n\t" + repeat("x", 77)));

  // Multi-byte characters: 80 of them, while the size counts bytes.
  std::string wide = repeat("\u00e9", 50) + "\n" + repeat("\u2014", 70);
  r = classifyAnswer(wide, 0);
  EXPECT_EQ(r.message, noIpMessage(100 + 1 + 210, repeat("\u00e9", 50) + "\n" + repeat("\u2014", 29)));

  std::string exact = repeat("z", 80);
  EXPECT_EQ(classifyAnswer(exact, 0).message, noIpMessage(80, exact));
}

TEST(EgressAnswerJson, LeadingWhiteSpaceThenBraceSelectsJson) {
  DiscoverResult r = classifyAnswer(
      " \r\n\t{\"ip\":\"203.0.113.7\",\"country_code\":\"de\",\"timezone\":\"Europe/Berlin\","
      "\"latitude\":48.85,\"longitude\":2.35,\"org\":{\"asn\":[1,2,null]}}",
      9);
  expectSuccess(r, "203.0.113.7");
  EXPECT_EQ(r.countryCode, "de");
  EXPECT_EQ(r.timezone, "Europe/Berlin");
  EXPECT_EQ(r.latitude, "48.85");
  EXPECT_EQ(r.longitude, "2.35");
  EXPECT_EQ(r.elapsedMs, 9);
}

TEST(EgressAnswerJson, StringFieldsAreVerbatimAndOnlyStrings) {
  EgressAnswer a = parseEgressAnswer(
      "{\"ip\":\" 1.2.3.4 \",\"country_code\":\"De\",\"timezone\":\"Not/A Zone \\\"x\\\"\"}");
  EXPECT_EQ(a.candidate, " 1.2.3.4 ");
  EXPECT_EQ(a.countryCode, "De");
  EXPECT_EQ(a.timezone, "Not/A Zone \"x\"");

  a = parseEgressAnswer("{\"ip\":null,\"country_code\":49,\"timezone\":[\"UTC\"]}");
  EXPECT_EQ(a.candidate, "");
  EXPECT_EQ(a.countryCode, "");
  EXPECT_EQ(a.timezone, "");
}

TEST(EgressAnswerJson, CoordinatesBecomeDecimalText) {
  struct Case {
    const char* json;
    const char* text;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    std::string json = std::string("{\"latitude\":") + c.json + ",\"longitude\":" + c.json + "}";
    EgressAnswer a = parseEgressAnswer(json);
    EXPECT_EQ(a.latitude, c.text) << c.json;
    EXPECT_EQ(a.longitude, c.text) << c.json;
  }
}

TEST(EgressAnswerJson, DecimalTextNeverWritesAnExponentOrInfinity) {
  EXPECT_EQ(decimalText(1e300).find('e'), std::string::npos);
  EXPECT_EQ(decimalText(1e300).size(), 301u);
  EXPECT_EQ(decimalText(5e-324).rfind("0.000", 0), 0u);
  EXPECT_EQ(decimalText(5e-324).back(), '5');
  EXPECT_EQ(decimalText(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(decimalText(-std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(decimalText(std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(EgressAnswerJson, NonStringIpFailsButGeoFieldsStay) {
  DiscoverResult r = classifyAnswer(
      "{\"ip\":3405803783,\"country_code\":\"US\",\"timezone\":\"America/Chicago\","
      "\"latitude\":41.5,\"longitude\":-87.25}",
      2);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.ip, "");
  EXPECT_EQ(r.countryCode, "US");
  EXPECT_EQ(r.timezone, "America/Chicago");
  EXPECT_EQ(r.latitude, "41.5");
  EXPECT_EQ(r.longitude, "-87.25");
  EXPECT_EQ(r.curlExitCode, 0);
}

TEST(EgressAnswerJson, ShortJsonIpIsRejectedWithItsGeoData) {
  std::string json = "{\"ip\":\"1.2.3\",\"country_code\":\"FR\"}";
  DiscoverResult r = classifyAnswer(json, 0);
  EXPECT_EQ(r.ip, "1.2.3");
  EXPECT_EQ(r.countryCode, "FR");
  EXPECT_EQ(r.message, noIpMessage(json.size(), json));
}

TEST(EgressAnswerJson, MalformedJsonIsNeverReadAsPlainText) {
  // Read as plain text, the first line would be a usable 21-character IP.
  const std::string samples[] = {
      "{\"ip\":\"203.0.113.7\"",
      "{\"ip\":\"203.0.113.7\"}\n{}",                  // trailing data
      "{\"ip\":\"203.0.113.7\", /* note */ \"x\":1}",  // comment
      "{'ip':'203.0.113.7'}",
      "\u0085{\"ip\":\"203.0.113.7\"}",  // NEL is white space, but not JSON's
  };
  for (const std::string& text : samples) {
    DiscoverResult r = classifyAnswer(text, 0);
    EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR") << text;
    EXPECT_EQ(r.ip, "");
    EXPECT_EQ(r.countryCode, "");
    EXPECT_EQ(r.latitude, "");
  }
}

TEST(EgressAnswerJson, DeepNestingIsRefusedWithoutHarm) {
  std::string deep = "{\"a\":" + repeat("[", 200000) + repeat("]", 200000) + ",\"ip\":\"1.2.3.4\"}";
  DiscoverResult r = classifyAnswer(deep, 0);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.ip, "");
}

TEST(EgressAnswerJson, OnlyABraceSelectsJson) {
  // An array is not the JSON shape: its first line is read as plain text.
  EXPECT_EQ(parseEgressAnswer("[\"1.2.3.4\"]").candidate, "[\"1.2.3.4\"]");
  EXPECT_EQ(parseEgressAnswer("\"1.2.3.4\"").candidate, "\"1.2.3.4\"");
}

TEST(EgressAnswerOversized, RefusedWithTheRealSizeAndTheKeptHead) {
  std::string kept = "203.0.113.7\n" + repeat("x", 1000);
  DiscoverResult r = classifyOversizedAnswer(kept, 70000000, 8);
  EXPECT_EQ(r.errorCode, "DISCOVERY_HTTP_ERROR");
  EXPECT_EQ(r.ip, "");
  EXPECT_EQ(r.curlExitCode, 0);
  EXPECT_EQ(r.elapsedMs, 8);
  EXPECT_EQ(r.message, noIpMessage(70000000, "203.0.113.7\n" + repeat("x", 68)));

  // The cut may split the last character; that alone is not an encoding fault.
  std::string cut = repeat("\u2014", 100);
  cut.pop_back();
  EXPECT_EQ(classifyOversizedAnswer(cut, 90000000, 0).message,
            noIpMessage(90000000, repeat("\u2014", 80)));
  EXPECT_EQ(classifyOversizedAnswer("ab\xff" + repeat("c", 10), 90000000, 0).message,
            "curl exit 0 but response not UTF-8");
}

}  // namespace
}  // namespace quillon
