#include "protocol/decimal_text.h"

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Both directions work on the exact value with whole-number arithmetic of their own, so no
// C locale is ever consulted ("." is the decimal point whatever the user's number format) and
// the exe carries no general-purpose floating-point conversion tables.

namespace stormtally {
namespace {

// A whole number of any size, least significant 32-bit word first, without leading zero words.
class Whole {
 public:
  void multiplyAdd(std::uint32_t factor, std::uint32_t add) {
    std::uint64_t carry = add;
    for (std::uint32_t& word : words_) {
      carry += static_cast<std::uint64_t>(word) * factor;
      word = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
    if (carry != 0) words_.push_back(static_cast<std::uint32_t>(carry));
  }
  // Multiplies by base^count, base^chunk being the largest power that fits a word.
  void multiplyByPower(std::uint32_t base, std::int64_t count) {
    std::uint32_t chunk = 1;
    int perChunk = 0;
    while (chunk <= UINT32_MAX / base) chunk *= base, ++perChunk;
    for (; count >= perChunk; count -= perChunk) multiplyAdd(chunk, 0);
    while (count-- > 0) multiplyAdd(base, 0);
  }
  void shiftLeft(int bits) {
    if (words_.empty()) return;
    words_.insert(words_.begin(), static_cast<std::size_t>(bits / 32), 0);
    if (bits % 32 != 0) multiplyAdd(std::uint32_t{1} << (bits % 32), 0);
  }
  void shiftRightOne() {
    for (std::size_t k = 0; k < words_.size(); ++k) {
      const std::uint32_t next = k + 1 < words_.size() ? words_[k + 1] : 0;
      words_[k] = (words_[k] >> 1) | (next << 31);
    }
    trim();
  }
  // Divides in place and gives the remainder.
  std::uint32_t divide(std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (std::size_t k = words_.size(); k-- > 0;) {
      rest = (rest << 32) | words_[k];
      words_[k] = static_cast<std::uint32_t>(rest / divisor);
      rest %= divisor;
    }
    trim();
    return static_cast<std::uint32_t>(rest);
  }
  // Subtracts `other` when it is not larger and tells whether it did.
  bool subtractIfFits(const Whole& other) {
    if (compare(other) < 0) return false;
    std::int64_t borrow = 0;
    for (std::size_t k = 0; k < words_.size(); ++k) {
      borrow +=
          static_cast<std::int64_t>(words_[k]) - (k < other.words_.size() ? other.words_[k] : 0);
      words_[k] = static_cast<std::uint32_t>(borrow);
      borrow = borrow < 0 ? -1 : 0;
    }
    trim();
    return true;
  }
  int bitLength() const {
    if (words_.empty()) return 0;
    int bits = 32 * static_cast<int>(words_.size() - 1);
    for (std::uint32_t top = words_.back(); top != 0; top >>= 1) ++bits;
    return bits;
  }
  bool isZero() const { return words_.empty(); }

 private:
  int compare(const Whole& other) const {
    if (words_.size() != other.words_.size()) return words_.size() < other.words_.size() ? -1 : 1;
    for (std::size_t k = words_.size(); k-- > 0;) {
      if (words_[k] != other.words_[k]) return words_[k] < other.words_[k] ? -1 : 1;
    }
    return 0;
  }
  void trim() {
    while (!words_.empty() && words_.back() == 0) words_.pop_back();
  }
  std::vector<std::uint32_t> words_;
};

constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << 52;
constexpr int kLeastExponent = -1074;  // of the smallest step of a double: 2^-1074

// m * 2^e as a double, where m <= 2^53 and m * 2^e lies on the grid of doubles (m < 2^52
// only where e is the least exponent); infinity beyond the largest.
double fromParts(bool negative, std::uint64_t m, int e) {
  std::uint64_t bits = m;
  if (m >= kHiddenBit) {
    bits = (static_cast<std::uint64_t>(e - kLeastExponent + 1) << 52) + (m - kHiddenBit);
    bits = std::min(bits, std::uint64_t{0x7FF} << 52);
  }
  bits |= static_cast<std::uint64_t>(negative) << 63;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The double nearest to digits * 10^power (ties to even); `digits` begins with a non-zero
// digit and ends with one.
double nearestDouble(bool negative, std::string_view digits, std::int64_t power) {
  const std::int64_t lead = power + static_cast<std::int64_t>(digits.size()) - 1;
  if (lead > 309) return fromParts(negative, kHiddenBit, 1024);    // at least 1E+310
  if (lead < -325) return fromParts(negative, 0, kLeastExponent);  // below half the least step
  // Up to 15 digits and a power of ten up to 22 are both exact doubles, so that one product or
  // quotient rounds once, to the same double as the long way below. Only where doubles are
  // computed as doubles: the x87 unit of 32-bit builds would round twice.
  if (FLT_EVAL_METHOD == 0 && digits.size() <= 15 && power >= -22 && power <= 22) {
    std::uint64_t whole = 0;
    for (char ch : digits) whole = whole * 10 + static_cast<std::uint64_t>(ch - '0');
    double scale = 1;
    for (std::int64_t k = power < 0 ? -power : power; k > 0; --k) scale *= 10;
    const double value = static_cast<double>(whole);
    return (negative ? -1 : 1) * (power < 0 ? value / scale : value * scale);
  }
  // A midpoint between two doubles has at most 767 significant digits, so the digits after
  // the 800th (the last of which is not 0) only tell that the number lies above its first
  // 800, and rounds as they do followed by a 1.
  std::string kept;
  if (digits.size() > 800) {
    kept.assign(digits.substr(0, 800)).push_back('1');
    power += static_cast<std::int64_t>(digits.size()) - 801;
    digits = kept;
  }
  Whole numerator, denominator;
  denominator.multiplyAdd(0, 1);
  for (std::size_t k = 0; k < digits.size(); k += 9) {
    const std::string_view group = digits.substr(k, 9);
    std::uint32_t value = 0, scale = 1;
    for (char ch : group) value = value * 10 + static_cast<std::uint32_t>(ch - '0'), scale *= 10;
    numerator.multiplyAdd(scale, value);
  }
  (power >= 0 ? numerator : denominator).multiplyByPower(10, power >= 0 ? power : -power);

  // Scaled by 2^shift, the quotient has 55 or 56 bits: 53 to keep and at least two to round.
  const int shift = 55 - (numerator.bitLength() - denominator.bitLength());
  if (shift > 0) numerator.shiftLeft(shift);
  if (shift < 0) denominator.shiftLeft(-shift);
  denominator.shiftLeft(55);
  std::uint64_t quotient = 0;
  for (int bit = 55; bit >= 0; --bit) {
    if (numerator.subtractIfFits(denominator)) quotient |= std::uint64_t{1} << bit;
    denominator.shiftRightOne();
  }
  bool sticky = !numerator.isZero();

  // 53 bits are kept, fewer below the normal range where every step is 2^-1074; the dropped
  // bits and the remainder round the last kept one, a tie to even.
  int dropped = quotient >> 55 ? 3 : 2;
  int e = dropped - shift;
  if (e < kLeastExponent) dropped += kLeastExponent - e, e = kLeastExponent;
  dropped = std::min(dropped, 60);
  std::uint64_t m = quotient >> dropped;
  const bool half = (quotient >> (dropped - 1)) & 1;
  sticky = sticky || (quotient & ((std::uint64_t{1} << (dropped - 1)) - 1)) != 0;
  if (half && (sticky || (m & 1) != 0)) ++m;
  return fromParts(negative, m, e);
}

std::size_t digitsEnd(std::string_view text, std::size_t from) {
  return std::min(text.find_first_not_of("0123456789", from), text.size());
}

}  // namespace

double leadingDecimal(std::string_view text, std::size_t& length) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::size_t start = !text.empty() && (text[0] == '+' || negative) ? 1 : 0;
  const std::size_t pointAt = digitsEnd(text, start);
  const bool point = pointAt < text.size() && text[pointAt] == '.';
  const std::size_t mantissaEnd = point ? digitsEnd(text, pointAt + 1) : pointAt;
  length = 0;
  if (mantissaEnd - start == (point ? 1u : 0u)) return 0;  // no digits: no number
  length = mantissaEnd;

  // The exponent counts only with a digit; it saturates at a size that no double comes near.
  std::int64_t exponent = 0;
  if (mantissaEnd < text.size() &&
      std::string_view("EeDd").find(text[mantissaEnd]) != std::string_view::npos) {
    std::size_t at = mantissaEnd + 1;
    const bool negativeExponent = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '+' || negativeExponent)) ++at;
    const std::size_t exponentEnd = digitsEnd(text, at);
    if (exponentEnd > at) length = exponentEnd;
    for (; at < exponentEnd; ++at) {
      exponent = std::min<std::int64_t>(exponent * 10 + (text[at] - '0'), 1000000);
    }
    if (negativeExponent) exponent = -exponent;
  }

  std::string digits(text.substr(start, pointAt - start));
  if (point) digits += text.substr(pointAt + 1, mantissaEnd - pointAt - 1);
  std::int64_t power = exponent - static_cast<std::int64_t>(point ? mantissaEnd - pointAt - 1 : 0);
  const std::size_t last = digits.find_last_not_of('0');
  if (last == std::string::npos) return negative ? -0.0 : 0.0;
  power += static_cast<std::int64_t>(digits.size() - last - 1);
  digits.erase(last + 1);
  const std::size_t first = digits.find_first_not_of('0');
  return nearestDouble(negative, std::string_view(digits).substr(first), power);
}

// The value rounded to 15 significant digits (ties to even), from the exact decimal digits of
// the double. Fixed notation for 1E-4 <= |x| < 1E15, judged after that rounding (so
// 999999999999999.9 rounds to "1E+15" and 0.000099999999999999999 to "0.0001"); exponent form
// outside it, with a mantissa without trailing zeros, "E", a sign, and at least two exponent
// digits: "1E+15", "1.5E-07", "1E+100". Infinity and NaN, which no typed answer gives, are
// written "inf", "-inf" and "nan".
std::string numberText(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = bits >> 63;
  std::string out = negative ? "-" : "";
  const int biased = static_cast<int>(bits >> 52) & 0x7FF;
  std::uint64_t m = bits & (kHiddenBit - 1);
  if (biased == 0x7FF) return m != 0 ? out + "nan" : out + "inf";
  if (value == 0) return "0";  // negative zero too

  // The double is m * 2^e: exactly whole * 10^power, with power = min(e, 0).
  int e = kLeastExponent;
  if (biased != 0) m |= kHiddenBit, e = biased + kLeastExponent - 1;
  Whole whole;
  whole.multiplyAdd(0, static_cast<std::uint32_t>(m >> 32));
  whole.shiftLeft(32);
  whole.multiplyAdd(1, static_cast<std::uint32_t>(m));
  if (e >= 0) whole.shiftLeft(e);
  if (e < 0) whole.multiplyByPower(5, -e);
  std::string digits;
  while (!whole.isZero()) {
    std::uint32_t group = whole.divide(1000000000);
    for (int k = 0; k < 9; ++k) digits += static_cast<char>('0' + group % 10), group /= 10;
  }
  digits.erase(digits.find_last_not_of('0') + 1);
  std::reverse(digits.begin(), digits.end());
  int exponent = static_cast<int>(digits.size()) - 1 + std::min(e, 0);

  if (digits.size() > 15) {
    const bool beyondHalf = digits.find_first_not_of('0', 16) != std::string::npos;
    const char next = digits[15];
    digits.erase(15);
    if (next > '5' || (next == '5' && (beyondHalf || (digits.back() - '0') % 2 != 0))) {
      std::size_t k = digits.size();
      while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
      if (k == 0) {
        digits.insert(digits.begin(), '1');
        ++exponent;
      } else {
        ++digits[k - 1];
      }
    }
  }
  digits.erase(std::max<std::size_t>(digits.find_last_not_of('0') + 1, 1));

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
  if (magnitude >= 100) out += static_cast<char>('0' + magnitude / 100);
  out += static_cast<char>('0' + magnitude / 10 % 10);
  out += static_cast<char>('0' + magnitude % 10);
  return out;
}

}  // namespace stormtally
