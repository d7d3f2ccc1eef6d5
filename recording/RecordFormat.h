#pragma once

// The texts of a recording file: its name, its header and its record lines.
// Pure functions, so that every byte of a file can be checked without a clock
// or a disk.

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

#include "LocaleFormats.h"

namespace recording {

// Every line of a recording file ends with CR LF, whatever the platform, so
// that spreadsheets on Windows read the files as they were always written.
inline constexpr QLatin1String lineEnd{"\r\n"};

// "REC_yyyy-mm-dd_hh-mm-ss.csv" for the moment the recording starts: digits
// only, 24-hour clock, no directory.
QString recordFileNameFor(const QDateTime& start);

// The first line of every recording, CR LF included.
QString headerLine();

// A raw register value as plain integer digits, with a minus sign when it is
// negative (a controller below zero sends -55).
QString rawNumber(float value);

// One record, CR LF included: the quoted date and time, then the setpoint,
// the temperature and the power as raw values, each followed by ";".
QString recordLine(const QDateTime& now, float setpoint, float measure, float power,
                   const QLocale& locale = QLocale());

} // namespace recording
