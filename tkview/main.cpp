#include <QCoreApplication>

#include <cstdio>
#include <limits>

#include "CsvExport.h"
#include "Options.h"
#include "RecordingReader.h"

namespace {

void printLine(FILE* stream, const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// The unreadable lines, the first of them by number, and the overlaps.
void reportReading(const tkview::ReadResult& read) {
    const tkview::Timeline& timeline = read.timeline;
    for (const QString& error : read.errors)
        printLine(stderr, QStringLiteral("tkview: ") + error);
    for (const tkview::SkippedLine& line : timeline.skipped)
        printLine(stderr, QStringLiteral("tkview: %1, line %2: skipped: %3")
                              .arg(line.file)
                              .arg(line.lineNumber)
                              .arg(line.reason));
    if (timeline.skippedCount > qint64(timeline.skipped.size()))
        printLine(stderr,
                  QStringLiteral("tkview: %1 lines skipped in all").arg(timeline.skippedCount));
    for (const tkview::Overlap& overlap : timeline.overlaps)
        printLine(stderr, QStringLiteral("tkview: %1 and %2 overlap")
                              .arg(timeline.files[std::size_t(overlap.firstFile)].name,
                                   timeline.files[std::size_t(overlap.secondFile)].name));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const auto parsed = tkview::parseOptions(QCoreApplication::arguments().mid(1));
    if (const QString* error = std::get_if<QString>(&parsed)) {
        printLine(stderr,
                  QStringLiteral("tkview: ") + *error + QStringLiteral("\nTry \"tkview --help\"."));
        return tkview::exitBadOption;
    }
    const tkview::Options& options = *std::get_if<tkview::Options>(&parsed);
    if (options.help) {
        std::fputs(qPrintable(tkview::usageText()), stdout);
        return tkview::exitDone;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("tkview ") + tkview::versionNumber());
        return tkview::exitDone;
    }

    const tkview::ReadResult read = tkview::readRecordings(options.paths);
    reportReading(read);
    int status = read.errors.isEmpty() ? tkview::exitDone : tkview::exitFileFailed;
    const std::int64_t fromMs = options.fromMs.value_or(std::numeric_limits<std::int64_t>::min());
    const std::int64_t toMs = options.toMs.value_or(std::numeric_limits<std::int64_t>::max());
    if (!options.csvOut.isEmpty()) {
        if (const QString error = tkview::writeCsv(options.csvOut, read.timeline, fromMs, toMs);
            !error.isEmpty()) {
            printLine(stderr, QStringLiteral("tkview: ") + error);
            status = tkview::exitFileFailed;
        }
    }
    // The pictures, the report and the window are made by the chart's part.
    return status;
}
