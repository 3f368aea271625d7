#include "store/convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "store/value.h"

namespace tervane::store {
namespace {

// One conversion case: the input, and either the expected number or the expected failure.
struct NumberCase {
  Value input;
  bool ok;
  int64_t expected;   // when ok
  ErrorCode code;     // when not ok
  std::string error;  // when not ok: the whole description
};

NumberCase Ok(Value input, int64_t expected) { return {std::move(input), true, expected, {}, ""}; }
NumberCase Bad(Value input, ErrorCode code, std::string error) {
  return {std::move(input), false, 0, code, std::move(error)};
}

template <typename Convert>
void CheckNumbers(const char* what, Convert convert, const std::vector<NumberCase>& cases,
                  const char* column) {
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(std::string(what) + " of " + ::testing::PrintToString(c.input));
    auto result = convert(c.input, column);
    ASSERT_EQ(result.ok(), c.ok) << result.status().ToString();
    if (c.ok) {
      EXPECT_EQ(static_cast<int64_t>(*result), c.expected);
    } else {
      EXPECT_EQ(result.status().error(), c.code);
      EXPECT_EQ(result.status().description(), c.error);
    }
  }
}

TEST(Convert, ToInt16RoundsHalfToEvenAndChecksTheRange) {
  const std::string range = " is outside the 16-bit range (-32768 to 32767)";
  CheckNumbers(
      "ToInt16", ToInt16,
      {
          Ok(5, 5),
          Ok(-5, -5),
          Ok(2.5, 2),
          Ok(3.5, 4),
          Ok(-2.5, -2),
          Ok(-3.5, -4),
          Ok(0.5, 0),
          Ok(2.4999, 2),
          Ok(2.5001, 3),
          Ok("12.5", 12),
          Ok("13.5", 14),
          Ok(" 42 ", 42),
          Ok("+7", 7),
          Ok("-7", -7),
          Ok("1e2", 100),
          Ok("1e-400", 0),
          Ok(32767, 32767),
          Ok(-32768, -32768),
          Ok(32767.4, 32767),
          Ok(-32768.5, -32768),
          Bad(32768, kErrorOverflow, "VarPos1: 32768" + range),
          Bad(-32769, kErrorOverflow, "VarPos1: -32769" + range),
          Bad(32767.5, kErrorOverflow, "VarPos1: 32767.5" + range),
          Bad("40000", kErrorOverflow, "VarPos1: 40000" + range),
          Bad("1e400", kErrorOverflow, "VarPos1: 1e400" + range),
          Bad(int64_t{9000000000000000000}, kErrorOverflow, "VarPos1: 9000000000000000000" + range),
          Bad(Value(), kErrorConversion, "VarPos1: no value"),
          Bad("abc", kErrorConversion, "VarPos1: \"abc\" is not a number"),
          Bad("", kErrorConversion, "VarPos1: \"\" is not a number"),
          Bad("12abc", kErrorConversion, "VarPos1: \"12abc\" is not a number"),
          Bad("1 2", kErrorConversion, "VarPos1: \"1 2\" is not a number"),
          Bad("+-5", kErrorConversion, "VarPos1: \"+-5\" is not a number"),
          Bad("0x10", kErrorConversion, "VarPos1: \"0x10\" is not a number"),
          Bad("inf", kErrorConversion, "VarPos1: \"inf\" is not a number"),
          Bad("nan", kErrorConversion, "VarPos1: \"nan\" is not a number"),
      },
      "VarPos1");
}

TEST(Convert, ToInt32ChecksTheThirtyTwoBitRange) {
  const std::string range = " is outside the 32-bit range (-2147483648 to 2147483647)";
  CheckNumbers("ToInt32", ToInt32,
               {
                   Ok(2147483647, 2147483647),
                   Ok(int64_t{-2147483648}, -2147483648),
                   Ok(40000, 40000),
                   Ok(2.5, 2),
                   Ok("-2147483648.5", -2147483648),
                   Bad(int64_t{2147483648}, kErrorOverflow, "TrapNewNumber: 2147483648" + range),
                   Bad(int64_t{-2147483649}, kErrorOverflow, "TrapNewNumber: -2147483649" + range),
                   Bad("2147483647.5", kErrorOverflow, "TrapNewNumber: 2147483647.5" + range),
                   Bad(Value(), kErrorConversion, "TrapNewNumber: no value"),
                   Bad("x", kErrorConversion, "TrapNewNumber: \"x\" is not a number"),
               },
               "TrapNewNumber");
}

TEST(Convert, ToPortAcceptsOneTo65535) {
  const std::string not_port = " is not a port number (1 to 65535)";
  CheckNumbers("ToPort", ToPort,
               {
                   Ok(1, 1),
                   Ok(162, 162),
                   Ok(40000, 40000),
                   Ok(65535, 65535),
                   Ok("162", 162),
                   Ok(161.5, 162),
                   Ok(" 1162 ", 1162),
                   Bad(70000, kErrorInvalidArgument, "TrapRecvPort: 70000" + not_port),
                   Bad(0, kErrorInvalidArgument, "TrapRecvPort: 0" + not_port),
                   Bad(0.4, kErrorInvalidArgument, "TrapRecvPort: 0.4" + not_port),
                   Bad(-1, kErrorInvalidArgument, "TrapRecvPort: -1" + not_port),
                   Bad(65536, kErrorInvalidArgument, "TrapRecvPort: 65536" + not_port),
                   Bad(65535.5, kErrorInvalidArgument, "TrapRecvPort: 65535.5" + not_port),
                   Bad(Value(), kErrorConversion, "TrapRecvPort: no value"),
                   Bad("abc", kErrorConversion, "TrapRecvPort: \"abc\" is not a number"),
               },
               "TrapRecvPort");
}

TEST(Convert, ToBooleanTakesNumbersAndTheUsualWords) {
  struct Case {
    Value input;
    bool expected;
  };
  const std::vector<Case> cases = {
      {0, false},       {1, true},      {-1, true},     {0.5, true},     {0.0, false},
      {"True", true},   {"true", true}, {"TRUE", true}, {" yes ", true}, {"On", true},
      {"False", false}, {"no", false},  {"OFF", false}, {"0", false},    {"0.0", false},
      {"2", true},      {"-1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    Result<bool> result = ToBoolean(c.input, "DebugMode");
    ASSERT_TRUE(result.ok()) << result.status().ToString();
    EXPECT_EQ(*result, c.expected);
  }

  const std::string words = " is not a Boolean (True or False, Yes or No, On or Off, or a number)";
  const std::vector<std::pair<Value, std::string>> failures = {
      {Value(), "DebugMode: no value"},
      {"", "DebugMode: \"\"" + words},
      {"maybe", "DebugMode: \"maybe\"" + words},
      {"yes please", "DebugMode: \"yes please\"" + words},
  };
  for (const auto& [input, error] : failures) {
    SCOPED_TRACE(::testing::PrintToString(input));
    Result<bool> result = ToBoolean(input, "DebugMode");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.status().error(), kErrorConversion);
    EXPECT_EQ(result.status().description(), error);
  }
}

TEST(Convert, ToTextRefusesOnlyNull) {
  const std::vector<std::pair<Value, std::string>> cases = {
      {"0.0.0.0", "0.0.0.0"}, {"", ""}, {162, "162"}, {2.5, "2.5"}};
  for (const auto& [input, expected] : cases) {
    Result<std::string> text = ToText(input, "TrapRecvIpAddr");
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    EXPECT_EQ(*text, expected);
  }
  Result<std::string> null = ToText(Value(), "TrapRecvIpAddr");
  ASSERT_FALSE(null.ok());
  EXPECT_EQ(null.status().error(), kErrorConversion);
  EXPECT_EQ(null.status().description(), "TrapRecvIpAddr: no value");
}

TEST(Convert, WithoutAColumnNameTheDescriptionStartsWithTheValue) {
  EXPECT_EQ(ToPort(0, "").status().description(), "0 is not a port number (1 to 65535)");
  EXPECT_EQ(ToInt16(Value(), "").status().description(), "no value");
}

TEST(Value, AsTextIsWhatTheWindowShows) {
  EXPECT_EQ(Value().AsText(), "");
  const std::vector<std::pair<Value, std::string>> cases = {
      {1000, "1000"}, {-5, "-5"},      {2.5, "2.5"},
      {3.0, "3"},     {1e20, "1e+20"}, {"DisplayString", "DisplayString"},
      {"", ""}};
  for (const auto& [value, text] : cases) EXPECT_EQ(value.AsText(), text) << value;
}

TEST(Value, EqualityKeepsTheKindApart) {
  EXPECT_EQ(Value(), Value());
  EXPECT_EQ(Value(7), Value(int64_t{7}));
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(""), Value());
  EXPECT_NE(Value(0), Value());
}

}  // namespace
}  // namespace tervane::store
