#include "CsvExport.h"

#include <QDateTime>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

namespace tkview {

namespace {

// "-12.5" from -125 tenths; empty for no value.
void appendTenths(QByteArray& out, std::int16_t tenths, char decimal) {
    if (tenths == noValue)
        return;
    char text[16];
    const int whole = std::abs(int(tenths));
    const int length = std::snprintf(text, sizeof text, "%s%d%c%d", tenths < 0 ? "-" : "",
                                     whole / 10, decimal, whole % 10);
    out.append(text, length);
}

// "2026-12-08 21:33:01,UTC+01:00": the local time of the zone, and its offset
// as text no spreadsheet takes for a time.
void appendTime(QByteArray& out, std::int64_t utcMs, int offsetSeconds, char separator) {
    std::int64_t local = utcMs / 1000 + offsetSeconds;
    if (utcMs < 0 && utcMs % 1000 != 0)
        --local;
    std::int64_t days = local >= 0 ? local / 86400 : -((-local + 86399) / 86400);
    const int secondOfDay = int(local - days * 86400);
    // Howard Hinnant's civil_from_days.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const auto year = std::int64_t(yoe) + era * 400 + (month <= 2);
    const int offset = std::abs(offsetSeconds) / 60;
    char text[48];
    const int length = std::snprintf(
        text, sizeof text, "%04lld-%02u-%02u %02d:%02d:%02d%cUTC%c%02d:%02d",
        static_cast<long long>(year), month, day, secondOfDay / 3600, secondOfDay / 60 % 60,
        secondOfDay % 60, separator, offsetSeconds < 0 ? '-' : '+', offset / 60, offset % 60);
    out.append(text, length);
}

} // namespace

CsvForm csvFormFor(const QLocale& locale) {
    const bool comma = locale.decimalPoint() == QLatin1String(",");
    return {comma ? ';' : ',', comma ? ',' : '.'};
}

QByteArray csvText(const Timeline& timeline, std::int64_t fromMs, std::int64_t toMs, CsvForm form) {
    QByteArray out("Time,UTC offset,Temperature (deg C),Setpoint (deg C),Power\r\n");
    out.replace(',', form.separator);
    const std::size_t first = timeline.lowerBound(fromMs);
    const std::size_t last = timeline.lowerBound(toMs == INT64_MAX ? toMs : toMs + 1);
    out.reserve(out.size() + qsizetype(last - first) * 48);
    std::int64_t quarterShown = std::numeric_limits<std::int64_t>::min();
    int offset = 0;
    for (std::size_t i = first; i < last; ++i) {
        const Record& r = timeline.records[i];
        // Zones change their offset on whole hours, or on half or quarter
        // hours; a lookup per quarter of an hour is exact and cheap.
        const std::int64_t quarter = r.timeMs / 900000;
        if (quarter != quarterShown) {
            quarterShown = quarter;
            offset = timeline.zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(r.timeMs, Qt::UTC));
        }
        appendTime(out, r.timeMs, offset, form.separator);
        out.append(form.separator);
        appendTenths(out, r.temperature, form.decimal);
        out.append(form.separator);
        appendTenths(out, r.setpoint, form.decimal);
        out.append(form.separator);
        if (r.power != noValue)
            out.append(QByteArray::number(r.power));
        out.append("\r\n");
    }
    return out;
}

QString writeCsv(const QString& fileName, const Timeline& timeline, std::int64_t fromMs,
                 std::int64_t toMs, CsvForm form) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: cannot be written: %2").arg(fileName, file.errorString());
    const QByteArray text = csvText(timeline, fromMs, toMs, form);
    if (file.write(text) != text.size() || !file.commit())
        return QStringLiteral("%1: cannot be written: %2").arg(fileName, file.errorString());
    return {};
}

} // namespace tkview
