#include "location/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace stormtally {
namespace {

std::string zeros(std::size_t n) {
  return std::string(n, '0');
}

TEST(AnswerValue, ReadsTheLongestLeadingNumber) {
  const double max = std::numeric_limits<double>::max();
  // Every answer of a row reads as the row's value.
  const std::pair<std::optional<double>, std::vector<std::string>> cases[] = {
      // No leading number (from_chars's own words and forms among them)...
      {0, {"", "N38", "--5", "+-5", "-", "+", ".", "-.", ".e2", "inf", "nan", "0x1p3"}},
      {0, {"&", "&17", "H1F", "-&H1F", "&H", "&O", "&HG", "&O8"}},
      // ...or a number too small for a double.
      {0,
       {"1e-400", "100e-326", "0e99999999999999999999", "1e-99999999999999999999",
        "0." + zeros(400) + "1e70"}},
      // Blanks, tabs and line feeds vanish anywhere; a carriage return ends the number.
      {38.5, {"38.5", "3 8.5", "38.50000"}},
      {-90.25, {" \t\n- 9 0 .\t2 5 ", "-90.25W", "- 9025e-2"}},
      {12, {"12\r3"}},
      // Signs, points, digits, and exponents: E or D, either case, optional sign, digits.
      {38, {"38,5", "38_5", "038"}},
      {1, {"1.", "1e", "1e+", "1e-x", "1f3", "1,000"}},
      {0.5, {".5", "+.5"}},
      {-0.5, {"-.5"}},
      {1.5, {"1.5.3"}},
      {100, {"1 e 2", "1.e2", "1e2e3", "1e2.5", "+1e+2", "1D2", "1d2", "10D+1"}},
      {0.25, {"2.5e-1", "2.5D-1"}},
      // The range of a double, to its last digit.
      {std::nullopt,
       {"1e400", "-1e400", "1.8e308", "0.01e311", "1" + zeros(400), "1e99999999999999999999",
        "0.00001e99999999999999999999", "1.797693134862315808e308"}},
      {max, {"1.7976931348623158e308", "&HFFFFFFFFFFFFF8" + zeros(242)}},
      {1e308, {"0.001e311"}},
      {1e-308, {"1000e-311"}},
      {4.9406564584124654e-324, {"4.9406564584124654e-324", "2.4703282292062328e-324"}},
      {0, {"2.4703282292062327e-324", "-2.4703282292062327e-324"}},
      {2.2250738585072009e-308, {"2.2250738585072011e-308"}},
      {2.2250738585072014e-308, {"2.2250738585072012e-308"}},
      // Halfway between two doubles the even one; any digit beyond, even the 900th, goes up.
      {9007199254740992.0, {"9007199254740993", "9007199254740992.9999999"}},
      {9007199254740994.0, {"9007199254740993." + zeros(900) + "1", "9007199254740994"}},
      {9007199254740996.0, {"9007199254740995", "900719925474099.5e1"}},
      // "&H" and "&O": whole numbers that no count of digits makes negative.
      {31, {"&H1F", "&h1f", "& H 1 F", "&H1F.5", "&H" + zeros(300) + "1F"}},
      {15, {"&O17", "&o17", "&O178"}},
      {482, {"&H1E2"}},
      {65535, {"&HFFFF", "&O177777"}},
      {4294967295.0, {"&HFFFFFFFF", "&O37777777777"}},
      {18446744073709551615.0, {"&HFFFFFFFFFFFFFFFF", "&O1777777777777777777777"}},
      // Beyond 2^53 the nearest double, a tie going to the even one unless a digit follows.
      {std::ldexp(1.0, 60), {"&H1000000000000080"}},
      {std::ldexp(1.0, 68) + std::ldexp(1.0, 16), {"&H100000000000008001"}},
      {std::ldexp(1.0, 1020), {"&H" + std::string(255, 'F'), "&H1" + zeros(255)}},
      {std::ldexp(1.0, 1023), {"&O1" + zeros(341)}},
      {std::nullopt,
       {"&O2" + zeros(341), "&H" + std::string(256, 'F'), "&HFFFFFFFFFFFFFC" + zeros(242)}}};
  for (const auto& [value, answers] : cases) {
    for (const std::string& answer : answers) {
      EXPECT_EQ(answerValue(answer), value) << "answer \"" << answer.substr(0, 40) << "\"";
    }
  }
  EXPECT_TRUE(std::signbit(*answerValue("-0")));
  EXPECT_TRUE(std::signbit(*answerValue("-1e-400")));
}

TEST(NumberText, WritesTheShortFormWithFifteenDigits) {
  const double max = std::numeric_limits<double>::max(), inf = HUGE_VAL;
  // clang-format off
  const std::pair<double, const char*> cases[] = {
      // At most 15 significant digits, no trailing zeros.
      {0, "0"}, {-0.0, "0"}, {-90.683, "-90.683"}, {0.1 + 0.2, "0.3"},
      {2.0 / 3, "0.666666666666667"}, {123456789012345, "123456789012345"},
      {1.000000000000006, "1.00000000000001"},
      // Fixed notation from 1E-4 up to, not including, 1E15 (after rounding).
      {-9.9999999999999999e-5, "-0.0001"}, {0.00012345, "0.00012345"},
      {0.0000999999999999, "9.99999999999E-05"}, {999999999999999.4, "999999999999999"},
      {999999999999999.9, "1E+15"}, {1234567890123456, "1.23456789012346E+15"},
      // Halfway at the 16th digit the even one.
      {1000000000000005, "1E+15"}, {1000000000000015, "1.00000000000002E+15"}, {1e23, "1E+23"},
      // Exponent form: sign always, at least two digits.
      {-2.5e-10, "-2.5E-10"}, {1e100, "1E+100"}, {max, "1.79769313486232E+308"},
      {4.9406564584124654e-324, "4.94065645841247E-324"}, {inf, "inf"}, {-inf, "-inf"},
      {std::nan(""), "nan"}};
  // clang-format on
  for (const auto& [value, text] : cases) EXPECT_EQ(numberText(value), text) << value;
}

// Every written text reads back as the number it came from, except at the very top, where the
// largest double rounds up to a text beyond the range.
TEST(NumberText, ReadsBackItsOwnText) {
  for (double v : {38.5, -90.683, 1e20, 1.5e-7, 123456789012345.0, 0.0001, 1e-5}) {
    EXPECT_EQ(answerValue(numberText(v)), v) << numberText(v);
  }
  EXPECT_EQ(answerValue(numberText(std::numeric_limits<double>::max())), std::nullopt);
}

}  // namespace
}  // namespace stormtally
