#include "HeadlessExport.h"

#include <QDateTime>

#include "ChartExport.h"
#include "CompareChart.h"
#include "CsvExport.h"
#include "ReadingProblems.h"
#include "Recordings.h"
#include "Report.h"
#include "RunCompare.h"
#include "SealBanner.h"
#include "SummaryText.h"

namespace tkview {

int exportWithoutWindow(const Options& options, const std::function<void(const QString&)>& say) {
    const std::unique_ptr<Recordings> recordings = openRecordings(options.paths);
    const Timeline& timeline = recordings->timeline;
    for (const QString& line : readingProblems(recordings->errors, recordings->warnings, timeline))
        say(line);
    // Made from the rest, but a script must hear that something was left out.
    int status = somethingLeftOut(recordings->errors, timeline) ? exitFileFailed : exitDone;
    if (timeline.isEmpty()) {
        say(QStringLiteral("no records to export"));
        return exitFileFailed;
    }
    const std::int64_t from = options.fromMs.value_or(timeline.firstMs());
    const std::int64_t to = options.toMs.value_or(timeline.lastMs());
    if (timeline.lowerBound(from) >= timeline.lowerBound(to == INT64_MAX ? to : to + 1)) {
        QStringList asked;
        if (options.fromMs)
            asked << QStringLiteral("from ") + timeText(*options.fromMs, timeline.zone);
        if (options.toMs)
            asked << QStringLiteral("to ") + timeText(*options.toMs, timeline.zone);
        say(QStringLiteral("no records %1: the recordings run from %2 to %3")
                .arg(asked.join(QLatin1Char(' ')), timeText(timeline.firstMs(), timeline.zone),
                     timeText(timeline.lastMs(), timeline.zone)));
        return exitFileFailed;
    }
    const ChartView view{{from, std::max(to, from + 1)}, true, 5.0};
    const auto check = [&](const QString& error) {
        if (!error.isEmpty()) {
            say(error);
            status = exitFileFailed;
        }
    };
    if (!options.reportOut.isEmpty()) {
        check(writeReport(options.reportOut, *recordings, view, QDateTime::currentDateTime()));
        // Written all the same, with the banner; the status tells a script.
        check(sealBannerText(timeline, recordings->trail));
    }
    if (!options.pngOut.isEmpty())
        check(writeChartPng(options.pngOut, *recordings, view, options.size));
    if (!options.svgOut.isEmpty())
        check(writeChartSvg(options.svgOut, *recordings, view, options.size));
    if (!options.csvOut.isEmpty())
        check(writeCsv(options.csvOut, timeline, from, to));
    if (!options.spreadsheetOut.isEmpty())
        check(writeCsv(options.spreadsheetOut, timeline, from, to, csvFormFor(QLocale::system())));
    return status;
}

int compareWithoutWindow(const Options& options, const std::function<void(const QString&)>& say) {
    const Comparison comparison = compareRuns(
        runArguments(options.paths), options.alignAtSetpoint ? Align::Setpoint : Align::Start);
    for (const QString& problem : comparison.problems)
        say(problem);
    int status = comparison.problems.isEmpty() ? exitDone : exitFileFailed;
    if (comparison.runs.size() < 2) {
        say(QStringLiteral("fewer than two runs with records to compare"));
        return exitFileFailed;
    }
    const auto check = [&](const QString& error) {
        if (!error.isEmpty()) {
            say(error);
            status = exitFileFailed;
        }
    };
    if (!options.reportOut.isEmpty())
        check(writeComparisonReport(options.reportOut, comparison, QDateTime::currentDateTime()));
    if (!options.pngOut.isEmpty())
        check(writeComparisonPng(options.pngOut, comparison, options.size));
    return status;
}

} // namespace tkview
