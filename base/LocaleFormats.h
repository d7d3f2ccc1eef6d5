#pragma once

// Dates and times in the operator's regional formats, mended where Qt's
// formats would spoil a record or a label: a two-digit year, a time-zone name.

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

// A Qt date format whose year fields all give four digits; quoted text is
// left alone. "dd.MM.yy" -> "dd.MM.yyyy".
QString withFourDigitYear(const QString& format);

// A Qt time format without its time-zone field and what only belongs to it
// (brackets around it, blanks before it, a comma left at an end); quoted text
// is left alone. "h:mm:ss AP t" -> "h:mm:ss AP", "H:mm:ss (t)" -> "H:mm:ss".
QString withoutTimeZone(const QString& format);

// The user's short date format with the year always in four digits: two-digit
// years make a long-running record ambiguous.
QString userShortDate(const QDate& date, const QLocale& locale = QLocale());

// The user's long time format without the time-zone name that Qt's long
// format appends.
QString userLongTime(const QTime& time, const QLocale& locale = QLocale());
