// The extras of a count: the count of the window before, the nearest flash, the age of the last
// flash within the radius and the times they refer to. A client that sends the request field
// kDetailField with the value "1" gets them as response fields beside the bare count; the
// service's JSON endpoint gives the same facts. Both sides are built from this file, so the
// widget reads exactly what the service writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stormtally::wire {

inline constexpr std::string_view kDetailField = "Strikes-Detail";
// The request field that asks for the extras, as a header line.
inline constexpr std::string_view kAskDetail = "Strikes-Detail: 1\r\n";
static_assert(kAskDetail.substr(0, kDetailField.size()) == kDetailField);
inline constexpr std::string_view kAreaPath = "/v1/area";

// How long after the last flash within a thunder-range radius it is safe to be outside again,
// and how far back the service looks for that flash.
inline constexpr std::int64_t kAllClearSeconds = 30 * 60;
inline constexpr std::int64_t kLookbackSeconds = 60 * 60;

struct NearestFlash {
  double miles = 0;  // great-circle distance from the place, to 0.1 mi
  int bearing = 0;   // initial bearing from the place, whole degrees 0..359
  std::int64_t ageSeconds = 0;
};

struct AreaDetail {
  std::uint64_t count = 0;          // flashes within the radius in the window
  std::uint64_t previousCount = 0;  // the same in the window just before it
  std::int64_t windowSeconds = 0;
  std::optional<NearestFlash> nearest;         // none: no flash within the radius in the window
  std::optional<std::int64_t> lastAgeSeconds;  // none: no flash within the radius in lookback
  std::int64_t lookbackSeconds = kLookbackSeconds;
  std::string newestData;  // ISO 8601 UTC time of the newest data, as the service knows it
};

// The 16-point compass word of a bearing in degrees: "N", "NNE", "NE", ... "NNW".
std::string_view compassPoint(double bearingDegrees);

enum class Trend { Rising, Falling, Steady };
// Rising or falling when the two counts differ by more than a tenth of the larger (and by more
// than one flash): a storm that holds its pace reads as steady, not as noise.
Trend trendOf(std::uint64_t count, std::uint64_t previousCount);
std::string_view trendWord(Trend trend);

// The response fields that carry everything but the count itself, which stays the body.
std::vector<std::pair<std::string, std::string>> detailFields(const AreaDetail& detail);

// Reads the extras back from a response's header block ("Name: value" lines, names in any
// case) and the count of its body. Nothing when the block lacks the fields every detailed
// answer has, or any field present does not read: a peer that knows only the count.
std::optional<AreaDetail> readDetailFields(std::string_view headerBlock, std::uint64_t count);

}  // namespace stormtally::wire
