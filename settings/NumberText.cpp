#include "NumberText.h"

#include <cmath>

namespace settings {

namespace {

qsizetype skipDigits(QStringView text, qsizetype i) {
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    return i;
}

bool isSign(QChar c) {
    return c == QLatin1Char('+') || c == QLatin1Char('-');
}

} // namespace

double leadingNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') ||
                               text[i] == QLatin1Char('\n') || text[i] == QLatin1Char('\r')))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && isSign(text[i]))
        ++i;
    const qsizetype intStart = i;
    i = skipDigits(text, i);
    bool anyDigit = i > intStart;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        const qsizetype fracStart = i + 1;
        const qsizetype fracEnd = skipDigits(text, fracStart);
        if (anyDigit || fracEnd > fracStart) {
            anyDigit = true;
            i = fracEnd;
        }
    }
    if (!anyDigit)
        return 0;
    // An exponent counts only when at least one digit follows it.
    if (i < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype e = i + 1;
        if (e < text.size() && isSign(text[e]))
            ++e;
        const qsizetype expEnd = skipDigits(text, e);
        if (expEnd > e)
            i = expEnd;
    }
    // The text is a number by now; toDouble still says no for one beyond a
    // double, and then returns the nearest it has: infinity or zero.
    return text.mid(start, i - start).toString().toDouble();
}

std::optional<int16_t> roundToInt16(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // default rounding: ties to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<int16_t>(rounded);
}

QString numberKeyText(float value) {
    return QString::number(static_cast<double>(value), 'g', 7);
}

} // namespace settings
