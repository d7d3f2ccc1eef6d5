#pragma once

// The merged timeline as a file any spreadsheet opens right in any language:
// ISO 8601 times with their UTC offset, degrees with a decimal point, and
// no-data records kept as rows with empty fields.

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "Timeline.h"

namespace tkview {

// The text of the export of the records whose times lie in [fromMs, toMs],
// header line included, lines ending in CR LF.
QByteArray csvText(const Timeline& timeline, std::int64_t fromMs, std::int64_t toMs);

// Writes csvText to fileName; returns an empty string or the reason it failed.
QString writeCsv(const QString& fileName, const Timeline& timeline, std::int64_t fromMs,
                 std::int64_t toMs);

} // namespace tkview
