#include "LocaleFormats.h"

#include <vector>

namespace {

// A Qt date or time format cut into runs of quoted literal text (kept with
// their quotes, "''" included) and runs of format letters and separators, so
// that letters are only ever changed outside quotes.
struct FormatRun {
    QString text;
    bool quoted = false;
};

std::vector<FormatRun> splitFormat(const QString& format) {
    std::vector<FormatRun> runs;
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        qsizetype j = i;
        const bool quoted = format[i] == QLatin1Char('\'');
        if (quoted) {
            j = i + 1;
            while (j < n) {
                if (format[j] == QLatin1Char('\'')) {
                    if (j + 1 < n && format[j + 1] == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
        } else {
            while (j < n && format[j] != QLatin1Char('\''))
                ++j;
        }
        runs.push_back({format.mid(i, j - i), quoted});
        i = j;
    }
    return runs;
}

QString joinFormat(const std::vector<FormatRun>& runs) {
    QString format;
    for (const FormatRun& run : runs)
        format += run.text;
    return format;
}

} // namespace

// "y" and "yyy", should a locale carry them, are widened as well as "yy".
QString withFourDigitYear(const QString& format) {
    std::vector<FormatRun> runs = splitFormat(format);
    for (FormatRun& run : runs) {
        if (run.quoted)
            continue;
        QString out;
        for (qsizetype i = 0; i < run.text.size();) {
            if (run.text[i] == QLatin1Char('y')) {
                while (i < run.text.size() && run.text[i] == QLatin1Char('y'))
                    ++i;
                out += QLatin1String("yyyy");
            } else {
                out += run.text[i++];
            }
        }
        run.text = out;
    }
    return joinFormat(runs);
}

// Formats in Qt's data put the zone at either end: "HH:mm:ss t", "t HH:mm:ss",
// "HH:mm:ss, t", "H:mm:ss (t)", "APh:mm:ss [t]".
QString withoutTimeZone(const QString& format) {
    std::vector<FormatRun> runs = splitFormat(format);
    bool removed = false;
    for (FormatRun& run : runs) {
        if (run.quoted)
            continue;
        QString out;
        for (qsizetype i = 0; i < run.text.size();) {
            if (run.text[i] != QLatin1Char('t')) {
                out += run.text[i++];
                continue;
            }
            while (i < run.text.size() && run.text[i] == QLatin1Char('t'))
                ++i;
            const bool opened = !out.isEmpty() &&
                                (out.back() == QLatin1Char('(') || out.back() == QLatin1Char('['));
            const bool closed = i < run.text.size() && (run.text[i] == QLatin1Char(')') ||
                                                        run.text[i] == QLatin1Char(']'));
            if (opened && closed) {
                out.chop(1);
                ++i;
            }
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            removed = true;
        }
        run.text = out;
    }
    if (removed && !runs.empty()) {
        if (!runs.front().quoted) {
            QString& first = runs.front().text;
            qsizetype k = 0;
            while (k < first.size() && first[k].isSpace())
                ++k;
            first.remove(0, k);
        }
        if (!runs.back().quoted) {
            QString& last = runs.back().text;
            while (!last.isEmpty() && (last.back().isSpace() || last.back() == QLatin1Char(',')))
                last.chop(1);
        }
    }
    return joinFormat(runs);
}

QString userShortDate(const QDate& date, const QLocale& locale) {
    return locale.toString(date, withFourDigitYear(locale.dateFormat(QLocale::ShortFormat)));
}

QString userLongTime(const QTime& time, const QLocale& locale) {
    return locale.toString(time, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}
