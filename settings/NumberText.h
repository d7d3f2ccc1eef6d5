#pragma once

// Number readings and writings of the settings file.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace settings {

// The number at the start of text: blanks (spaces, tabs, line ends) skipped,
// an optional sign, digits, optionally "." and more digits, optionally an
// exponent. Reading stops at the first character that does not fit; "." is
// the decimal point whatever the locale. Text without a leading number gives 0.
double leadingNumber(QStringView text);

// value rounded to the nearest whole number, ties to the even neighbour
// (2.5 -> 2, 3.5 -> 4); nothing when the result lies outside -32768..32767
// or value is not finite.
std::optional<int16_t> roundToInt16(double value);

// A number key as it is written to the file: shortest text of at most seven
// significant digits, "." as the decimal point (0 -> "0", 12.5 -> "12.5").
QString numberKeyText(float value);

} // namespace settings
