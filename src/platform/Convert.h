// Text-to-number conversions of the settings readers, with their error texts.
#pragma once

#include <string>
#include <string_view>

namespace morph {

// Decimal digits with an optional sign and optional leading blanks, in the signed 32-bit
// range; anything else raises MorphError "'<text>' is not a valid integer value".
int StrToInt(std::string_view text);

// A decimal number with '.' as decimal separator, optional sign, optional exponent and
// optional surrounding blanks; a finite double. Anything else raises MorphError
// "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

std::string IntToStr(long long value);

} // namespace morph
