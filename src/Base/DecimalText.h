#pragma once
// Whole decimal numbers from option and setting text: the whole text must be the number, so
// that "12abc", " 12" or an out-of-range value is refused rather than read as something else.
#include <string>

namespace DecimalText {
// As strtoll reads it (leading blanks and a sign allowed); false for empty text, trailing bytes or overflow.
bool ParseSigned(const std::string& text, long long& value);
// Digits only; false for empty text, signs, blanks, trailing bytes or overflow.
bool ParseUnsigned(const std::string& text, unsigned long long& value);
}  // namespace DecimalText
