// The strike-count request's address.
#pragma once

#include <string>
#include <string_view>

namespace stormtally {

constexpr std::string_view kCounterPath = "/counter/Strike_Counter.php";

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~, so that no value can change the
// structure of the query ("&", "#", "+" and blanks included).
std::string percentEncode(std::string_view value);

// serviceBase is the scheme, host and port, such as "https://strikes.example.org".
std::string buildRequestUrl(std::string_view serviceBase, std::string_view lat,
                            std::string_view lon, std::string_view distance);

}  // namespace stormtally
