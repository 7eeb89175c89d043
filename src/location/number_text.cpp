#include "location/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

// Both directions go through std::from_chars and std::to_chars, which never consult the C
// locale: "." is the decimal point whatever the user's number format, and no printf-family
// call is involved, so the runtime's exponent width plays no part either.

namespace stormtally {
namespace {

bool isDigit(char ch) {
  return ch >= '0' && ch <= '9';
}
bool isHexDigit(char ch) {
  return isDigit(ch) || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}
bool isOctalDigit(char ch) {
  return ch >= '0' && ch <= '7';
}

// Octal digits rewritten as hexadecimal digits of the same value: three bits per octal digit,
// regrouped by four from the right.
std::string octalToHex(std::string_view octal) {
  std::string bits;
  bits.reserve(octal.size() * 3 + 3);
  for (char ch : octal) {
    const int d = ch - '0';
    bits += (d & 4) ? '1' : '0';
    bits += (d & 2) ? '1' : '0';
    bits += (d & 1) ? '1' : '0';
  }
  while (bits.size() % 4 != 0) bits.insert(bits.begin(), '0');
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bits.size() / 4);
  for (std::size_t i = 0; i < bits.size(); i += 4) {
    int v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = v * 2 + (bits[i + k] - '0');
    hex += kHex[v];
  }
  return hex;
}

// "&H" and "&O" numbers. The digits are read as a whole number that is never negative: there
// is no 16- or 32-bit wrap, so "&HFFFF" is 65535 and "&HFFFFFFFF" is 4294967295, not -1. The
// answers are coordinates and a radius; a reading in which one more digit turns a number
// negative would help no one, and a negative answer is typed with "-". Values beyond 2^53 are
// rounded to the nearest double; beyond the range of a double there is no value.
std::optional<double> radixValue(std::string_view text, bool hex) {
  std::size_t end = 0;
  while (end < text.size() && (hex ? isHexDigit(text[end]) : isOctalDigit(text[end]))) ++end;
  if (end == 0) return 0.0;
  const std::string digits =
      hex ? std::string(text.substr(0, end)) : octalToHex(text.substr(0, end));
  double value = 0;
  const auto [ptr, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::hex);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) return std::nullopt;
  if (ec != std::errc()) return 0.0;
  return value;
}

// Power of ten of the leading non-zero digit of intDigits.fracDigits times 10^exponent;
// the exponent saturates, which is enough to tell overflow from underflow.
long long leadingPower(std::string_view intDigits, std::string_view fracDigits,
                       std::string_view expDigits, bool expNegative) {
  long long exponent = 0;
  for (char ch : expDigits) {
    exponent = exponent * 10 + (ch - '0');
    if (exponent > 1000000) break;
  }
  if (expNegative) exponent = -exponent;
  const std::size_t i = intDigits.find_first_not_of('0');
  if (i != std::string_view::npos) {
    return static_cast<long long>(intDigits.size() - 1 - i) + exponent;
  }
  const std::size_t j = fracDigits.find_first_not_of('0');
  if (j != std::string_view::npos) return -static_cast<long long>(j + 1) + exponent;
  return 0;
}

std::optional<double> decimalValue(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t intStart = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  const std::string_view intDigits = text.substr(intStart, i - intStart);
  std::string_view fracDigits;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fracStart = ++i;
    while (i < text.size() && isDigit(text[i])) ++i;
    fracDigits = text.substr(fracStart, i - fracStart);
  }
  if (intDigits.empty() && fracDigits.empty()) return 0.0;

  // An exponent marker counts only when digits follow it (after an optional sign).
  std::string_view expDigits;
  bool expNegative = false;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::size_t k = i + 1;
    bool sign = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) {
      sign = text[k] == '-';
      ++k;
    }
    const std::size_t expStart = k;
    while (k < text.size() && isDigit(text[k])) ++k;
    if (k > expStart) {
      expDigits = text.substr(expStart, k - expStart);
      expNegative = sign;
    }
  }

  std::string normal;
  normal.reserve(intDigits.size() + fracDigits.size() + expDigits.size() + 5);
  if (negative) normal += '-';
  normal += intDigits.empty() ? std::string_view("0") : intDigits;
  if (!fracDigits.empty()) {
    normal += '.';
    normal += fracDigits;
  }
  if (!expDigits.empty()) {
    normal += 'e';
    if (expNegative) normal += '-';
    normal += expDigits;
  }
  double value = 0;
  const auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large has no value; too small is zero, as the nearest double is.
    if (leadingPower(intDigits, fracDigits, expDigits, expNegative) > 0) return std::nullopt;
    return negative ? -0.0 : 0.0;
  }
  if (ec != std::errc()) return 0.0;
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
    if (kind == 'H' || kind == 'h') return radixValue(std::string_view(text).substr(2), true);
    if (kind == 'O' || kind == 'o') return radixValue(std::string_view(text).substr(2), false);
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
