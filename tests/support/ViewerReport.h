#pragma once

// tkview's PDF report as text: tkview makes it from arguments (in UTC unless
// told, so that times read the same everywhere), pdftotext reads it back, and the
// text comes with its runs of blanks made one and the "fi" ligature undone,
// for checks that do not depend on the page's layout.

#include <QString>
#include <QStringList>

// Empty when either program failed to run. tkview runs in zone (a TZ value),
// and what it said on its error output goes to errors, its exit status to
// status, when given.
QString viewerReportText(const QString& tkviewPath, const QString& pdftotextPath,
                         const QString& pdf, const QStringList& arguments,
                         const QString& zone = QStringLiteral("UTC"), QString* errors = nullptr,
                         int* status = nullptr);
