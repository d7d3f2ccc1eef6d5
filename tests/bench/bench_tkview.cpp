// tkview on a large recording (scripts/bench-tkview.sh, docs/benchmarks.md):
// opening it up to the first picture, one redraw of the chart while panning
// and zooming at several zooms, and the memory it takes per record above the
// empty program. One run; the script takes medians over several.
//
//   bench_tkview FILE [WIDTHxHEIGHT]

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

#include "BenchSupport.h"
#include "ChartWidget.h"
#include "Recordings.h"

using namespace tkview;

namespace {

// CPU time of this thread: what a redraw costs whatever else the machine runs.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        bench::fail(QStringLiteral("usage: bench_tkview FILE [WIDTHxHEIGHT]"));
        return 2;
    }
    QSize size(1920, 1080);
    if (argc > 2) {
        const QStringList wh = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    }
    // The empty program: the chart at its size with its picture, no recording.
    ChartWidget chart;
    chart.resize(size);
    chart.show();
    QApplication::processEvents();
    const long emptyKiB = bench::statusKiB("VmRSS");

    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = bench::cpuSeconds();
    const std::unique_ptr<Recordings> recordings =
        openRecordings({QString::fromLocal8Bit(argv[1])});
    chart.setRecordings(recordings.get()); // draws the first picture before it returns
    bench::result("open_and_first_picture_ms", double(clock.nsecsElapsed()) / 1e6);
    // The same in CPU time, what the figure would be on an idle machine.
    bench::result("open_and_first_picture_cpu_ms", (bench::cpuSeconds() - cpuBefore) * 1000);
    const double records = double(recordings->timeline.records.size());
    bench::result("records", records);
    bench::result("bytes_per_record",
                  double(bench::statusKiB("VmRSS") - emptyKiB) * 1024.0 / std::max(records, 1.0));
    if (records == 0)
        return 1;

    // Zooms from everything down to a minute: 40 pans of a twentieth of the
    // window (none when it shows everything), then 20 zooms in and out around
    // a point, each one redraw.
    const TimeWindow all = chart.window();
    const struct {
        const char* name;
        std::int64_t spanMs;
    } zooms[] = {{"all", all.span()},
                 {"week", 7 * 86'400'000LL},
                 {"day", 86'400'000},
                 {"hour", 3'600'000},
                 {"minute", 60'000}};
    std::vector<double> everyRedraw;
    std::vector<double> everyRedrawCpu;
    for (const auto& zoom : zooms) {
        std::vector<double> samples;
        const std::int64_t middle = all.fromMs + all.span() / 3;
        TimeWindow window{middle - zoom.spanMs / 2, middle + zoom.spanMs / 2};
        chart.setWindow(window);
        window = chart.window();
        const auto timed = [&](const TimeWindow& next) {
            const double cpu = threadCpuMs();
            clock.restart();
            chart.setWindow(next);
            samples.push_back(double(clock.nsecsElapsed()) / 1e6);
            everyRedrawCpu.push_back(threadCpuMs() - cpu);
        };
        for (int i = 0; i < 40 && !(window == all); ++i)
            timed(panned(chart.window(), window.span() / 20, all));
        const std::int64_t at = chart.window().fromMs + chart.window().span() / 3;
        for (int i = 0; i < 20; ++i)
            timed(zoomedAround(chart.window(), at, i % 2 == 0 ? 0.8 : 1.25, all));
        bench::result((QByteArray("redraw_median_ms_") + zoom.name).constData(),
                      bench::percentile(samples, 50));
        bench::result((QByteArray("redraw_max_ms_") + zoom.name).constData(),
                      bench::percentile(samples, 100));
        everyRedraw.insert(everyRedraw.end(), samples.begin(), samples.end());
    }
    bench::result("redraw_median_ms", bench::percentile(everyRedraw, 50));
    bench::result("redraw_p95_ms", bench::percentile(everyRedraw, 95));
    bench::result("redraw_cpu_median_ms", bench::percentile(everyRedrawCpu, 50));
    bench::result("redraw_cpu_p95_ms", bench::percentile(everyRedrawCpu, 95));
    return 0;
}
