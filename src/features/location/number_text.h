// Numbers typed into the custom-location prompts, and how they are written back.
#pragma once

#include <optional>
#include <string_view>

#include "protocol/decimal_text.h"  // leadingDecimal, numberText

namespace stormtally {

// The numeric value of a typed answer. Blanks, tabs and line feeds are dropped wherever they
// stand; then the longest leading number is read: optional sign, digits, optional "." and
// digits, optional exponent (E or D, optional sign, digits). "&H" and "&O" begin hexadecimal
// and octal integers. An answer without a leading number gives 0; "." is always the decimal
// point and a comma ends the number. Gives nothing when the number lies beyond the range of
// a double.
std::optional<double> answerValue(std::string_view answer);

}  // namespace stormtally
