#include "query/count_text.h"

#include <cmath>
#include <cstdint>

#include "protocol/decimal_text.h"

namespace stormtally {
namespace {

bool isBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

// Checks the shape strictly, so that strtod's extras (hex, inf, nan) never count.
bool isPlainNumber(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

// Reads a number independently of the user's locale, so a decimal comma never matters. A
// number beyond the range of a double, or one too small for it that would read as zero, is
// not a count.
std::optional<double> readClassic(std::string_view s) {
  std::size_t length = 0;
  const double value = leadingDecimal(s, length);
  if (!std::isfinite(value)) return std::nullopt;
  if (value == 0 && s.substr(0, s.find_first_of("eE")).find_first_of("123456789") != s.npos) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::string> countFromBody(std::string_view body) {
  while (!body.empty() && isBlank(body.front())) body.remove_prefix(1);
  while (!body.empty() && isBlank(body.back())) body.remove_suffix(1);
  if (!isPlainNumber(body)) return std::nullopt;
  const std::optional<double> value = readClassic(body);
  if (!value) return std::nullopt;
  const double floored = std::floor(*value);
  // 2^63 is exactly representable; anything at or above it does not fit.
  if (floored < -9223372036854775808.0 || floored >= 9223372036854775808.0) return std::nullopt;
  return std::to_string(static_cast<std::int64_t>(floored));
}

}  // namespace stormtally
