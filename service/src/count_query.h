// The query of a count request: lat, lon and distance, each exactly once, each a number of the
// wire contract the service shares with the widget, within its range.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire_contract.h"

namespace strikecount {

constexpr double kMaxDistanceMiles = stormtally::wire::kDistance.highest;

struct CountQuery {
  double lat = 0;
  double lon = 0;
  double distance_miles = 0;
};

struct CountQueryResult {
  std::optional<CountQuery> query;
  std::string error;  // one line, set when query is empty
};

// Parses the raw query string (the part after '?'); see stormtally::wire::readCountQuery.
CountQueryResult ParseCountQuery(std::string_view raw_query);

}  // namespace strikecount
