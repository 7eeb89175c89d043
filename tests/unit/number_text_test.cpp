#include "location/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <string>

namespace stormtally {
namespace {

struct ValueCase {
  const char* answer;
  std::optional<double> value;
};

TEST(AnswerValue, ReadsTheLongestLeadingNumber) {
  const ValueCase cases[] = {
      // The examples the prompts are built around.
      {"38.5", 38.5},
      {"3 8.5", 38.5},
      {"38,5", 38},
      {"N38", 0},
      {"-90.25W", -90.25},
      {"1e2", 100},
      {"", 0},
      {"25 miles", 25},
      {".5", 0.5},
      {"-.5", -0.5},
      // Blanks, tabs and line feeds vanish anywhere, even inside the sign or the exponent.
      {" \t\n- 9 0 .\t2 5 ", -90.25},
      {"1 e 2", 100},
      {"- 1", -1},
      // A carriage return is not white space here: it ends the number.
      {"12\r3", 12},
      // Signs.
      {"+5", 5},
      {"--5", 0},
      {"+-5", 0},
      {"-", 0},
      {"+", 0},
      // Points and digits.
      {".", 0},
      {"-.", 0},
      {"1.", 1},
      {"1.e2", 100},
      {".e2", 0},
      {"1.5.3", 1.5},
      {"007", 7},
      {"0.000", 0},
      {"1,000", 1},
      {"1_000", 1},
      // Exponents: E or D, either case, optional sign, at least one digit.
      {"1D3", 1000},
      {"1d3", 1000},
      {"1E3", 1000},
      {"2.5e-1", 0.25},
      {"2.5D+1", 25},
      {"1e", 1},
      {"1e+", 1},
      {"1e-x", 1},
      {"1ex2", 1},
      {"1e2e3", 100},
      {"1e2.5", 100},
      {"1f3", 1},
      // Range: too large has no value, too small is zero.
      {"1e400", std::nullopt},
      {"-1e400", std::nullopt},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1.8e308", std::nullopt},
      {"0.001e311", 1e308},
      {"1000e-311", 1e-308},
      {"1e-400", 0},
      {"0e99999999999999999999", 0},
      {"1e99999999999999999999", std::nullopt},
      {"1e-99999999999999999999", 0},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(answerValue(c.answer), c.value) << "answer \"" << c.answer << "\"";
  }
}

TEST(AnswerValue, ReadsHexadecimalAndOctalAsPlainWholeNumbers) {
  const ValueCase cases[] = {
      {"&H1F", 31},
      {"&h1f", 31},
      {"&O17", 15},
      {"&o17", 15},
      {"& H 1 F", 31},
      {"&H", 0},
      {"&O", 0},
      {"&HG", 0},
      {"&O8", 0},
      {"&O178", 15},
      {"&H1F.5", 31},
      {"&H1E2", 482},  // E is a hex digit, not an exponent
      {"&H0001", 1},
      // No 16- or 32-bit wrap: more digits never make a number negative.
      {"&HFFFF", 65535},
      {"&H8000", 32768},
      {"&HFFFFFFFF", 4294967295.0},
      {"&H100000000", 4294967296.0},
      {"&O177777", 65535},
      {"&O37777777777", 4294967295.0},
      {"&HFFFFFFFFFFFFF", 4503599627370495.0},  // 52 bits, exact
      {"&O1777777777777777777777", 18446744073709551615.0},
      // A sign before "&" is no number; "&" without H or O is no number either.
      {"-&H1F", 0},
      {"&17", 0},
      {"&", 0},
      {"H1F", 0},
  };
  for (const ValueCase& c : cases) {
    EXPECT_EQ(answerValue(c.answer), c.value) << "answer \"" << c.answer << "\"";
  }
  // 256 hex digits are 1024 bits: just beyond the largest double.
  EXPECT_EQ(answerValue("&H" + std::string(256, 'F')), std::nullopt);
  EXPECT_EQ(answerValue("&H1" + std::string(256, '0')), std::nullopt);
  EXPECT_EQ(answerValue("&H1" + std::string(255, '0')), std::ldexp(1.0, 1020));
  EXPECT_EQ(answerValue("&H" + std::string(255, 'F')), std::ldexp(1.0, 1020));  // rounded
  // The largest double, and the first value that rounds beyond it.
  EXPECT_EQ(answerValue("&HFFFFFFFFFFFFF8" + std::string(242, '0')),
            std::numeric_limits<double>::max());
  EXPECT_EQ(answerValue("&HFFFFFFFFFFFFFC" + std::string(242, '0')), std::nullopt);
  EXPECT_EQ(answerValue("&O2" + std::string(341, '0')), std::nullopt);  // 2^1024
  EXPECT_EQ(answerValue("&O1" + std::string(341, '0')), std::ldexp(1.0, 1023));
  EXPECT_EQ(answerValue("&H" + std::string(300, '0') + "1"), 1);
}

TEST(AnswerValue, KeepsTheSignOfZero) {
  EXPECT_TRUE(std::signbit(*answerValue("-0")));
  EXPECT_TRUE(std::signbit(*answerValue("-1e-400")));
  EXPECT_FALSE(std::signbit(*answerValue("0")));
}

struct TextCase {
  double value;
  const char* text;
};

TEST(NumberText, WritesTheShortFormWithFifteenDigits) {
  const TextCase cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-1, "-1"},
      {38.5, "38.5"},
      {-90.25, "-90.25"},
      {100, "100"},
      {0.5, "0.5"},
      {-0.5, "-0.5"},
      {248, "248"},
      {0.1, "0.1"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {38.699, "38.699"},
      {-90.683, "-90.683"},
      // 15 significant digits, rounded.
      {123456789012345, "123456789012345"},
      {1234567890123456, "1.23456789012346E+15"},
      {123456.789012345678, "123456.789012346"},
      {1.000000000000004, "1"},
      {1.000000000000006, "1.00000000000001"},
      {-9.9999999999999999e-5, "-0.0001"},
      // Fixed notation from 1E-4 up to, not including, 1E15 (after rounding).
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {0.00009999999999999999, "0.0001"},
      {0.0000999999999999, "9.99999999999E-05"},
      {0.00001, "1E-05"},
      {999999999999999, "999999999999999"},
      {999999999999999.4, "999999999999999"},
      {999999999999999.9, "1E+15"},
      {1e15, "1E+15"},
      {-1e15, "-1E+15"},
      {1e14, "100000000000000"},
      // Exponent form: sign always, at least two digits.
      {1e20, "1E+20"},
      {1.5e-7, "1.5E-07"},
      {-2.5e-10, "-2.5E-10"},
      {1e100, "1E+100"},
      {1.7976931348623157e308, "1.79769313486232E+308"},
      {4.9406564584124654e-324, "4.94065645841247E-324"},
      {2.2250738585072014e-308, "2.2250738585072E-308"},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(numberText(c.value), c.text) << "value " << c.value;
  }
}

TEST(NumberText, WritesNonFiniteValuesPlainly) {
  EXPECT_EQ(numberText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(numberText(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(numberText(std::numeric_limits<double>::quiet_NaN()).find("nan"), 0u);
}

struct AnswerTextCase {
  const char* answer;
  const char* text;
};

// What the latitude and longitude prompts write for a typed answer (custom_location_test
// runs the widget's own examples through the prompts).
TEST(NumberText, WritesTypedCoordinatesBack) {
  const AnswerTextCase cases[] = {
      {"&H1F", "31"},
      {"&O17", "15"},
      {"1D3", "1000"},
      {"38.50000", "38.5"},
      {"1e-5", "1E-05"},
      {"0.00015", "0.00015"},
      {"38.1234567890123456", "38.1234567890123"},
      {"-0.0000000001", "-1E-10"},
  };
  for (const AnswerTextCase& c : cases) {
    const std::optional<double> value = answerValue(c.answer);
    ASSERT_TRUE(value) << "answer \"" << c.answer << "\"";
    EXPECT_EQ(numberText(*value), c.text) << "answer \"" << c.answer << "\"";
  }
}

// Every written text reads back as the number it came from, rounded to 15 digits.
TEST(NumberText, ReadsBackItsOwnText) {
  const double values[] = {38.5, -90.683, 1e20, 1.5e-7, 123456789012345, 0.0001, 1e-5, 248};
  for (double v : values) {
    const std::optional<double> back = answerValue(numberText(v));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, v) << numberText(v);
  }
  // Except at the very top: the largest double rounds up to a text beyond the range.
  EXPECT_EQ(answerValue(numberText(std::numeric_limits<double>::max())), std::nullopt);
}

// A comma-decimal locale changes neither reading nor writing.
struct CommaPoint : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(NumberText, IgnoresTheCppGlobalLocale) {
  const std::locale previous = std::locale::global(std::locale(std::locale(), new CommaPoint));
  EXPECT_EQ(numberText(38.5), "38.5");
  EXPECT_EQ(numberText(1234567.25), "1234567.25");
  EXPECT_EQ(answerValue("38.5"), 38.5);
  EXPECT_EQ(answerValue("38,5"), 38);
  std::locale::global(previous);
}

TEST(NumberText, IgnoresTheCLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"};
  const char* found = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_NUMERIC, name)) {
      found = name;
      break;
    }
  }
  if (!found) GTEST_SKIP() << "no comma-decimal locale installed on this machine";
  EXPECT_EQ(numberText(38.5), "38.5");
  EXPECT_EQ(numberText(1.5e-7), "1.5E-07");
  EXPECT_EQ(answerValue("38.5"), 38.5);
  EXPECT_EQ(answerValue("38,5"), 38);
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace stormtally
