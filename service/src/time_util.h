// Times in the service are milliseconds since 1970-01-01T00:00:00Z (UTC, no leap seconds).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace strikecount {

using TimeMs = std::int64_t;

constexpr TimeMs kMsPerSecond = 1000;
constexpr TimeMs kMsPerMinute = 60 * kMsPerSecond;

// Days from 1970-01-01 to the given proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d);

// "YYYY-MM-DDThh:mm:ss[.fff…][Z|±hh:mm|±hhmm]". A space may stand for the 'T'; seconds may be
// left out; a time without a zone is UTC. Returns nothing for anything else.
std::optional<TimeMs> ParseIso8601(std::string_view text);

// "YYYY-MM-DDThh:mm:ss.fffZ".
std::string FormatIso8601(TimeMs t);

// A CF time unit such as "seconds since 2018-10-17 10:26:20.000".
struct CfTimeUnits {
  double ms_per_unit = 0;  // 1000 for seconds, 1 for milliseconds
  TimeMs base = 0;
};
std::optional<CfTimeUnits> ParseCfTimeUnits(std::string_view units);

// The current system time.
TimeMs SystemNowMs();

}  // namespace strikecount
