#pragma once

// The texts of a recording file: its name, its header and its record lines.
// Pure functions, so that every byte of a file can be checked without a clock
// or a disk.

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace recording {

// Every line of a recording file ends with CR LF, whatever the platform, so
// that spreadsheets on Windows read the files as they were always written.
inline constexpr QLatin1String lineEnd{"\r\n"};

// "REC_yyyy-mm-dd_hh-mm-ss.csv" for the moment the recording starts: digits
// only, 24-hour clock, no directory.
QString recordFileNameFor(const QDateTime& start);

// The first line of every recording, CR LF included.
QString headerLine();

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

// A raw register value as plain integer digits, with a minus sign when it is
// negative (a controller below zero sends -55).
QString rawNumber(float value);

// One record, CR LF included: the quoted date and time, then the setpoint,
// the temperature and the power as raw values, each followed by ";".
QString recordLine(const QDateTime& now, float setpoint, float measure, float power,
                   const QLocale& locale = QLocale());

} // namespace recording
