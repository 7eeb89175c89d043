// Decimal numbers as text, read and written exactly, with "." as the decimal point whatever
// the user's locale. The widget writes every number it sends with numberText, and the service
// reads every number it receives with leadingDecimal: one grammar and one rounding on both
// sides of the wire.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stormtally {

// The double nearest to the decimal number at the start of the text (ties to the even one): an
// optional sign, digits, an optional "." and digits, an optional exponent (E, e, D or d, an
// optional sign, digits). `length` receives how many characters form the number, 0 when there
// are no digits (the value is then 0). A number beyond the range of a double gives infinity,
// one too small for a double's smallest step gives zero, each with the number's sign.
double leadingDecimal(std::string_view text, std::size_t& length);

// A number as text: at most 15 significant digits, no trailing zeros and no point for a whole
// number, a minus sign only for a negative value, exponent form for very large or very small
// magnitudes (1E+20, 1E-05). The decimal point is always ".".
std::string numberText(double value);

}  // namespace stormtally
