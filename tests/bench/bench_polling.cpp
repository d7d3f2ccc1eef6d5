// CPU time and memory of the program while it polls and traces: the main
// window built and shown as main() does, from a folder whose conf.ini points
// at tksim, with its own timers (poll, trace, record) doing the work. The
// history rings are filled before the window shows, as after hours of running,
// so every trace tick walks and draws a full history. The window of
// measurement opens at the first answer shown and lasts the given seconds.
//
//   bench_polling [seconds]        (60 when not given)
//
// Prints:
//   polling_cpu_percent   user + system CPU time over the window, in % of one core
//   polling_cpu_ms        the same CPU time in milliseconds
//   polling_peak_rss_mib  peak resident memory of the whole run (VmHWM)
//   polling_rss_mib       resident memory at the end (VmRSS)
//   polling_answers, polling_trace_ticks, polling_graph_paints: what the window held
// and fails when the poll or the trace did not run as they should.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTime>
#include <QTimer>

#include "BenchSupport.h"
#include "CurveTrace.h"
#include "Data.h"
#include "Form1.h"
#include "GraphBox.h"

#include <cmath>
#include <cstdlib>

namespace {

// What a long run leaves in the rings: a slow setpoint ramp, the measured
// temperature wandering around it, a time every 2.5 s, the newest sample
// just before historyIndex.
void fillHistory(const QTime& now) {
    constexpr int size = Data::historySize;
    Data::historyIndex = 2345;
    for (int age = 0; age < size; ++age) {
        const int slot = (Data::historyIndex - 1 - age + size) % size;
        const float setpoint = 150.0f + float(age % 1500) / 30.0f;
        Data::setpointHistory[std::size_t(slot)] = setpoint;
        Data::measureHistory[std::size_t(slot)] = setpoint + 3.0f * std::sin(float(age) / 40.0f);
        Data::timeHistory[std::size_t(slot)] = display::traceTimeText(now.addMSecs(-2500 * age));
    }
}

int ticksSince(int fromIndex) {
    return (Data::historyIndex - fromIndex + Data::historySize) % Data::historySize;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds < 10) {
        bench::fail(QStringLiteral("the window must be 10 s or more"));
        return 2;
    }

    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &application, [] {
        bench::fail(QStringLiteral("no answer within 20 s (a message box at start-up?)"));
        std::_Exit(2);
    });
    watchdog.start(20000);

    app::Form1 form;
    if (!Data::portConnected) {
        bench::fail(QStringLiteral("the configured port did not open: is tksim running and "
                                   "conf.ini pointing at it?"));
        return 1;
    }
    fillHistory(QTime::currentTime());

    auto* status = form.findChild<QLineEdit*>(QStringLiteral("status_field"));
    auto* graph = form.findChild<display::GraphBox*>(QStringLiteral("Graph"));
    if (!status || !graph) {
        bench::fail(QStringLiteral("main window without status_field or Graph"));
        return 1;
    }

    int answers = 0;
    QObject::connect(status, &QLineEdit::textChanged, &form, [&](const QString& text) {
        if (text.startsWith(QLatin1String("Data received from controler ")))
            ++answers;
    });
    int graphPaints = 0;
    bench::AfterEvent paints(
        QEvent::Paint, [](QObject*) { return true; }, [&](QObject*) { ++graphPaints; });
    graph->installEventFilter(&paints);

    form.show();

    // The first poll comes 5 s after start-up; the window opens with its answer.
    QEventLoop firstAnswer;
    QObject::connect(status, &QLineEdit::textChanged, &firstAnswer, [&] {
        if (answers > 0)
            firstAnswer.quit();
    });
    firstAnswer.exec();
    watchdog.stop();

    const int answersBefore = answers;
    const int paintsBefore = graphPaints;
    const int indexBefore = Data::historyIndex;
    const double cpuBefore = bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();

    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &form, &QWidget::close);
    end.start(seconds * 1000);
    const int exitStatus = QApplication::exec();

    const double cpu = bench::cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    // cppcheck-suppress duplicateExpression ; counted by a signal handler during exec()
    const int windowAnswers = answers - answersBefore;
    // Every tick of a run shorter than the ring's 5001 samples advances the
    // index once.
    const int traceTicks = ticksSince(indexBefore);
    // cppcheck-suppress duplicateExpression ; counted by an event filter during exec()
    const int windowPaints = graphPaints - paintsBefore;

    bench::result("polling_window_s", elapsed);
    bench::result("polling_cpu_ms", cpu * 1e3);
    bench::result("polling_cpu_percent", cpu / elapsed * 100.0);
    bench::result("polling_peak_rss_mib", double(bench::statusKiB("VmHWM")) / 1024.0);
    bench::result("polling_rss_mib", double(bench::statusKiB("VmRSS")) / 1024.0);
    bench::result("polling_answers", windowAnswers);
    bench::result("polling_trace_ticks", traceTicks);
    bench::result("polling_graph_paints", windowPaints);

    // A poll every 2 s and a trace tick every 2.5 s, each allowed one short.
    bool good = exitStatus == 0;
    if (windowAnswers < int(elapsed / 2.0) - 1) {
        bench::fail(QStringLiteral("only %1 answers in %2 s").arg(windowAnswers).arg(elapsed));
        good = false;
    }
    if (traceTicks < int(elapsed / 2.5) - 1) {
        bench::fail(QStringLiteral("only %1 trace ticks in %2 s").arg(traceTicks).arg(elapsed));
        good = false;
    }
    if (windowPaints < traceTicks - 1) {
        bench::fail(QStringLiteral("the graph painted %1 times for %2 trace ticks")
                        .arg(windowPaints)
                        .arg(traceTicks));
        good = false;
    }
    return good ? 0 : 1;
}
