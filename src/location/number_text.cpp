#include "location/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

// Both directions go through std::from_chars and std::to_chars, which never consult the C
// locale: "." is the decimal point whatever the user's number format, and no printf-family
// call is involved, so the runtime's exponent width plays no part either.

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

std::size_t digitsEnd(std::string_view text, std::size_t from) {
  return std::min(text.find_first_not_of("0123456789", from), text.size());
}

// Sign, digits, optional "." and digits, optional exponent (E or D, optional sign, digits).
std::optional<double> decimalValue(std::string& text) {
  const bool signed_ = !text.empty() && (text[0] == '+' || text[0] == '-');
  const std::size_t start = signed_ ? 1 : 0;
  const std::size_t pointAt = digitsEnd(text, start);
  const bool point = pointAt < text.size() && text[pointAt] == '.';
  const std::size_t mantissaEnd = point ? digitsEnd(text, pointAt + 1) : pointAt;
  if (mantissaEnd - start == (point ? 1u : 0u)) return 0.0;  // no digits: no number
  // from_chars takes "e" for the exponent, and no "+" before the number.
  if (mantissaEnd < text.size() && (text[mantissaEnd] == 'D' || text[mantissaEnd] == 'd')) {
    text[mantissaEnd] = 'e';
  }
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  double value = 0;
  const auto [last, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc::result_out_of_range) return value;

  // Beyond the range of a double: too large when the number is at least 1, too small (and then
  // zero, as the nearest double is) otherwise. The power of ten of the leading non-zero digit
  // plus the exponent tells which; the exponent saturates at a size no double comes near.
  const std::string_view mantissa(text.data() + start, mantissaEnd - start);
  const std::size_t lead = mantissa.find_first_of("123456789");
  const long intDigits = static_cast<long>(pointAt - start);
  long power = static_cast<long>(lead) < intDigits ? intDigits - static_cast<long>(lead) - 1
                                                   : intDigits - static_cast<long>(lead);
  if (last > text.data() + mantissaEnd) {  // an exponent was read
    const char* exponent = text.data() + mantissaEnd + 1;
    exponent += *exponent == '+' ? 1 : 0;
    long e = 0;
    if (std::from_chars(exponent, last, e).ec == std::errc::result_out_of_range) {
      e = *exponent == '-' ? -100000 : 100000;
    }
    power += std::clamp(e, -100000L, 100000L);
  }
  if (power >= 0) return std::nullopt;
  return text[0] == '-' ? -0.0 : 0.0;
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
  return decimalValue(text);
}

// Fixed notation for 1E-4 <= |x| < 1E15, judged after rounding to 15 significant digits (so
// 999999999999999.9 rounds to "1E+15" and 0.000099999999999999999 to "0.0001"); exponent form
// outside it, with a mantissa without trailing zeros, "E", a sign, and at least two exponent
// digits: "1E+15", "1.5E-07", "1E+100". Infinity and NaN, which no typed answer gives, are
// written "inf", "-inf" and "nan".
std::string numberText(double value) {
  if (value == 0) return "0";  // negative zero too
  char buf[64];
  if (!std::isfinite(value)) {
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
  }
  // d.dddddddddddddde[+-]x...: the value rounded to 15 significant digits.
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const bool negative = sci[0] == '-';
  const std::size_t mantStart = negative ? 1 : 0;
  const std::size_t ePos = sci.find('e');
  std::string digits;
  for (std::size_t k = mantStart; k < ePos; ++k) {
    if (sci[k] != '.') digits += sci[k];
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::size_t expStart = ePos + 1;
  if (sci[expStart] == '+') ++expStart;
  int exponent = 0;
  std::from_chars(sci.data() + expStart, sci.data() + sci.size(), exponent);

  std::string out = negative ? "-" : "";
  if (exponent >= -4 && exponent < 15) {
    if (exponent >= 0) {
      const std::size_t intLen = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= intLen) {
        out += digits;
        out.append(intLen - digits.size(), '0');
      } else {
        out += digits.substr(0, intLen);
        out += '.';
        out += digits.substr(intLen);
      }
    } else {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    }
    return out;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += exponent < 0 ? "E-" : "E+";
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) out += '0';
  char expBuf[8];
  const auto expRes = std::to_chars(expBuf, expBuf + sizeof expBuf, magnitude);
  out.append(expBuf, expRes.ptr);
  return out;
}

}  // namespace stormtally
