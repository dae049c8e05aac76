// The settings reader's value comparison: numbers by value whatever their spelling, object keys in
// any order, and nothing else equal that is not.
#include "peers/settings_json.h"

#include <gtest/gtest.h>

namespace tovami {
namespace {

using settings_json::Json;

Json read(const std::string& text) {
  std::string error;
  auto parsed = settings_json::parse(text, error);
  EXPECT_TRUE(parsed) << text << ": " << error;
  return parsed.value_or(Json());
}

// A number as the file spells it (read back) against the same value as a program builds it.
TEST(SettingsJson, NumbersCompareByValueWhateverTheirSpelling) {
  const Json timeout = read("{\"timeout\": 300}");
  EXPECT_NE(timeout, (Json{{"timeout", 300}}));  // why a plain == is no use: the lexeme is kept
  EXPECT_TRUE(settings_json::sameValue(timeout, Json{{"timeout", 300}}));
  EXPECT_TRUE(settings_json::sameValue(Json{{"timeout", 300}}, timeout));
  const std::pair<const char*, Json> same[] = {
      {"300", 300},
      {"300.0", 300},
      {"3E2", 300},
      {"3.00e+2", 300u},
      {"30000e-2", 300},
      {"1.50", 1.5},
      {"-0", 0},
      {"-0.0e7", 0},
      {"0.10", 0.1},
      {"-7", -7},
      {"1e-7", 1e-7},
      {"1E+2", 100},
      {"18446744073709551615", 18446744073709551615u},
  };
  for (const auto& [spelled, built] : same)
    EXPECT_TRUE(settings_json::sameValue(read(std::string("[") + spelled + "]"), Json::array({built})))
        << spelled;
  const std::pair<const char*, const char*> equalLexemes[] = {
      {"123456789012345678901234567890", "1.2345678901234567890123456789e29"},
      {"1e400", "10e399"},
      {"-2.5E+400", "-25000e396"},
      {"0.000", "0"},
  };
  for (const auto& [a, b] : equalLexemes)
    EXPECT_TRUE(settings_json::sameValue(read(std::string("[") + a + "]"), read(std::string("[") + b + "]")))
        << a << " " << b;
  const std::pair<const char*, Json> different[] = {
      {"301", 300}, {"300.5", 300}, {"-300", 300}, {"3e3", 300},   {"1.5", 15},
      {"1e400", 0}, {"0", false},   {"1", true},   {"0", nullptr}, {"300", "300"},
  };
  for (const auto& [spelled, built] : different)
    EXPECT_FALSE(settings_json::sameValue(read(std::string("[") + spelled + "]"), Json::array({built})))
        << spelled;
  EXPECT_FALSE(settings_json::sameValue(read("[123456789012345678901234567890]"),
                                        read("[123456789012345678901234567891]")));
  EXPECT_FALSE(settings_json::sameValue(read("[1e400]"), read("[1e401]")));
  // Exponents past 15 digits: equal only as spelled (never a false "unchanged").
  EXPECT_TRUE(settings_json::sameValue(read("[1e1000000000000000000]"), read("[1e1000000000000000000]")));
  EXPECT_FALSE(settings_json::sameValue(read("[1e1000000000000000000]"), read("[1e1000000000000000001]")));
}

TEST(SettingsJson, ObjectKeysInAnyOrderArraysInTheirOrder) {
  const Json ours = {{"hooks", Json::array({{{"type", "command"}, {"command", "x"}, {"timeout", 10}}})}};
  EXPECT_TRUE(settings_json::sameValue(
      read(R"({"hooks": [{"timeout": 10.0, "command": "x", "type": "command"}]})"), ours));
  EXPECT_FALSE(settings_json::sameValue(read(R"({"hooks": [{"timeout": 10, "command": "x"}]})"), ours));
  EXPECT_FALSE(settings_json::sameValue(
      read(R"({"hooks": [{"timeout": 10, "command": "x", "type": "command", "matcher": ""}]})"), ours));
  EXPECT_FALSE(settings_json::sameValue(
      read(R"({"hooks": [{"timeout": 10, "command": "y", "type": "command"}]})"), ours));
  EXPECT_TRUE(settings_json::sameValue(read("[1, [2, {}], \"a\"]"),
                                       Json::array({1, Json::array({2, Json::object()}), "a"})));
  EXPECT_FALSE(settings_json::sameValue(read("[1, 2]"), Json::array({2, 1})));
  EXPECT_FALSE(settings_json::sameValue(read("[1, 2]"), Json::array({1, 2, 3})));
  EXPECT_FALSE(settings_json::sameValue(read("{}"), Json::array()));
  EXPECT_FALSE(settings_json::sameValue(read("{\"a\": 1}"), Json{{"b", 1}}));
  EXPECT_TRUE(settings_json::sameValue(read("{\"s\": \"\\u00e9\"}"), Json{{"s", "\xc3\xa9"}}));
}

}  // namespace
}  // namespace tovami
