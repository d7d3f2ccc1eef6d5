// Latency from the last byte of the controller's answer to the read-out that
// shows it. The main window, shown, polls a pseudo-terminal that plays the
// controller: for each sample the poll tick sends its request, the first ten
// bytes of the answer go out and are taken in, and then the clock starts as
// the eleventh byte is written. Three ends are timed:
//   latency_text   meas_box holds the new text (the receive event decoded it)
//   latency_paint  meas_box has painted the new text into the window's image
//   latency_flush  that repaint is finished and handed to the window system
// Each figure is given as the median and the 99th percentile of the samples
// (latency_<end>_median_ms, latency_<end>_p99_ms). latency_flush_unqueued
// is latency_flush less the time the main thread spent waiting for a CPU
// during the sample: what is left when other work on the machine is taken out.
//
//   bench_latency [samples] [off|recording|stalled]   (200, off when not given)
//
// The poll timer is stopped so that the benchmark decides when each request
// goes out; the trace and record timers run as in the program. With
// "recording" a recording runs with a record every 5 ms; with "stalled" as
// well, but the first record never leaves the medium (its write is held until
// the end), as on a hung network folder, so every later tick finds the writer
// busy. A mode given paces the samples 3 ms apart (also "off", for the
// baseline), so that the record ticks come between them. Then record_tick_median_ms and _max_ms
// give what a record tick costs the user-interface thread, and records_written / records_lost the
// counts.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "AnswerFrame.h"
#include "BenchSupport.h"
#include "Data.h"
#include "Form1.h"
#include "Pty.h"
#include "RecordFile.h"
#include "RecordFormat.h"
#include "RecordWriter.h"
#include "Recorder.h"
#include "TextFormats.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <vector>

namespace {

QByteArray answerFrame(uint16_t measure, uint16_t setpoint, uint16_t power) {
    QByteArray frame;
    frame += char(tklink::controllerAddress);
    frame += char(tklink::readHoldingRegisters);
    frame += char(tklink::answerByteCount);
    for (const uint16_t value : {measure, setpoint, power}) {
        frame += char(value >> 8);
        frame += char(value & 0xFF);
    }
    const uint16_t crc = tklink::crc16Modbus(
        {reinterpret_cast<const uint8_t*>(frame.constData()), std::size_t(frame.size())});
    frame += char(crc & 0xFF); // low byte first on the line
    frame += char(crc >> 8);
    return frame;
}

// Runs the event loop until done() holds or timeoutMs passes.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 3000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void reportSamples(const char* name, const std::vector<double>& samples) {
    const QByteArray base = QByteArray("latency_") + name;
    bench::result((base + "_median_ms").constData(), bench::percentile(samples, 50));
    bench::result((base + "_p99_ms").constData(), bench::percentile(samples, 99));
    bench::result((base + "_max_ms").constData(), bench::percentile(samples, 100));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 200;
    const QByteArray mode = argc > 2 ? QByteArray(argv[2]) : QByteArray("off");
    if (samples < 1 || (mode != "off" && mode != "recording" && mode != "stalled")) {
        bench::fail(QStringLiteral("usage: bench_latency [samples] [off|recording|stalled]"));
        return 2;
    }

    // The window reads conf.ini from the working folder: an empty one here,
    // so port 1 at 19200 bit/s, and port 1 is the pseudo-terminal.
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path())) {
        bench::fail(QStringLiteral("no temporary folder"));
        return 1;
    }
    Pty controller;
    if (!controller.isValid()) {
        bench::fail(QStringLiteral("no pseudo-terminal"));
        return 1;
    }
    app::Form1Seams seams;
    seams.deviceForPort = [&controller](int number) {
        return number == 1 ? controller.path() : QString();
    };
    seams.showError = [](const QString&, const QString& text) { bench::fail(text); };
    app::Form1 form(seams);
    if (!Data::portConnected)
        return 1;

    auto* pollTimer = form.findChild<QTimer*>(QStringLiteral("timerGetFromControler"));
    auto* measBox = form.findChild<QLineEdit*>(QStringLiteral("meas_box"));
    if (!pollTimer || !measBox) {
        bench::fail(QStringLiteral("main window without its poll timer or meas_box"));
        return 1;
    }
    pollTimer->stop();
    // Wakes the waits below now and then, so that their deadlines are seen
    // even when nothing else happens.
    QTimer heartbeat;
    heartbeat.start(100);

    using Clock = std::chrono::steady_clock;
    Clock::time_point textAt{};
    Clock::time_point paintAt{};
    Clock::time_point flushAt{};
    bool armed = false;
    QObject::connect(measBox, &QLineEdit::textChanged, &form, [&] {
        if (armed && textAt == Clock::time_point{})
            textAt = Clock::now();
    });
    bench::AfterEvent paints(
        QEvent::Paint, [](QObject*) { return true; },
        [&](QObject*) {
            if (armed && textAt != Clock::time_point{} && paintAt == Clock::time_point{})
                paintAt = Clock::now();
        });
    measBox->installEventFilter(&paints);
    // Widgets repaint when their window handles a posted update request: every
    // dirty control is painted and the result flushed in that one call.
    bench::AfterEvent flushes(
        QEvent::UpdateRequest, [](QObject*) { return true; },
        [&](QObject*) {
            if (armed && paintAt != Clock::time_point{} && flushAt == Clock::time_point{})
                flushAt = Clock::now();
        });
    form.installEventFilter(&flushes);

    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        bench::fail(QStringLiteral("the window was never exposed"));
        return 1;
    }

    // The record tick timed on its own: the benchmark calls it in place of
    // the timer's own connection.
    auto* recorder = form.findChild<recording::Recorder*>();
    auto* recordTimer = form.findChild<QTimer*>(QStringLiteral("timerRecording"));
    std::vector<double> recordTicks;
    int recordsWritten = 0;
    int recordsLost = 0;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // What each write takes on the writer's thread: the time a record tick
    // held the user-interface thread while it wrote the file itself.
    auto writeTimes = std::make_shared<std::vector<double>>();
    if (mode == "recording") {
        recorder->writer().setAppendFunction([writeTimes](const QString& name,
                                                          const QString& text) {
            const auto start = std::chrono::steady_clock::now();
            const bool ok = recording::appendToRecordFile(name, text, recording::headerLine());
            writeTimes->push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            return ok;
        });
    }
    if (mode != "off") {
        if (mode == "stalled") {
            auto writes = std::make_shared<std::atomic<int>>(0);
            recorder->writer().setAppendFunction(
                [released, writes](const QString& name, const QString& text) {
                    if ((*writes)++ > 0) // the header goes through, the first record hangs
                        released.wait();
                    return recording::appendToRecordFile(name, text, recording::headerLine());
                });
        }
        QObject::disconnect(recordTimer, &QTimer::timeout, recorder, &recording::Recorder::tick);
        QObject::connect(recordTimer, &QTimer::timeout, recorder, [&] {
            const auto start = std::chrono::steady_clock::now();
            recorder->tick();
            recordTicks.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        });
        QObject::connect(
            recorder, &recording::Recorder::statusText, recorder, [&](const QString& text) {
                recordsWritten += text.startsWith(QLatin1String("Recording in progress"));
                recordsLost += text.startsWith(QLatin1String("Recording Error"));
            });
        recorder->startStop();
        if (!waitFor([] { return Data::recordingActive != 0; })) {
            bench::fail(QStringLiteral("the recording did not start"));
            return 1;
        }
        // Far more often than any real period, so that writes overlap answers.
        Data::recordTimerMs = 5;
        recordTimer->start(5);
    }

    const QByteArray request = QByteArray::fromHex("0903000100035543");
    std::vector<double> toText;
    std::vector<double> toPaint;
    std::vector<double> toFlush;
    std::vector<double> unqueued;
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    // With a mode given, 3 ms of the event loop before each sample let the
    // record ticks in, the same in every mode.
    const bool paced = argc > 2;
    for (int i = 0; i < samples; ++i) {
        if (paced) {
            const QDeadlineTimer pause(3);
            waitFor([&] { return pause.hasExpired(); }, 100);
        }
        QMetaObject::invokeMethod(pollTimer, "timeout");
        const QByteArray sent = controller.read(int(request.size()));
        if (sent != request) {
            bench::fail(QStringLiteral("sample %1: request %2").arg(i).arg(sent.toHex(' ')));
            return 1;
        }
        // A new value at every sample, so that the read-out's text changes.
        const auto measure = uint16_t(1000 + i % 2000);
        const QByteArray answer = answerFrame(measure, 2000, 45);
        if (!controller.write(answer.left(answer.size() - 1)) ||
            !waitFor([&] { return Data::rxCount == answer.size() - 1; })) {
            bench::fail(QStringLiteral("sample %1: the first bytes were not taken in").arg(i));
            return 1;
        }
        // Let the window finish what the request and the first bytes made dirty.
        QCoreApplication::processEvents();

        textAt = paintAt = flushAt = Clock::time_point{};
        const double queuedBefore = bench::runQueueWaitMs();
        armed = true;
        const Clock::time_point lastByteAt = Clock::now();
        controller.write(answer.right(1));
        const bool ended = waitFor([&] { return flushAt != Clock::time_point{}; });
        armed = false;
        const double queued = bench::runQueueWaitMs() - queuedBefore;
        const QString expected = generalNumber(static_cast<float>(measure) / 10.0f);
        if (!ended || measBox->text() != expected) {
            bench::fail(QStringLiteral("sample %1: read-out \"%2\" instead of \"%3\"%4")
                            .arg(i)
                            .arg(measBox->text(), expected,
                                 ended ? QString() : QStringLiteral(", never repainted")));
            return 1;
        }
        toText.push_back(ms(textAt - lastByteAt));
        toPaint.push_back(ms(paintAt - lastByteAt));
        toFlush.push_back(ms(flushAt - lastByteAt));
        unqueued.push_back(toFlush.back() - queued);
    }

    if (mode != "off") {
        bench::result("record_tick_median_ms", bench::percentile(recordTicks, 50));
        bench::result("record_tick_max_ms", bench::percentile(recordTicks, 100));
        bench::result("records_written", recordsWritten);
        bench::result("records_lost", recordsLost);
    }
    if (mode == "recording") {
        recorder->writer().waitForIdle(10000);
        bench::result("record_write_median_ms", bench::percentile(*writeTimes, 50));
        bench::result("record_write_max_ms", bench::percentile(*writeTimes, 100));
    }
    release.set_value();
    bench::result("latency_samples", double(toText.size()));
    reportSamples("text", toText);
    reportSamples("paint", toPaint);
    reportSamples("flush", toFlush);
    reportSamples("flush_unqueued", unqueued);
    form.close();
    return 0;
}
