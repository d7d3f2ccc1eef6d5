#include "ReadingProblems.h"

#include <QDateTime>

namespace tkview {

namespace {

QString timeText(std::int64_t ms, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(ms, zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void appendListed(QStringList& lines, const QStringList& found, const QString& allText) {
    lines << found.mid(0, listedProblems);
    if (found.size() > listedProblems)
        lines << allText.arg(found.size());
}

} // namespace

QStringList readingProblems(const QStringList& errors, const QStringList& warnings,
                            const Timeline& timeline) {
    QStringList lines;
    appendListed(lines, errors, QStringLiteral("%1 files not read in all"));
    for (const SkippedLine& skipped : timeline.skipped)
        lines << QStringLiteral("%1, line %2: skipped: %3")
                     .arg(skipped.file)
                     .arg(skipped.lineNumber)
                     .arg(skipped.reason);
    if (timeline.skippedCount > qint64(timeline.skipped.size()))
        lines << QStringLiteral("%1 lines skipped in all").arg(timeline.skippedCount);
    QStringList overlaps;
    for (const Overlap& overlap : timeline.overlaps) {
        if (overlaps.size() == listedProblems)
            break;
        overlaps << QStringLiteral("%1 and %2 overlap from %3 to %4")
                        .arg(timeline.files[std::size_t(overlap.firstFile)].name,
                             timeline.files[std::size_t(overlap.secondFile)].name,
                             timeText(overlap.fromMs, timeline.zone),
                             timeText(overlap.toMs, timeline.zone));
    }
    lines << overlaps;
    if (timeline.overlaps.size() > std::size_t(listedProblems))
        lines << QStringLiteral("%1 files overlap an earlier one in all")
                     .arg(timeline.overlaps.size());
    appendListed(lines, warnings, QStringLiteral("%1 warnings in all"));
    return lines;
}

bool somethingLeftOut(const QStringList& errors, const Timeline& timeline) {
    return !errors.isEmpty() || timeline.skippedCount > 0 || !timeline.overlaps.empty();
}

} // namespace tkview
