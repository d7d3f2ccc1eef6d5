#include "HeadlessExport.h"

#include <QDateTime>

#include "ChartExport.h"
#include "CsvExport.h"
#include "Recordings.h"
#include "Report.h"
#include "SealBanner.h"

namespace tkview {

int exportWithoutWindow(const Options& options, const std::function<void(const QString&)>& say) {
    const std::unique_ptr<Recordings> recordings = openRecordings(options.paths);
    int status = exitDone;
    for (const QString& error : recordings->errors) {
        say(error);
        status = exitFileFailed;
    }
    const Timeline& timeline = recordings->timeline;
    for (const SkippedLine& skipped : timeline.skipped)
        say(QStringLiteral("%1, line %2: skipped: %3")
                .arg(skipped.file)
                .arg(skipped.lineNumber)
                .arg(skipped.reason));
    if (timeline.skippedCount > qint64(timeline.skipped.size()))
        say(QStringLiteral("%1 lines skipped in all").arg(timeline.skippedCount));
    for (const Overlap& overlap : timeline.overlaps)
        say(QStringLiteral("%1 and %2 overlap")
                .arg(timeline.files[std::size_t(overlap.firstFile)].name,
                     timeline.files[std::size_t(overlap.secondFile)].name));
    if (timeline.isEmpty()) {
        say(QStringLiteral("no records to export"));
        return exitFileFailed;
    }
    const std::int64_t from = options.fromMs.value_or(timeline.firstMs());
    const std::int64_t to = options.toMs.value_or(timeline.lastMs());
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
        check(sealBannerText(timeline));
    }
    if (!options.pngOut.isEmpty())
        check(writeChartPng(options.pngOut, *recordings, view, options.size));
    if (!options.svgOut.isEmpty())
        check(writeChartSvg(options.svgOut, *recordings, view, options.size));
    if (!options.csvOut.isEmpty())
        check(writeCsv(options.csvOut, timeline, from, to));
    return status;
}

} // namespace tkview
