#include "BenchSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

namespace {

double clockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

} // namespace

double realtimeMs() {
    return clockMs(CLOCK_REALTIME);
}

std::optional<double> msSinceExecMark() {
    const char* mark = std::getenv("TK_BENCH_EXEC_TIME");
    if (!mark)
        return std::nullopt;
    bool ok = false;
    // EPOCHREALTIME writes the locale's decimal point; the script runs in C.
    const double seconds = QByteArray(mark).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return realtimeMs() - seconds * 1e3;
}

double msSinceKernelStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold spaces; the fields after its closing
    // parenthesis are plain. starttime is field 22, the 20th after it.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20)
        return -1;
    const double ticks = fields[19].toDouble();
    // Since Linux 5.5 the start time is counted on the boot-time clock.
    return clockMs(CLOCK_BOOTTIME) - ticks * 1e3 / double(sysconf(_SC_CLK_TCK));
}

double runQueueWaitMs() {
    QFile schedstat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!schedstat.open(QIODevice::ReadOnly))
        return -1;
    // Time on a CPU, time waiting on a run queue (both in ns), time slices.
    const QList<QByteArray> fields = schedstat.readAll().trimmed().split(' ');
    return fields.size() >= 2 ? fields[1].toDouble() / 1e6 : -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void result(const char* key, double value) {
    std::printf("RESULT %s %.4f\n", key, value);
    std::fflush(stdout);
}

void fail(const QString& message) {
    std::fprintf(stderr, "FAIL %s\n", qPrintable(message));
    std::fflush(stderr);
}

double percentile(std::vector<double> samples, double p) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least p % of them at or below it.
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

AfterEvent::AfterEvent(QEvent::Type type, std::function<bool(QObject*)> matches,
                       std::function<void(QObject*)> done, QObject* parent)
    : QObject(parent), m_type(type), m_matches(std::move(matches)), m_done(std::move(done)) {}

bool AfterEvent::eventFilter(QObject* watched, QEvent* event) {
    if (m_inside || event->type() != m_type || !m_matches(watched))
        return false;
    m_inside = true;
    QCoreApplication::sendEvent(watched, event);
    m_inside = false;
    m_done(watched);
    return true; // handled above, once
}

} // namespace bench
