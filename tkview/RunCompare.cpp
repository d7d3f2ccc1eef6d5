#include "RunCompare.h"

#include <QFileInfo>

#include <algorithm>

#include "RunTrail.h"
#include "SummaryText.h"

namespace tkview {

namespace {

QString runLabel(const Recordings& recordings) {
    for (const TrailRun& run : recordings.trail.runs) {
        QString caption = batchCaption(run.identity);
        if (!caption.isEmpty())
            return caption;
    }
    const std::vector<SourceFile>& files = recordings.timeline.files;
    return files.size() == 1
               ? files.front().name
               : QStringLiteral("%1 and %2 more").arg(files.front().name).arg(files.size() - 1);
}

} // namespace

std::int64_t Comparison::fromMs() const {
    std::int64_t from = 0;
    for (const ComparedRun& run : runs)
        from = std::min(from, run.recordings->timeline.firstMs() - run.alignMs);
    return from;
}

std::int64_t Comparison::toMs() const {
    std::int64_t to = 1;
    for (const ComparedRun& run : runs)
        to = std::max(to, run.recordings->timeline.lastMs() - run.alignMs);
    return to;
}

QList<QStringList> runArguments(const QStringList& paths) {
    QList<QStringList> runs;
    for (const QString& path : paths)
        runs.append(QFileInfo::exists(path) ? QStringList{path}
                                            : path.split(QLatin1Char(','), Qt::SkipEmptyParts));
    return runs;
}

Comparison compareRuns(const QList<QStringList>& runs, Align align, double bandDegrees) {
    Comparison comparison;
    comparison.align = align;
    for (const QStringList& paths : runs) {
        ComparedRun run;
        run.paths = paths;
        run.recordings = openRecordings(paths);
        const Timeline& timeline = run.recordings->timeline;
        comparison.problems << run.recordings->errors;
        if (timeline.isEmpty()) {
            comparison.leftOut << paths.join(QLatin1Char(','));
            comparison.problems << QStringLiteral("%1: no records, left out of the comparison")
                                       .arg(comparison.leftOut.back());
            continue;
        }
        run.label = runLabel(*run.recordings);
        if (const std::optional<SetpointApproach> approach = setpointApproach(timeline)) {
            run.setpointReachedMs = approach->reachedMs;
            run.setpointStepMs = approach->stepMs;
        }
        run.alignMs = timeline.firstMs();
        if (align == Align::Setpoint && run.setpointReachedMs) {
            run.alignMs = *run.setpointReachedMs;
        } else if (align == Align::Setpoint) {
            comparison.alignedAtStart << run.label;
            comparison.problems << QStringLiteral("%1: the setpoint was never reached; aligned "
                                                  "at its start")
                                       .arg(run.label);
        }
        run.summary = summarize(timeline, timeline.firstMs(), timeline.lastMs(), bandDegrees);
        comparison.runs.push_back(std::move(run));
    }
    return comparison;
}

QList<QStringList> comparisonRows(const Comparison& comparison) {
    QList<QStringList> rows{{QStringLiteral("Run")}, {QStringLiteral("Files")}};
    QList<QStringList> figures;
    for (const ComparedRun& run : comparison.runs) {
        const Timeline& timeline = run.recordings->timeline;
        rows[0] << run.label;
        rows[1] << (timeline.files.size() == 1
                        ? timeline.files.front().name
                        : countText(qint64(timeline.files.size()), QStringLiteral("file")));
        const auto lines = summaryLines(run.summary, timeline.zone);
        if (figures.isEmpty())
            for (const auto& line : lines)
                figures.append({line.first});
        for (qsizetype i = 0; i < lines.size() && i < figures.size(); ++i)
            figures[i] << lines[i].second;
    }
    rows << figures;
    QStringList reached{QStringLiteral("Time to setpoint")};
    for (const ComparedRun& run : comparison.runs)
        reached << (run.setpointReachedMs
                        ? durationText(*run.setpointReachedMs - run.setpointStepMs)
                        : QStringLiteral("not reached"));
    rows << reached;
    return rows;
}

QString alignmentText(Align align) {
    return align == Align::Start
               ? QStringLiteral("Aligned at the start of each run")
               : QStringLiteral("Aligned at the moment each run first reached its setpoint");
}

QStringList comparisonNotes(const Comparison& comparison) {
    QStringList notes;
    if (!comparison.alignedAtStart.isEmpty())
        notes << QStringLiteral("Aligned at their start, as they never reached their setpoint: ") +
                     comparison.alignedAtStart.join(QStringLiteral("; "));
    if (!comparison.leftOut.isEmpty())
        notes << QStringLiteral("Left out, having no records: ") +
                     comparison.leftOut.join(QStringLiteral("; "));
    return notes;
}

} // namespace tkview
