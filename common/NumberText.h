#pragma once
// Numbers as the windows hold them: texts in the user's number format.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace merkanix {

// Parses a real number: optional blanks, sign, digits with one decimal
// separator, optional exponent. The other of '.' and ',' is accepted too, so
// that texts made under another locale still read. Throws ConversionError
// "'TEXT' is not a valid floating point value".
double ParseReal(std::string_view text, char decimalSeparator);

// Decimal 32-bit integer with optional blanks and sign. Throws
// ConversionError "'TEXT' is not a valid integer value".
std::int32_t ParseInteger(std::string_view text);

// Shortest general form with at most 15 significant digits ("NAN", "INF",
// "-INF"; exponent form such as "1E20" outside the fixed range).
std::string FormatGeneral(double value, char decimalSeparator);

// A text written with a decimal comma, such as a default field text, with
// the given separator instead.
std::string WithDecimalSeparator(std::string text, char decimalSeparator);

// printf-style "%.Nf" with the given separator.
std::string FormatFixed(double value, int decimals, char decimalSeparator);

// 17 significant digits with '.', so the value reads back exactly; NaN as "nan".
std::string FormatRoundTrip(double value);

// Rounding to the nearest integer, ties to even.
inline double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

} // namespace merkanix
