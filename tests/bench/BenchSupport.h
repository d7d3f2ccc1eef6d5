#pragma once

// What the whole-program benchmarks share: clocks that reach back to the
// process's start, the process's own CPU time and memory, a watch that fires
// once an event has been handled in full, and the result lines that
// scripts/bench.sh gathers ("RESULT key value", one figure a line).

#include <QEvent>
#include <QObject>

#include <functional>
#include <optional>
#include <vector>

namespace bench {

// Milliseconds on the CLOCK_REALTIME scale (bash's EPOCHREALTIME), the one
// clock a script and this process share across exec.
double realtimeMs();

// Milliseconds since the script's mark taken just before exec: the
// environment variable TK_BENCH_EXEC_TIME, seconds since the epoch as
// EPOCHREALTIME gives them. Nothing when it is missing or unreadable.
std::optional<double> msSinceExecMark();

// Milliseconds since the kernel started this process (its fork, before the
// exec), from /proc/self/stat. The kernel counts in clock ticks (10 ms), so
// this is coarse.
double msSinceKernelStart();

// Milliseconds the main thread has spent ready to run but waiting for a CPU
// (/proc/thread-self/schedstat): what other work on the machine added to
// a wall-clock figure. -1 when the kernel does not keep the count.
double runQueueWaitMs();

// User plus system CPU time of the whole process (every thread), seconds.
double cpuSeconds();

// A "Vm..." line of /proc/self/status in kibibytes (VmHWM, VmRSS); -1 if absent.
long statusKiB(const char* field);

// Prints "RESULT key value" on standard output, flushed at once.
void result(const char* key, double value);
// Prints "FAIL message" on standard error.
void fail(const QString& message);

// The nearest-rank percentile (0 < p <= 100) of samples; 0 for none.
double percentile(std::vector<double> samples, double p);

// Calls done(object) right after an event of the given type has been handled
// in full by an object that matches: the event is delivered again from inside
// the filter, so done runs once the receiver's handler (and whatever it
// triggered synchronously, as painting or flushing a window) has returned.
// Install it on one object or on the application for every object.
class AfterEvent : public QObject {
public:
    AfterEvent(QEvent::Type type, std::function<bool(QObject*)> matches,
               std::function<void(QObject*)> done, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QEvent::Type m_type;
    std::function<bool(QObject*)> m_matches;
    std::function<void(QObject*)> m_done;
    bool m_inside = false;
};

} // namespace bench
