#include "count_query.h"

#include <charconv>
#include <cmath>

namespace strikecount {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A printable, bounded rendering of a key for an error message.
std::string Shown(std::string_view key) {
  std::string out;
  for (char c : key.substr(0, 32)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  if (key.size() > 32) out += "...";
  return out;
}

}  // namespace

bool PercentDecode(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool ParsePlainDecimal(std::string_view text, double& value) {
  if (text.empty() || text.size() > 64) return false;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int digits = 0, points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

CountQueryResult ParseCountQuery(std::string_view raw) {
  struct Slot {
    const char* name;
    bool seen = false;
    double value = 0;
  } slots[] = {{"lat"}, {"lon"}, {"distance"}};
  CountQueryResult result;
  auto fail = [&result](std::string reason) {
    result.error = std::move(reason);
    return result;
  };
  std::string key, value;
  size_t start = 0;
  while (start <= raw.size()) {
    size_t end = raw.find('&', start);
    if (end == std::string_view::npos) end = raw.size();
    const std::string_view pair = raw.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    const std::string_view raw_key = pair.substr(0, eq);
    const std::string_view raw_value = eq == std::string_view::npos ? "" : pair.substr(eq + 1);
    if (!PercentDecode(raw_key, key)) {
      return fail("malformed percent-encoding in key '" + Shown(raw_key) + "'");
    }
    for (Slot& slot : slots) {
      if (key != slot.name) continue;
      if (slot.seen) return fail(std::string("duplicate key '") + slot.name + "'");
      slot.seen = true;
      if (!PercentDecode(raw_value, value)) {
        return fail(std::string("malformed percent-encoding in '") + slot.name + "'");
      }
      if (!ParsePlainDecimal(value, slot.value)) {
        return fail(std::string("'") + slot.name + "' is not a plain decimal number");
      }
    }
  }
  for (const Slot& slot : slots) {
    if (!slot.seen) return fail(std::string("missing key '") + slot.name + "'");
  }
  const double lat = slots[0].value, lon = slots[1].value, distance = slots[2].value;
  if (lat < -90.0 || lat > 90.0) return fail("lat must lie between -90 and 90");
  if (lon < -180.0 || lon > 180.0) return fail("lon must lie between -180 and 180");
  if (!(distance > 0.0) || distance > kMaxDistanceMiles) {
    return fail("distance must be greater than 0 and at most 1000 miles");
  }
  result.query = CountQuery{lat, lon, distance};
  return result;
}

}  // namespace strikecount
