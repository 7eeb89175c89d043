#include "protocol/wire_contract.h"

#include <algorithm>

#include "protocol/decimal_text.h"

namespace stormtally::wire {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The length of the run of digits at `at`.
std::size_t digitRun(std::string_view text, std::size_t at) {
  std::size_t n = 0;
  while (at + n < text.size() && isDigit(text[at + n])) ++n;
  return n;
}

// Whether the whole text is a number of the grammar above readNumber.
bool followsGrammar(std::string_view text) {
  std::size_t at = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  const std::size_t whole = digitRun(text, at);
  at += whole;
  std::size_t fraction = 0;
  if (at < text.size() && text[at] == '.') fraction = digitRun(text, ++at), at += fraction;
  if (whole + fraction == 0) return false;
  if (at < text.size() && (text[at] == 'E' || text[at] == 'e')) {
    if (++at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const std::size_t exponent = digitRun(text, at);
    if (exponent == 0) return false;
    at += exponent;
  }
  return at == text.size();
}

// A printable, bounded rendering of a key for an error message.
std::string shown(std::string_view key) {
  std::string out;
  for (char c : key.substr(0, 32)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  if (key.size() > 32) out += "...";
  return out;
}

std::string rangeError(const KeyRange& range) {
  const std::string key(range.key);
  if (range.aboveLowest) {
    return key + " must be greater than " + numberText(range.lowest) + " and at most " +
           numberText(range.highest) + " miles";
  }
  return key + " must lie between " + numberText(range.lowest) + " and " +
         numberText(range.highest);
}

}  // namespace

std::string percentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char ch : value) {
    const bool unreserved = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                            (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' ||
                            ch == '~';
    if (unreserved) {
      out += static_cast<char>(ch);
    } else {
      out += '%';
      out += kHex[ch >> 4];
      out += kHex[ch & 0xF];
    }
  }
  return out;
}

bool percentDecode(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string countUrl(std::string_view base, std::string_view lat, std::string_view lon,
                     std::string_view distance) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  std::string url(base);
  url += kCountPath;
  url += '?';
  for (const auto& [range, value] :
       {std::pair{kLat, lat}, std::pair{kLon, lon}, std::pair{kDistance, distance}}) {
    if (range.key != kLat.key) url += '&';
    url += range.key;
    url += '=';
    url += percentEncode(value);
  }
  return url;
}

std::optional<double> readNumber(std::string_view text) {
  if (text.size() > 64 || !followsGrammar(text)) return std::nullopt;
  std::size_t length = 0;
  return leadingDecimal(text, length);
}

CountQuery readCountQuery(std::string_view query) {
  struct Slot {
    const KeyRange& range;
    bool seen = false;
    double value = 0;
  } slots[] = {{kLat}, {kLon}, {kDistance}};
  CountQuery result;
  const auto fail = [&result](std::string reason) {
    result.error = std::move(reason);
    return result;
  };
  std::string key, value;
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    const std::string_view rawKey = pair.substr(0, eq);
    const std::string_view rawValue = eq == std::string_view::npos ? "" : pair.substr(eq + 1);
    if (!percentDecode(rawKey, key)) {
      return fail("malformed percent-encoding in key '" + shown(rawKey) + "'");
    }
    for (Slot& slot : slots) {
      const std::string name(slot.range.key);
      if (key != name) continue;
      if (slot.seen) return fail("duplicate key '" + name + "'");
      slot.seen = true;
      if (!percentDecode(rawValue, value)) {
        return fail("malformed percent-encoding in '" + name + "'");
      }
      const std::optional<double> number = readNumber(value);
      if (!number) return fail("'" + name + "' is not a number");
      slot.value = *number;
    }
  }
  for (const Slot& slot : slots) {
    if (!slot.seen) return fail("missing key '" + std::string(slot.range.key) + "'");
  }
  for (const Slot& slot : slots) {
    const KeyRange& r = slot.range;
    const bool above = r.aboveLowest ? slot.value > r.lowest : slot.value >= r.lowest;
    if (!above || !(slot.value <= r.highest)) return fail(rangeError(r));
  }
  result.place = Place{slots[0].value, slots[1].value, slots[2].value};
  return result;
}

}  // namespace stormtally::wire
