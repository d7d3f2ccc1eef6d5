// Start-up time of the program: from the exec of the process to the main
// window's first finished frame, going through the same steps as main()
// (application object, main window with its whole start-up sequence, show,
// event loop). Run from a folder whose conf.ini names a port that opens, as
// scripts/bench.sh sets up with tksim; one run, one start-up.
//
// Prints, in milliseconds since the exec mark (TK_BENCH_EXEC_TIME):
//   startup_main         main() entered: loading and linking of the libraries
//   startup_application  application object made (platform plugin, fonts)
//   startup_constructed  main window built: its start-up sequence, port scan included
//   startup_shown        show() returned
//   startup_first_frame  the window's first expose handled: every control
//                        painted and the frame handed to the window system
// and startup_first_frame_kernel, the same end counted from the kernel's
// start of the process (10 ms steps), as a check on the mark, and
// startup_cpu_ms, the CPU time the process had used by then: unlike the
// others, it hardly moves when other work shares the machine, and
// startup_runqueue_ms, how long the main thread waited for a CPU on the way:
// startup_first_frame less this (startup_first_frame_unqueued) is about what
// an idle machine would show.

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include "BenchSupport.h"
#include "Data.h"
#include "Form1.h"

#include <cstdlib>
#include <optional>

namespace {

void report(const char* key, const std::optional<double>& ms) {
    if (ms)
        bench::result(key, *ms);
}

} // namespace

int main(int argc, char* argv[]) {
    const std::optional<double> atMain = bench::msSinceExecMark();

    QApplication application(argc, argv);
    const std::optional<double> atApplication = bench::msSinceExecMark();

    // A start-up that cannot open its port shows a modal message and would
    // wait for a click that never comes.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &application, [] {
        bench::fail(QStringLiteral("no first frame within 20 s (a message box at start-up?)"));
        std::_Exit(2);
    });
    watchdog.start(20000);

    app::Form1 form;
    const std::optional<double> atConstructed = bench::msSinceExecMark();
    if (!Data::portConnected) {
        bench::fail(QStringLiteral("the configured port did not open: is tksim running and "
                                   "conf.ini pointing at it?"));
        return 1;
    }

    std::optional<double> atFirstFrame;
    double kernelFirstFrame = -1;
    double cpuFirstFrame = -1;
    double runQueueFirstFrame = -1;
    bench::AfterEvent firstFrame(
        QEvent::Expose, [&form](const QObject* object) { return object == form.windowHandle(); },
        [&](QObject*) {
            if (atFirstFrame || !form.windowHandle()->isExposed())
                return;
            atFirstFrame = bench::msSinceExecMark();
            kernelFirstFrame = bench::msSinceKernelStart();
            cpuFirstFrame = bench::cpuSeconds() * 1e3;
            runQueueFirstFrame = bench::runQueueWaitMs();
            if (!atFirstFrame)
                atFirstFrame = kernelFirstFrame;
            // Leave the way the operator does; closing the last window ends
            // the event loop.
            QTimer::singleShot(0, &form, &QWidget::close);
        });
    application.installEventFilter(&firstFrame);

    form.show();
    const std::optional<double> atShown = bench::msSinceExecMark();
    const int status = QApplication::exec();
    if (!atFirstFrame) {
        bench::fail(QStringLiteral("the window was never exposed"));
        return 1;
    }

    report("startup_main", atMain);
    report("startup_application", atApplication);
    report("startup_constructed", atConstructed);
    report("startup_shown", atShown);
    report("startup_first_frame", atFirstFrame);
    bench::result("startup_first_frame_kernel", kernelFirstFrame);
    bench::result("startup_cpu_ms", cpuFirstFrame);
    bench::result("startup_runqueue_ms", runQueueFirstFrame);
    if (runQueueFirstFrame >= 0)
        bench::result("startup_first_frame_unqueued", *atFirstFrame - runQueueFirstFrame);
    return status;
}
