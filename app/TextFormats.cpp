#include "TextFormats.h"

QString generalNumber(double value, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(value, 'g', 7);
}

QString statusTime(const QTime& time, const QLocale& locale) {
    // The locale's own time format tells its separator: the first character
    // that is not a format letter or a blank.
    QChar separator = QLatin1Char(':');
    for (const QChar c : locale.timeFormat(QLocale::ShortFormat)) {
        if (!c.isLetter() && !c.isSpace() && c != QLatin1Char('\'')) {
            separator = c;
            break;
        }
    }
    const QString s(separator);
    return time.toString(QStringLiteral("hh") + s + QStringLiteral("mm") + s +
                         QStringLiteral("ss"));
}
