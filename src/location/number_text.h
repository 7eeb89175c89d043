// Numbers typed into the custom-location prompts, and how they are written back.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace stormtally {

// The numeric value of a typed answer. Blanks, tabs and line feeds are dropped wherever they
// stand; then the longest leading number is read: optional sign, digits, optional "." and
// digits, optional exponent (E or D, optional sign, digits). "&H" and "&O" begin hexadecimal
// and octal integers. An answer without a leading number gives 0; "." is always the decimal
// point and a comma ends the number. Gives nothing when the number lies beyond the range of
// a double.
std::optional<double> answerValue(std::string_view answer);

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
