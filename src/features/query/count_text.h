// Turns the service's answer into the count the widget shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace stormtally {

// What tstrikes shows when no count could be had.
constexpr std::string_view kNoCount = "--";

// The floor of the body's number as plain decimal text, or nothing when the body is not a
// number or its floor does not fit a 64-bit integer. The number is an optional sign, digits
// with an optional "." fraction and an optional exponent, with white space around it; "." is
// the decimal point whatever the user's locale.
std::optional<std::string> countFromBody(std::string_view body);

}  // namespace stormtally
