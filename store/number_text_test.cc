#include "store/number_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tervane::store {
namespace {

TEST(NumberText, BothStylesAreExactAtEveryRangeEdge) {
  struct Case {
    const char* text;
    NumberStyle style;
    const NumberRange* range;
    std::optional<int64_t> expected;  // nothing: refused
  };
  constexpr NumberStyle R = NumberStyle::kRounded;
  constexpr NumberStyle W = NumberStyle::kWhole;
  const std::vector<Case> cases = {
      // Digits beyond a double's precision still decide the rounding and the range.
      {"2147483647.4999999999999999", R, &kInt32Range, 2147483647},
      {"2147483647.5", R, &kInt32Range, std::nullopt},
      {"-2147483648.5000000000000001", R, &kInt32Range, std::nullopt},
      {"-2147483648.5", R, &kInt32Range, -2147483648},
      {"32766.5", R, &kInt16Range, 32766},
      {"0.5", R, &kInt16Range, 0},
      {"1.5", R, &kInt16Range, 2},
      {"-0.5", R, &kInt16Range, 0},
      {"65535.49", R, &kPortRange, 65535},
      {"0.51", R, &kPortRange, 1},
      {"0.5", R, &kPortRange, std::nullopt},
      {"4294967295", R, &kUint32Range, 4294967295},
      {"4294967295.5", R, &kUint32Range, std::nullopt},
      {"429496729.5e1", R, &kUint32Range, 4294967295},
      {"1.2e3", R, &kInt16Range, 1200},
      {"12e-1", R, &kInt16Range, 1},
      {"000000000000000000000000001", R, &kInt16Range, 1},
      {"99999999999999999999999", R, &kInt32Range, std::nullopt},
      {"1e999999999", R, &kInt32Range, std::nullopt},
      {"0e999999999", R, &kInt32Range, 0},
      {".5", R, &kInt16Range, 0},
      {"7.", R, &kInt16Range, 7},
      {"\t12\r\n", R, &kInt16Range, 12},
      {".", R, &kInt16Range, std::nullopt},
      {"1e", R, &kInt16Range, std::nullopt},
      {"e5", R, &kInt16Range, std::nullopt},
      {"--1", R, &kInt16Range, std::nullopt},
      // What a user may type for a whole number: digits and a leading minus only.
      {"1162", W, &kPortRange, 1162},
      {"-3", W, &kInt16Range, -3},
      {"0", W, &kPortRange, std::nullopt},
      {"65536", W, &kPortRange, std::nullopt},
      {"+5", W, &kInt16Range, std::nullopt},
      {" 5", W, &kInt16Range, std::nullopt},
      {"5 ", W, &kInt16Range, std::nullopt},
      {"2.0", W, &kInt16Range, std::nullopt},
      {"1e3", W, &kInt16Range, std::nullopt},
      {"", W, &kInt16Range, std::nullopt},
      {"-", W, &kInt16Range, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"" + (c.style == W ? " whole" : " rounded"));
    Result<int64_t> got = ParseNumberText(c.text, c.style, *c.range, "VarPos1");
    ASSERT_EQ(got.ok(), c.expected.has_value()) << got.status().ToString();
    if (c.expected) {
      EXPECT_EQ(*got, *c.expected);
    }
  }

  // The two refusals say which it was, naming the field and the text as given.
  const Status port = ParseNumberText("70000", W, kPortRange, "TrapForwPort").status();
  EXPECT_EQ(port.error(), kErrorInvalidArgument);
  EXPECT_EQ(port.description(), "TrapForwPort: 70000 is not a port number (1 to 65535)");
  const Status fraction = ParseNumberText("1.5", W, kPortRange, "").status();
  EXPECT_EQ(fraction.error(), kErrorConversion);
  EXPECT_EQ(fraction.description(), "\"1.5\" is not a whole number");
}

TEST(NumberText, NonZeroLooksBeforeRounding) {
  EXPECT_EQ(NumberTextIsNonZero("0.4"), std::optional<bool>(true));
  EXPECT_EQ(NumberTextIsNonZero(" -0.000 "), std::optional<bool>(false));
  EXPECT_EQ(NumberTextIsNonZero("0e5"), std::optional<bool>(false));
  EXPECT_EQ(NumberTextIsNonZero("yes"), std::nullopt);
}

}  // namespace
}  // namespace tervane::store
