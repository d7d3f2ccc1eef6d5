#pragma once

// Number and time texts shown to the operator, shared by every folder.

#include <QLocale>
#include <QString>
#include <QTime>

// The general number form: at most seven significant digits, no trailing
// zeros, no decimal separator for whole numbers, the locale's decimal separator
// otherwise, no thousands separator. 215.3 -> "215.3", 200 -> "200".
QString generalNumber(double value, const QLocale& locale = QLocale());

// The time of day in status lines: "hh:mm:ss" on the 24-hour clock, with the
// locale's time separator.
QString statusTime(const QTime& time, const QLocale& locale = QLocale());
