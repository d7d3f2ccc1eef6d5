#pragma once

// tkview's PDF report as text: tkview makes it from arguments (in UTC, so
// that times read the same everywhere), pdftotext reads it back, and the
// text comes with its runs of blanks made one and the "fi" ligature undone,
// for checks that do not depend on the page's layout.

#include <QString>
#include <QStringList>

// Empty when either program failed to run; tkview's exit status in status.
QString viewerReportText(const QString& tkviewPath, const QString& pdftotextPath,
                         const QString& pdf, const QStringList& arguments, int* status = nullptr);
