#pragma once

// The merged timeline as a file a spreadsheet opens as numbers: local times
// as "2026-12-08 21:33:00" (which LibreOffice and Excel both take as a date and
// time in any language; the UTC offset in a column of its own), and no-data
// records kept as rows with empty fields. For scripts, degrees with a decimal
// point and commas; for this computer's spreadsheet, its own decimal sign and,
// where that is a comma, semicolons.

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <cstdint>

#include "Timeline.h"

namespace tkview {

struct CsvForm {
    char separator = ',';
    char decimal = '.';
};

// The form a spreadsheet in `locale` expects.
CsvForm csvFormFor(const QLocale& locale);

// The text of the export of the records whose times lie in [fromMs, toMs],
// header line included, lines ending in CR LF.
QByteArray csvText(const Timeline& timeline, std::int64_t fromMs, std::int64_t toMs,
                   CsvForm form = {});

// Writes csvText to fileName; returns an empty string or the reason it failed.
QString writeCsv(const QString& fileName, const Timeline& timeline, std::int64_t fromMs,
                 std::int64_t toMs, CsvForm form = {});

} // namespace tkview
