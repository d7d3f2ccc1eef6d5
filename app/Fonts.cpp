#include "Fonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace app {

namespace {

constexpr char sevenSegmentFamily[] = "DSEG7 Classic";

bool hasFamily(const QString& family) {
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

} // namespace

QString installPanelFonts() {
    if (!hasFamily(QStringLiteral("Verdana")))
        QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    if (!hasFamily(QStringLiteral("Arial")))
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));

    QString family = QLatin1String(sevenSegmentFamily);
    if (hasFamily(family))
        return family;
    // Not known to the system (Windows, or fontconfig without the package):
    // look for the file beside the program and where Debian installs it.
    const QStringList candidates = {
        QCoreApplication::applicationDirPath() + QStringLiteral("/fonts/DSEG7Classic-Regular.ttf"),
        QStringLiteral("/usr/share/fonts/truetype/dseg/DSEG7Classic-Regular.ttf"),
    };
    for (const QString& file : candidates) {
        const int id = QFontDatabase::addApplicationFont(file);
        if (id >= 0 &&
            QFontDatabase::applicationFontFamilies(id).contains(family, Qt::CaseInsensitive))
            return family;
    }
    return {};
}

QFont readoutFont(const QString& sevenSegmentFamily, qreal pointSize, const QString& sample,
                  QSize box) {
    QFont font;
    if (sevenSegmentFamily.isEmpty()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setBold(true);
    } else {
        font = QFont(sevenSegmentFamily);
    }
    font.setPointSizeF(pointSize);
    return fittedFont(font, sample, box);
}

QFont fittedFont(const QFont& base, const QString& text, QSize box) {
    QFont font = base;
    const auto fits = [&] {
        const QFontMetrics metrics(font);
        return metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height();
    };
    if (fits())
        return font;
    // Width grows with the size about in proportion: start close below the
    // size that fits, then step down.
    const QFontMetrics metrics(font);
    const qreal scale = std::min(qreal(box.width()) / std::max(1, metrics.horizontalAdvance(text)),
                                 qreal(box.height()) / std::max(1, metrics.height()));
    font.setPointSizeF(std::max(1.0, std::floor(font.pointSizeF() * scale * 2) / 2));
    while (font.pointSizeF() > 1 && !fits())
        font.setPointSizeF(std::max(1.0, font.pointSizeF() - 0.5));
    return font;
}

} // namespace app
