// The query of a count request: lat, lon and distance, each exactly once, as plain decimals.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace strikecount {

constexpr double kMaxDistanceMiles = 1000.0;

struct CountQuery {
  double lat = 0;
  double lon = 0;
  double distance_miles = 0;
};

struct CountQueryResult {
  std::optional<CountQuery> query;
  std::string error;  // one line, set when query is empty
};

// Parses the raw query string (the part after '?'). Keys and values are percent-decoded first;
// '+' stays a literal plus. Keys other than lat, lon and distance are ignored; each of the three
// must occur exactly once, hold a plain decimal number and lie within its range.
CountQueryResult ParseCountQuery(std::string_view raw_query);

// Decodes %XX escapes. Fails on a '%' that is not followed by two hex digits.
bool PercentDecode(std::string_view in, std::string& out);

// Optional sign, digits with at most one decimal point, at least one digit, nothing else: no
// blanks, exponent, hex, "inf" or "nan". At most 64 characters.
bool ParsePlainDecimal(std::string_view text, double& value);

}  // namespace strikecount
