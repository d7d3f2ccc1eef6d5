// tkview's reading: the time to read a recording into a timeline with its
// detail levels, a chart's worth of columns at two zooms, and the memory a
// record costs. Prints "RESULT key value" lines (medians over the runs).
//
//   bench_tkview_read FILE [RUNS]

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "DetailLevels.h"
#include "RecordingReader.h"

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_tkview_read FILE [RUNS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::vector<double> readMs;
    std::vector<double> readCpuMs;
    std::vector<double> levelsMs;
    std::vector<double> wholeMs;
    std::vector<double> zoomedMs;
    double bytesPerRecord = 0;
    qint64 records = 0;
    for (int run = 0; run < runs; ++run) {
        const long before = bench::statusKiB("VmRSS");
        QElapsedTimer timer;
        const double cpuBefore = bench::cpuSeconds();
        timer.start();
        const tkview::ReadResult read = tkview::readRecordings({file});
        readMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        // Both cores' time: the hash runs beside the reading.
        readCpuMs.push_back((bench::cpuSeconds() - cpuBefore) * 1000);
        if (!read.errors.isEmpty() || read.timeline.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(read.errors.join(QLatin1Char('\n'))));
            return 1;
        }
        timer.restart();
        const tkview::DetailLevels levels(read.timeline);
        levelsMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        const tkview::Timeline& timeline = read.timeline;
        timer.restart();
        const auto whole = levels.columns(timeline.firstMs(), timeline.lastMs() + 1, 1920);
        wholeMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        // An hour in the middle: a few records per column.
        const std::int64_t middle = (timeline.firstMs() + timeline.lastMs()) / 2;
        timer.restart();
        const auto zoomed = levels.columns(middle, middle + std::int64_t(3600) * 1000, 1920);
        zoomedMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        const long after = bench::statusKiB("VmRSS");
        records = qint64(timeline.records.size());
        // Resident memory the timeline and its levels added, the largest of
        // the runs.
        bytesPerRecord =
            std::max(bytesPerRecord, double(after - before) * 1024.0 / double(records));
        if (whole.empty() || zoomed.empty())
            return 1;
    }
    std::printf("RESULT records %lld\n", static_cast<long long>(records));
    std::printf("RESULT read_ms_median %.1f\n", median(readMs));
    std::printf("RESULT read_cpu_ms_median %.1f\n", median(readCpuMs));
    std::printf("RESULT levels_ms_median %.1f\n", median(levelsMs));
    std::printf("RESULT columns_1920_whole_ms_median %.3f\n", median(wholeMs));
    std::printf("RESULT columns_1920_hour_ms_median %.3f\n", median(zoomedMs));
    std::printf("RESULT rss_bytes_per_record_max %.1f\n", bytesPerRecord);
    return 0;
}
