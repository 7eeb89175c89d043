// One line of the plain strike feed.
//
//   CSV:    time,lat,lon          e.g. 2025-04-07T13:00:21.512Z,31.25,-84.10
//   NDJSON: {"time": …, "lat": …, "lon": …}
//
// time is ISO 8601 (UTC unless a zone is given) or Unix seconds (may have a fraction). A line
// holding only a time (CSV "time", or JSON without lat/lon) is a heartbeat: it says the feed is
// alive up to that time although nothing struck. Blank lines, lines starting with '#', and a
// header line "time,lat,lon" are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "flash_index.h"
#include "time_util.h"

namespace strikecount {

struct FeedLine {
  enum class Kind { kFlash, kHeartbeat, kSkip, kError };
  Kind kind = Kind::kSkip;
  Flash flash;  // kFlash: all fields; kHeartbeat: time only
  std::string error;
};

FeedLine ParseFeedLine(std::string_view line);

// ISO 8601 text or Unix seconds.
std::optional<TimeMs> ParseFeedTime(std::string_view text);

}  // namespace strikecount
