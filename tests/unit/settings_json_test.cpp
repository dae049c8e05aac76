// The settings reader's value comparison: numbers by value whatever their spelling, object keys in
// any order, and nothing else equal that is not.
#include "peers/settings_json.h"

#include <gtest/gtest.h>

namespace tovami {
namespace {

using settings_json::Json, settings_json::sameValue;

Json read(const std::string& text) {
  std::string error;
  auto parsed = settings_json::parse(text, error);
  EXPECT_TRUE(parsed) << text << ": " << error;
  return parsed.value_or(Json());
}
// A single number in an array, as spelled.
Json one(const std::string& spelled) { return read("[" + spelled + "]"); }

// A number as the file spells it (read back) against the same value as a program builds it.
TEST(SettingsJson, NumbersCompareByValueWhateverTheirSpelling) {
  const Json timeout = read("{\"timeout\": 300}");
  EXPECT_NE(timeout, (Json{{"timeout", 300}}));  // why a plain == is no use: the lexeme is kept
  EXPECT_TRUE(sameValue(timeout, Json{{"timeout", 300}}));
  EXPECT_TRUE(sameValue(Json{{"timeout", 300}}, timeout));
  const std::pair<const char*, Json> same[] = {
      {"300", 300},     {"300.0", 300}, {"3E2", 300},  {"3.00e+2", 300u}, {"30000e-2", 300},
      {"1.50", 1.5},    {"-0", 0},      {"-0.0e7", 0}, {"0.10", 0.1},     {"-7", -7},
      {"1e-7", 1e-7},   {"1E+2", 100},  {"18446744073709551615", 18446744073709551615u},
  };
  for (const auto& [spelled, built] : same)
    EXPECT_TRUE(sameValue(one(spelled), Json::array({built}))) << spelled;
  const std::pair<const char*, Json> different[] = {
      {"301", 300}, {"300.5", 300}, {"-300", 300}, {"3e3", 300},   {"1.5", 15},
      {"1e400", 0}, {"0", false},   {"1", true},   {"0", nullptr}, {"300", "300"},
  };
  for (const auto& [spelled, built] : different)
    EXPECT_FALSE(sameValue(one(spelled), Json::array({built}))) << spelled;
  // Spellings of one number against each other, however far past a double they reach; exponents past 15
  // digits are equal only as spelled (never a false "unchanged").
  const std::tuple<const char*, const char*, bool> lexemes[] = {
      {"123456789012345678901234567890", "1.2345678901234567890123456789e29", true},
      {"1e400", "10e399", true},
      {"-2.5E+400", "-25000e396", true},
      {"0.000", "0", true},
      {"123456789012345678901234567890", "123456789012345678901234567891", false},
      {"1e400", "1e401", false},
      {"1e1000000000000000000", "1e1000000000000000000", true},
      {"1e1000000000000000000", "1e1000000000000000001", false},
  };
  for (const auto& [a, b, equal] : lexemes)
    EXPECT_EQ(sameValue(one(a), one(b)), equal) << a << " " << b;
}

TEST(SettingsJson, ObjectKeysInAnyOrderArraysInTheirOrder) {
  const Json ours = {{"hooks", Json::array({{{"type", "command"}, {"command", "x"}, {"timeout", 10}}})}};
  EXPECT_TRUE(sameValue(read(R"({"hooks": [{"timeout": 10.0, "command": "x", "type": "command"}]})"), ours));
  EXPECT_FALSE(sameValue(read(R"({"hooks": [{"timeout": 10, "command": "x"}]})"), ours));
  EXPECT_FALSE(sameValue(
      read(R"({"hooks": [{"timeout": 10, "command": "x", "type": "command", "matcher": ""}]})"), ours));
  EXPECT_FALSE(sameValue(read(R"({"hooks": [{"timeout": 10, "command": "y", "type": "command"}]})"), ours));
  EXPECT_TRUE(sameValue(read("[1, [2, {}], \"a\"]"), Json::array({1, Json::array({2, Json::object()}), "a"})));
  EXPECT_FALSE(sameValue(read("[1, 2]"), Json::array({2, 1})));
  EXPECT_FALSE(sameValue(read("[1, 2]"), Json::array({1, 2, 3})));
  EXPECT_FALSE(sameValue(read("{}"), Json::array()));
  EXPECT_FALSE(sameValue(read("{\"a\": 1}"), Json{{"b", 1}}));
  EXPECT_TRUE(sameValue(read("{\"s\": \"\\u00e9\"}"), Json{{"s", "\xc3\xa9"}}));
}

}  // namespace
}  // namespace tovami
