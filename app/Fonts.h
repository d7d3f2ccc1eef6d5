#pragma once

#include <QFont>
#include <QSize>
#include <QString>

namespace app {

// Makes the panel's fonts available: the seven-segment font for the read-outs
// (loaded from the system or beside the program) and stand-ins for Verdana and
// Arial where they are missing. Returns the seven-segment family, or an empty
// text when no such font could be found.
QString installPanelFonts();

// The read-out font: the seven-segment family when there is one, a plain
// fixed-pitch font otherwise, at the largest size up to pointSize at which
// sample fits into box.
QFont readoutFont(const QString& sevenSegmentFamily, qreal pointSize, const QString& sample,
                  QSize box);

// The font that shows text whole in box: base when the text fits at its size,
// base made just small enough otherwise (a sign or a fifth digit), so that a
// read-out never cuts or scrolls a value.
QFont fittedFont(const QFont& base, const QString& text, QSize box);

} // namespace app
