#include "location/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "protocol/decimal_text.h"

namespace stormtally {
namespace {

// "&H" and "&O" numbers: the longest run of digits of the base, read as a whole number that is
// never negative. There is no 16- or 32-bit wrap, so "&HFFFF" is 65535 and "&HFFFFFFFF" is
// 4294967295, not -1: the answers are coordinates and a radius, and a negative one is typed
// with "-". Values beyond 2^53 are rounded to the nearest double; beyond the range of a double
// there is no value.
std::optional<double> radixValue(std::string_view text, int base, int bitsPerDigit) {
  const std::size_t end = std::min(
      text.find_first_not_of(base == 16 ? "0123456789ABCDEFabcdef" : "01234567"), text.size());
  std::string_view digits = text.substr(0, end);
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
  // The leading digits that fit 64 bits (at least 61 of them, as the first digit is not 0) are
  // read exactly; any non-zero digit after them only decides a tie in the rounding, which the
  // lowest bit does as well, far below the 53 bits a double keeps.
  const std::string_view head = digits.substr(0, static_cast<std::size_t>(64 / bitsPerDigit));
  const std::string_view rest = digits.substr(head.size());
  std::uint64_t whole = 0;
  std::from_chars(head.data(), head.data() + head.size(), whole, base);
  if (rest.find_first_not_of('0') != std::string_view::npos) whole |= 1;
  const int shift = bitsPerDigit * static_cast<int>(std::min<std::size_t>(rest.size(), 2048));
  const double value = std::ldexp(static_cast<double>(whole), shift);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> answerValue(std::string_view answer) {
  std::string text;
  text.reserve(answer.size());
  for (char ch : answer) {
    if (ch != ' ' && ch != '\t' && ch != '\n') text += ch;
  }
  if (text.size() >= 2 && text[0] == '&') {
    const char kind = text[1];
    if (kind == 'H' || kind == 'h') return radixValue(std::string_view(text).substr(2), 16, 4);
    if (kind == 'O' || kind == 'o') return radixValue(std::string_view(text).substr(2), 8, 3);
  }
  std::size_t length = 0;
  const double value = leadingDecimal(text, length);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

}  // namespace stormtally
