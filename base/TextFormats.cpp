#include "TextFormats.h"

QString generalNumber(double value, const QLocale& locale) {
    QString text = QLocale::c().toString(value, 'g', 7);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text;
}

std::optional<double> readGeneralNumber(const QString& text, const QLocale& locale) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = locale.toDouble(trimmed, &ok);
    if (ok)
        return value;
    QString plain = trimmed;
    plain.replace(locale.decimalPoint(), QStringLiteral("."));
    value = QLocale::c().toDouble(plain, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
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
