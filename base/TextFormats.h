#pragma once

// Number and time texts shown to the operator, shared by every folder.

#include <QLocale>
#include <QString>
#include <QTime>

#include <optional>

// The general number form: at most seven significant digits, no trailing
// zeros, no decimal separator for whole numbers, the locale's decimal separator
// otherwise, no thousands separator. 215.3 -> "215.3", 200 -> "200". The
// digits are always 0 to 9: the read-outs' seven-segment font has no others.
QString generalNumber(double value, const QLocale& locale = QLocale());

// A number typed by the operator: in the locale's own form, or with the
// digits 0 to 9 and the locale's decimal separator as generalNumber shows it.
// Nothing when the text is not a number.
std::optional<double> readGeneralNumber(const QString& text, const QLocale& locale = QLocale());

// The time of day in status lines: "hh:mm:ss" on the 24-hour clock, with the
// locale's time separator.
QString statusTime(const QTime& time, const QLocale& locale = QLocale());
