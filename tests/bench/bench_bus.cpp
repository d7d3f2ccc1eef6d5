// The bus under load: a session on the bus polls the controllers of a tksim
// line for the given seconds; each controller's answer times give its
// spacing. tkrecord's own figures come from scripts/bench-tkrecord.sh once
// it runs a bus; these are the bus's, in a process that does nothing else.
//
//   bench_bus LINK SECONDS ADDRESSES      (ADDRESSES as 1,2,3)
//
// Prints, for the controllers that answered at all:
//   bus_spacing_median_ms        median spacing of consecutive answers, all of them
//   bus_spacing_min_ms / max_ms  the extremes over every live controller
//   bus_spacing_p1_ms / p99_ms   1st and 99th percentiles
//   bus_live, bus_answers        controllers that answered, answers in all
//   bus_cpu_percent, bus_rss_mib the process's CPU (% of one core) and memory
// and one "controller N: ..." line each on standard error.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "BenchSupport.h"
#include "ControllerSession.h"
#include "Data.h"

#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        bench::fail(QStringLiteral("usage: bench_bus LINK SECONDS ADDRESSES"));
        return 2;
    }
    const QString linkPath = QString::fromLocal8Bit(argv[1]);
    const int seconds = QString::fromLatin1(argv[2]).toInt();
    QList<tklink::ControllerId> ids;
    for (const QString& a : QString::fromLatin1(argv[3]).split(QLatin1Char(',')))
        ids.append({QStringLiteral("c") + a, uint8_t(a.toInt())});

    Data::comPortNum = 1;
    Data::comPortSpeed = QStringLiteral("19200");
    tklink::ControllerSession session([&linkPath](int) { return QString(linkPath); },
                                      [] { return QDateTime::currentDateTime(); },
                                      tklink::ControllerSession::Reconnect::BeforeEveryPoll);
    session.setBus(ids, tklink::BusTiming{});
    QElapsedTimer clock;
    clock.start();
    std::vector<std::vector<qint64>> answers(std::size_t(ids.size()));
    for (qsizetype i = 0; i < ids.size(); ++i)
        QObject::connect(
            session.controllers()[i], &tklink::Controller::answered, &application,
            [&answers, &clock, i] { answers[std::size_t(i)].push_back(clock.elapsed()); });
    session.openPort();
    if (!Data::portConnected) {
        bench::fail(QStringLiteral("cannot open ") + linkPath);
        return 1;
    }
    const double cpuBefore = bench::cpuSeconds();
    session.start(0, 3600000);
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double cpu = bench::cpuSeconds() - cpuBefore;
    session.stop();

    std::vector<double> spacings;
    int live = 0;
    int total = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        std::vector<double> own;
        for (std::size_t k = 1; k < answers[i].size(); ++k)
            own.push_back(double(answers[i][k] - answers[i][k - 1]));
        std::fprintf(stderr,
                     "controller %d: %zu answers, spacing median %.0f min %.0f max %.0f ms\n",
                     ids[qsizetype(i)].address, answers[i].size(), bench::percentile(own, 50),
                     bench::percentile(own, 0.001), bench::percentile(own, 100));
        total += int(answers[i].size());
        if (answers[i].empty())
            continue;
        ++live;
        spacings.insert(spacings.end(), own.begin(), own.end());
    }
    bench::result("bus_spacing_median_ms", bench::percentile(spacings, 50));
    bench::result("bus_spacing_min_ms", bench::percentile(spacings, 0.001));
    bench::result("bus_spacing_p1_ms", bench::percentile(spacings, 1));
    bench::result("bus_spacing_p99_ms", bench::percentile(spacings, 99));
    bench::result("bus_spacing_max_ms", bench::percentile(spacings, 100));
    bench::result("bus_live", live);
    bench::result("bus_answers", total);
    bench::result("bus_cpu_percent", 100.0 * cpu / seconds);
    bench::result("bus_rss_mib", double(bench::statusKiB("VmRSS")) / 1024.0);
    return 0;
}
