// The strike-count request as it travels between the widget and the service: the path, the
// three keys in the order the widget sends them with the range the service accepts, and the
// numbers, written and read in one grammar. Both sides are built from this file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace stormtally::wire {

inline constexpr std::string_view kCountPath = "/counter/Strike_Counter.php";

// A key and the values the service counts for, ends included unless `aboveLowest`.
struct KeyRange {
  std::string_view key;
  double lowest, highest;
  bool aboveLowest;
};
inline constexpr KeyRange kLat{"lat", -90, 90, false};
inline constexpr KeyRange kLon{"lon", -180, 180, false};
inline constexpr KeyRange kDistance{"distance", 0, 1000, true};  // statute miles

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~, so that no value can change the
// structure of the query ("&", "#", "+" and blanks included).
std::string percentEncode(std::string_view value);
// Decodes %XX escapes ('+' stays a plus sign); false on a '%' without two hex digits after it.
bool percentDecode(std::string_view in, std::string& out);

// The address of a count: the service's base ("https://host[:port]"; a trailing "/" is
// dropped), the path, and the three values, each percent-encoded as it stands.
std::string countUrl(std::string_view base, std::string_view lat, std::string_view lon,
                     std::string_view distance);

// A number as it travels: an optional sign, digits with at most one decimal point (with a digit
// on at least one side of it), an optional exponent (E or e, an optional sign, digits), and
// nothing else; at most 64 characters. Every text numberText writes is one. Gives the nearest
// double (infinity beyond the range of a double), or nothing for any other text.
std::optional<double> readNumber(std::string_view text);

struct Place {
  double lat = 0, lon = 0, distance = 0;
};
struct CountQuery {
  std::optional<Place> place;
  std::string error;  // one line naming the key, set when place is empty
};

// Reads the query of a count (the part after '?'): pairs split at '&', keys and values
// percent-decoded. Each of the three keys must occur exactly once with a number in its range;
// other keys are ignored.
CountQuery readCountQuery(std::string_view query);

}  // namespace stormtally::wire
