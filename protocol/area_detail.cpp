#include "protocol/area_detail.h"

#include <cmath>

#include "protocol/decimal_text.h"
#include "protocol/wire_contract.h"

namespace stormtally::wire {
namespace {

constexpr std::string_view kWindow = "Strikes-Window";
constexpr std::string_view kPrevious = "Strikes-Previous-Count";
constexpr std::string_view kLookback = "Strikes-Lookback";
constexpr std::string_view kNewestData = "Strikes-Newest-Data";
constexpr std::string_view kNearestMiles = "Strikes-Nearest-Miles";
constexpr std::string_view kNearestBearing = "Strikes-Nearest-Bearing";
constexpr std::string_view kNearestCompass = "Strikes-Nearest-Compass";
constexpr std::string_view kNearestAge = "Strikes-Nearest-Age";
constexpr std::string_view kLastAge = "Strikes-Last-Age";

constexpr std::string_view kPoints[] = {"N", "NNE", "NE", "ENE", "E", "ESE", "SE", "SSE",
                                        "S", "SSW", "SW", "WSW", "W", "WNW", "NW", "NNW"};

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") + 1 - first);
}

// The value of the first field called `name`, if the block has one.
std::optional<std::string_view> field(std::string_view block, std::string_view name) {
  while (!block.empty()) {
    const std::size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && sameName(trimmed(line.substr(0, colon)), name))
      return trimmed(line.substr(colon + 1));
  }
  return std::nullopt;
}

// A whole number from 0 up to 2^53, the range in which a double holds every integer.
std::optional<std::int64_t> wholeNumber(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  const std::optional<double> value = readNumber(*text);
  if (!value || !(*value >= 0 && *value <= 9007199254740992.0) || std::floor(*value) != *value)
    return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

std::string tenths(double value) {
  return numberText(std::round(value * 10) / 10);
}

}  // namespace

std::string_view compassPoint(double bearingDegrees) {
  double b = std::fmod(bearingDegrees, 360.0);
  if (b < 0) b += 360.0;
  return kPoints[static_cast<int>(std::floor(b / 22.5 + 0.5)) % 16];
}

Trend trendOf(std::uint64_t count, std::uint64_t previousCount) {
  const std::uint64_t larger = count > previousCount ? count : previousCount;
  const std::uint64_t gap = count > previousCount ? count - previousCount : previousCount - count;
  if (gap <= 1 || gap * 10 <= larger) return Trend::Steady;
  return count > previousCount ? Trend::Rising : Trend::Falling;
}

std::string_view trendWord(Trend trend) {
  switch (trend) {
    case Trend::Rising:
      return "rising";
    case Trend::Falling:
      return "falling";
    case Trend::Steady:
      break;
  }
  return "steady";
}

std::vector<std::pair<std::string, std::string>> detailFields(const AreaDetail& d) {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](std::string_view name, std::string value) {
    out.emplace_back(std::string(name), std::move(value));
  };
  add(kWindow, std::to_string(d.windowSeconds));
  add(kPrevious, std::to_string(d.previousCount));
  add(kLookback, std::to_string(d.lookbackSeconds));
  if (!d.newestData.empty()) add(kNewestData, d.newestData);
  if (d.nearest) {
    add(kNearestMiles, tenths(d.nearest->miles));
    add(kNearestBearing, std::to_string(d.nearest->bearing));
    add(kNearestCompass, std::string(compassPoint(d.nearest->bearing)));
    add(kNearestAge, std::to_string(d.nearest->ageSeconds));
  }
  if (d.lastAgeSeconds) add(kLastAge, std::to_string(*d.lastAgeSeconds));
  return out;
}

std::optional<AreaDetail> readDetailFields(std::string_view block, std::uint64_t count) {
  AreaDetail d;
  d.count = count;
  const auto window = wholeNumber(field(block, kWindow));
  const auto previous = wholeNumber(field(block, kPrevious));
  const auto lookback = wholeNumber(field(block, kLookback));
  if (!window || !previous || !lookback) return std::nullopt;
  d.windowSeconds = *window;
  d.previousCount = static_cast<std::uint64_t>(*previous);
  d.lookbackSeconds = *lookback;
  if (const auto newest = field(block, kNewestData)) d.newestData = std::string(*newest);

  const auto milesText = field(block, kNearestMiles);
  if (milesText) {
    const std::optional<double> miles = readNumber(*milesText);
    const auto bearing = wholeNumber(field(block, kNearestBearing));
    const auto age = wholeNumber(field(block, kNearestAge));
    if (!miles || !(*miles >= 0 && *miles <= 12500) || !bearing || *bearing >= 360 || !age)
      return std::nullopt;
    d.nearest = NearestFlash{*miles, static_cast<int>(*bearing), *age};
  }
  if (const auto last = field(block, kLastAge)) {
    d.lastAgeSeconds = wholeNumber(last);
    if (!d.lastAgeSeconds) return std::nullopt;
  }
  return d;
}

}  // namespace stormtally::wire
