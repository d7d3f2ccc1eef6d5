#include "Fonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

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
    while (font.pointSizeF() > 8) {
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(sample) <= box.width() && metrics.height() <= box.height())
            break;
        font.setPointSizeF(font.pointSizeF() - 1);
    }
    return font;
}

} // namespace app
