// The whole program against the real simulator for a long time: the main
// window with its poll cycle, trace and recording, driven faster than real
// time by calling each timer's tick as soon as the previous poll has ended,
// against a tksim that injects every kind of fault at random from one seed.
// tksim logs each request once the last byte of its answer is on the line, so
// its log says what the program was sent, and every value the program shows,
// stores or records is traced back to a valid answer in it.
//
// Also here: a stall of the event loop while an answer comes in, pulling and
// replugging the line many times, and a second instance of the program on a
// port the first one holds.
//
// The short soak runs with the other tests. The long one, labelled "soak":
//     ctest --test-dir build -L soak --output-on-failure
// or by hand, any number of polls and any seed (one line):
//     TK_SOAK_POLLS=10000 TK_SOAK_SEED=7 QT_QPA_PLATFORM=offscreen
//     build/tests/link/tst_link_soak soak

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "AddressSanitizer.h"
#include "Bus.h"
#include "ControllerSession.h"
#include "Data.h"
#include "Form1.h"
#include "PanelArt.h"
#include "PollWatch.h"
#include "ProcessProbe.h"
#include "Profile.h"
#include "ProgramState.h"
#include "RecordWriter.h"
#include "Recorder.h"
#include "SerialPortControl.h"
#include "TksimLog.h"
#include "TksimProcess.h"
#include "WaitUntil.h"

#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>

using tklink::SerialPortControl;

namespace {

// Every wait on the simulator, the port or a child process; far above what a
// loaded machine (or a sanitizer build) needs.
constexpr int waitMs = 20000;

// The short soak: enough polls for every fault kind many times over, quick
// enough to run with every build, sanitizers included.
constexpr int shortSoakPolls = 1200;

// The program's own periods: the poll timer's first interval and the later
// one, the trace's, and the record timer's first one.
constexpr qint64 firstPollMs = 5000;
constexpr qint64 pollMs = 2000;
constexpr qint64 traceMs = 2500;
constexpr qint64 firstRecordMs = 20000;

const QDateTime startTime(QDate(2024, 5, 17), QTime(22, 50, 0));

QString statusTimeText(const QDateTime& t) {
    return t.time().toString(QStringLiteral("HH:mm:ss"));
}

Triple dataValues() {
    return {int(Data::measureRaw), int(Data::setpointRaw), int(Data::powerRaw)};
}

// "replug PATH" and "cut LINE" by their first word, other line events whole.
QString lineEventKind(const QString& line) {
    return line.startsWith(QLatin1String("replug ")) || line.startsWith(QLatin1String("cut "))
               ? line.section(QLatin1Char(' '), 0, 0)
               : line;
}

int envNumber(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

class TestLinkSoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void soak();
    void stallWhileAnswerArrives_data();
    void stallWhileAnswerArrives();
    void unplugReplugCycles();
    void secondInstance_data();
    void secondInstance();
    void silentController();

private:
    void startForm(const QStringList& simOptions);
    void pollOnce(PollOutcome& outcome);
    std::optional<SimLine> nextRequestLine();
    bool waitForLine(const QString& prefix);
    void traceTick();
    void recordTick();
    void startRecording();
    QString lettersOf(const QStringList& statuses) const {
        return statusLetters(statuses, statusTimeText(m_clock));
    }
    QLineEdit* box(const char* name) const;

    std::optional<ProgramState> m_state;
    std::unique_ptr<TksimProcess> m_sim;
    std::unique_ptr<app::Form1> m_form;
    tklink::Bus* m_poll = nullptr;
    tklink::Controller* m_controller = nullptr;
    QDateTime m_clock;
    QStringList m_errors;

    // Simulator lines not yet taken, and the line events seen on the way.
    std::deque<QString> m_lines;
    std::map<QString, int> m_lineEvents;

    // Per poll.
    std::unique_ptr<PollWatch> m_watch;

    // Recording file and how much of it was checked already.
    qint64 m_recordOffset = 0;
    int m_records = 0;
    int m_traceTicks = 0;
    QStringList m_problems;
};

void TestLinkSoak::init() {
    // conf.ini and the recordings live in the working folder.
    m_state.emplace();
    QVERIFY(m_state->isValid());
    m_clock = startTime;
    m_errors.clear();
    m_lines.clear();
    m_lineEvents.clear();
    m_recordOffset = 0;
    m_records = 0;
    m_traceTicks = 0;
    m_problems.clear();
}

void TestLinkSoak::cleanup() {
    m_watch.reset();
    m_form.reset();
    m_poll = nullptr;
    m_controller = nullptr;
    if (m_sim && QTest::currentTestFailed()) {
        qWarning().noquote() << "tksim stderr:"
                             << QString::fromLocal8Bit(m_sim->process().readAllStandardError());
    }
    m_sim.reset();
    m_state.reset();
}

QLineEdit* TestLinkSoak::box(const char* name) const {
    return m_form->findChild<QLineEdit*>(QLatin1String(name));
}

void TestLinkSoak::startForm(const QStringList& simOptions) {
    m_sim = std::make_unique<TksimProcess>(QStringLiteral(TKSIM_PATH), simOptions);
    QVERIFY2(m_sim->start(waitMs), "tksim did not start");

    app::Form1Seams seams;
    seams.deviceForPort = [this](int n) { return n == 1 ? m_sim->link() : QString(); };
    seams.showError = [this](const QString& caption, const QString& text, const QString&) {
        m_errors << caption + QLatin1Char('|') + text;
    };
    seams.now = [this] { return m_clock; };
    seams.runAsks.identity = [](const sealing::RunIdentity& last) { return std::optional(last); };
    m_form = std::make_unique<app::Form1>(seams);
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join(QLatin1Char('\n'))));
    QVERIFY(Data::portConnected);

    // The test plays the timers: each tick is called when the simulated clock
    // reaches it, so the real ones must not fire on their own.
    for (const char* name : {"timerGetFromControler", "timerTraceCurves", "timerRecording"})
        m_form->findChild<QTimer*>(QLatin1String(name))->stop();

    m_poll = m_form->findChild<tklink::Bus*>();
    QVERIFY(m_poll);
    m_controller = &m_form->findChild<tklink::ControllerSession*>()->shownController();
    // So is the answer time-out: pollOnce() ends each wait as it would end
    // before the next tick.
    m_poll->findChild<QTimer*>(QStringLiteral("timerAnswerTimeout"))->setInterval(3600000);
    m_watch = std::make_unique<PollWatch>(*m_controller, m_form->serialPort());
}

std::optional<SimLine> TestLinkSoak::nextRequestLine() {
    const bool found = waitUntil(
        [this] {
            for (const QString& line : m_sim->takeNewLines())
                m_lines.push_back(line);
            while (!m_lines.empty() && isLineEvent(m_lines.front())) {
                ++m_lineEvents[lineEventKind(m_lines.front())];
                m_lines.pop_front();
            }
            return !m_lines.empty();
        },
        waitMs, {m_sim->logPath()});
    if (!found)
        return std::nullopt;
    const QString text = m_lines.front();
    m_lines.pop_front();
    return parseSimLine(text);
}

// Waits for a line event (an unplug or replug) starting with prefix, and takes
// it; request lines on the way would be a fault of the test's pacing.
bool TestLinkSoak::waitForLine(const QString& prefix) {
    return waitUntil(
        [&] {
            for (const QString& line : m_sim->takeNewLines())
                m_lines.push_back(line);
            if (m_lines.empty() || !m_lines.front().startsWith(prefix))
                return false;
            ++m_lineEvents[lineEventKind(m_lines.front())];
            m_lines.pop_front();
            return true;
        },
        waitMs, {m_sim->logPath()});
}

void TestLinkSoak::pollOnce(PollOutcome& outcome) {
    ::pollOnce(
        *m_watch, *m_poll,
        [this] {
            QMetaObject::invokeMethod(m_form->findChild<QTimer*>("timerGetFromControler"),
                                      "timeout");
        },
        [this] { return nextRequestLine(); }, outcome, waitMs);
}

// One trace tick: the slot it writes holds what Data held, divided by ten.
void TestLinkSoak::traceTick() {
    const int slot = Data::historyIndex;
    const float measured = Data::measureRaw / 10.0f;
    const float setpoint = Data::setpointRaw / 10.0f;
    QMetaObject::invokeMethod(m_form->findChild<QTimer*>("timerTraceCurves"), "timeout");
    ++m_traceTicks;
    if (Data::measureHistory[slot] != measured || Data::setpointHistory[slot] != setpoint)
        m_problems << QStringLiteral("trace slot %1 holds %2/%3, Data %4/%5")
                          .arg(slot)
                          .arg(Data::measureHistory[slot])
                          .arg(Data::setpointHistory[slot])
                          .arg(measured)
                          .arg(setpoint);
    if (Data::historyIndex != (slot + 1) % Data::historySize)
        m_problems
            << QStringLiteral("trace index %1 after slot %2").arg(Data::historyIndex).arg(slot);
}

// One record tick: the line it appends holds what Data held, and the status
// line tells of it.
void TestLinkSoak::recordTick() {
    const Triple held = dataValues();
    auto* timer = m_form->findChild<QTimer*>("timerRecording");
    QMetaObject::invokeMethod(timer, "timeout");
    // The tick restarts its own timer with the record period; the test keeps
    // playing it.
    timer->stop();
    ++m_records;
    // The record is written on the writer's thread; its outcome comes back
    // queued.
    QVERIFY(m_form->findChild<recording::Recorder*>()->writer().waitForIdle(waitMs));
    QCoreApplication::processEvents();

    QFile file(Data::recordFileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.seek(m_recordOffset));
    const QByteArray added = file.readAll();
    m_recordOffset += added.size();
    const QString expected =
        QStringLiteral(";%1;%2;%3;\r\n").arg(held[1]).arg(held[0]).arg(held[2]);
    if (!added.startsWith('"') || !added.endsWith(expected.toLatin1()) || added.count('\n') != 1)
        m_problems << QStringLiteral("record %1: \"%2\", Data %3")
                          .arg(m_records)
                          .arg(QString::fromLatin1(added), tripleText(held));
    const QString status = QStringLiteral("Recording in progress in file ") + Data::recordFileName +
                           QLatin1Char(' ') + statusTimeText(m_clock);
    if (box("recording_field")->text() != status)
        m_problems << QStringLiteral("record %1: recording_field \"%2\"")
                          .arg(m_records)
                          .arg(box("recording_field")->text());
}

void TestLinkSoak::startRecording() {
    QTest::mouseClick(m_form->findChild<app::PanelButton*>("Start_stop_recording"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Data::recordingActive, uint8_t(255), waitMs);
    QFile file(Data::recordFileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Time;Setpoint;Temperature;Power;\r\n"));
    m_recordOffset = file.size();
}

// Every fault kind at random over a long run, with the trace and the
// recording running at their own periods on a simulated clock.
void TestLinkSoak::soak() {
    const int polls = envNumber("TK_SOAK_POLLS", shortSoakPolls);
    const int seed = envNumber("TK_SOAK_SEED", 2024);
    // Unplugs are replugged by the test (SIGUSR1) after one tick without the
    // line, so the replug timer is set out of reach.
    TRY(startForm({"--speed",        "40",     "--seed",      QString::number(seed),
                   "--drop",         "0.04",   "--exception", "0.04",
                   "--truncate",     "0.05",   "--bad-crc",   "0.05",
                   "--bad-address",  "0.05",   "--noise",     "0.08",
                   "--extra",        "0.08",   "--slow",      "0.05",
                   "--byte-delay",   "1",      "--unplug",    "0.006",
                   "--replug-after", "3600000"}));

    QElapsedTimer elapsed;
    elapsed.start();
    TRY(startRecording());

    std::map<SimLine::Kind, int> kinds;
    int noisy = 0;
    int padded = 0;
    int slow = 0;
    int decoded = 0;
    int wrong = 0;
    int notConnected = 0;
    int recoveries = 0;
    Triple held = dataValues(); // the no-value marker until the first answer
    int missed = 0;             // polls in a row without a valid answer
    int staleSpells = 0;        // times the values went back to no data
    bool faultBefore = false;
    const qint64 warmUpPolls = std::min(polls / 5, 300);
    qint64 rssAfterWarmUp = -1;
    int slotsWrittenAtWarmUp = 0;
    QStringList rssSeries;    // polls:KiB every 1000 polls
    qint64 rssRingsFull = -1; // once every ring slot was written
    int pollsRingsFull = 0;

    qint64 nextPoll = firstPollMs;
    qint64 nextTrace = traceMs;
    qint64 nextRecord = firstRecordMs;
    int requests = 0;
    const QDateTime t0 = startTime;
    while (requests < polls) {
        const qint64 now = std::min({nextPoll, nextTrace, nextRecord});
        m_clock = t0.addMSecs(now);
        if (now == nextTrace) {
            nextTrace += traceMs;
            traceTick();
            continue;
        }
        if (now == nextRecord) {
            nextRecord += Data::recordTimerMs > 0 ? Data::recordTimerMs : firstRecordMs;
            TRY(recordTick());
            continue;
        }
        nextPoll += pollMs;

        PollOutcome outcome;
        TRY(pollOnce(outcome));
        const QString letters = lettersOf(outcome.statuses);
        if (!outcome.requestSent) {
            // The line is out: one tick shows it, then the line comes back
            // and the next tick reopens the port by itself.
            ++notConnected;
            if (letters != QLatin1String("N"))
                m_problems << QStringLiteral("tick while unplugged: %1").arg(letters);
            QVERIFY(m_sim->togglePlug());
            QVERIFY2(waitForLine(QStringLiteral("replug ")), "no replug");
            continue;
        }
        ++requests;
        const SimLine& line = outcome.line;
        ++kinds[line.kind];
        noisy += line.noise > 0 ? 1 : 0;
        padded += line.extra > 0 ? 1 : 0;
        slow += line.slow ? 1 : 0;

        const QString where = QStringLiteral("poll %1 \"%2\"").arg(requests).arg(line.text);
        if (!QRegularExpression(QLatin1Char('^') + expectedStatuses(line) + QLatin1Char('$'))
                 .match(letters)
                 .hasMatch())
            m_problems << where + QStringLiteral(": statuses ") + letters + QStringLiteral(" ") +
                              outcome.statuses.join(QLatin1String(" | "));
        if (!outcome.statuses.isEmpty() && box("status_field")->text() != outcome.statuses.last())
            m_problems << where + QStringLiteral(": status_field ") + box("status_field")->text();

        for (qsizetype i = 0; i < outcome.decoded.size(); ++i) {
            ++decoded;
            const Triple& t = outcome.decoded[i];
            const QStringList shown{readoutText(t[0]), readoutText(t[1])};
            if (!line.isAnswer() || t != line.values || outcome.readouts[i] != shown) {
                ++wrong;
                m_problems << where + QStringLiteral(": decoded %1, shown %2")
                                          .arg(tripleText(t), outcome.readouts[i].join(' '));
            }
        }
        if (line.isAnswer()) {
            if (outcome.decoded.size() != 1)
                m_problems << where + QStringLiteral(": %1 decodes").arg(outcome.decoded.size());
            recoveries += faultBefore ? 1 : 0;
            held = line.values;
            missed = 0;
        } else if (line.kind == SimLine::Kind::Unplug || ++missed >= 3) {
            // Values that stopped coming are no longer passed off as current.
            staleSpells += held != Triple{8888, 8888, 0} ? 1 : 0;
            held = {8888, 8888, 0};
        }
        faultBefore = !line.isAnswer();
        if (dataValues() != held)
            m_problems << where + QStringLiteral(": Data holds ") + tripleText(dataValues());
        const QStringList shownNow{box("meas_box")->text(), box("setp_box")->text()};
        const QStringList heldText = held == Triple{8888, 8888, 0}
                                         ? QStringList{"888.8", "888.8"}
                                         : QStringList{readoutText(held[0]), readoutText(held[1])};
        if (shownNow != heldText)
            m_problems << where + QStringLiteral(": read-outs ") + shownNow.join(' ');

        if (requests == warmUpPolls) {
            rssAfterWarmUp = residentKiB();
            slotsWrittenAtWarmUp = m_traceTicks;
        }
        if (rssRingsFull < 0 && m_traceTicks > Data::historySize) {
            rssRingsFull = residentKiB();
            pollsRingsFull = requests;
        }
        if (requests % 1000 == 0)
            rssSeries << QStringLiteral("%1:%2").arg(requests).arg(residentKiB());
        if (m_problems.size() > 20)
            break;
    }
    const qint64 rssAtEnd = residentKiB();
    const int newSlots = std::min(m_traceTicks, Data::historySize) -
                         std::min(slotsWrittenAtWarmUp, Data::historySize);

    const auto line = [](const QString& text) {
        std::fprintf(stdout, "soak: %s\n", qPrintable(text));
        std::fflush(stdout);
    };
    line(QStringLiteral("seed %1, %2 polls in %3 s, %4 trace ticks, %5 records")
             .arg(seed)
             .arg(requests)
             .arg(double(elapsed.elapsed()) / 1000.0, 0, 'f', 1)
             .arg(m_traceTicks)
             .arg(m_records));
    line(QStringLiteral("answers %1, drop %2, exception %3, truncated %4, bad CRC %5, "
                        "bad address %6, unplug %7; with noise %8, extra bytes %9, slow %10")
             .arg(kinds[SimLine::Kind::Answer])
             .arg(kinds[SimLine::Kind::Drop])
             .arg(kinds[SimLine::Kind::Exception])
             .arg(kinds[SimLine::Kind::Truncated])
             .arg(kinds[SimLine::Kind::BadCrc])
             .arg(kinds[SimLine::Kind::BadAddress])
             .arg(kinds[SimLine::Kind::Unplug])
             .arg(noisy)
             .arg(padded)
             .arg(slow));
    line(QStringLiteral("ticks not connected %1, replugs %2, recoveries after a fault %3")
             .arg(notConnected)
             .arg(m_lineEvents[QStringLiteral("replug")])
             .arg(recoveries));
    line(QStringLiteral("values decoded %1, wrong %2; values gone stale %3 times")
             .arg(decoded)
             .arg(wrong)
             .arg(staleSpells));
    line(QStringLiteral("VmRSS after %1 polls %2 KiB, at the end %3 KiB (%4 KiB), %5 ring slots "
                        "first written in between")
             .arg(warmUpPolls)
             .arg(rssAfterWarmUp)
             .arg(rssAtEnd)
             .arg(rssAtEnd - rssAfterWarmUp)
             .arg(newSlots));
    if (rssRingsFull >= 0)
        line(QStringLiteral("VmRSS when the rings were full (poll %1) %2 KiB, at the end %3 KiB "
                            "(%4 KiB)")
                 .arg(pollsRingsFull)
                 .arg(rssRingsFull)
                 .arg(rssAtEnd)
                 .arg(rssAtEnd - rssRingsFull));
    if (!rssSeries.isEmpty())
        line(QStringLiteral("VmRSS KiB by polls: ") + rssSeries.join(QLatin1Char(' ')));

    QVERIFY2(m_problems.isEmpty(), qPrintable(m_problems.mid(0, 20).join(QLatin1Char('\n'))));
    QCOMPARE(wrong, 0);
    QCOMPARE(requests, polls);
    QCOMPARE(decoded, kinds[SimLine::Kind::Answer]);
    QCOMPARE(notConnected, kinds[SimLine::Kind::Unplug]);
    // Every kind of fault happened, or the run proves less than it says.
    for (const SimLine::Kind kind :
         {SimLine::Kind::Answer, SimLine::Kind::Drop, SimLine::Kind::Exception,
          SimLine::Kind::Truncated, SimLine::Kind::BadCrc, SimLine::Kind::BadAddress,
          SimLine::Kind::Unplug})
        QVERIFY2(kinds[kind] > 0, qPrintable(QString::number(int(kind))));
    QVERIFY(noisy > 0 && padded > 0 && slow > 0 && recoveries > 0 && staleSpells > 0);
    QVERIFY(m_traceTicks > polls / 2 && m_records > polls / 20);

#if !defined(TK_ADDRESS_SANITIZER)
    // Nothing the program keeps grows with the polls: the rings are allocated
    // at start-up and the graph is one image. Until every ring slot has been
    // written once, each trace tick adds one time-of-day text (about 140
    // bytes measured, with the allocator's overhead): 256 bytes per slot
    // first written after the warm-up, plus 512 KiB for the allocator's
    // arenas and Qt's caches.
    const qint64 boundKiB = 512 + newSlots / 4;
    QVERIFY2(rssAtEnd - rssAfterWarmUp <= boundKiB,
             qPrintable(QStringLiteral("grew %1 KiB, bound %2 KiB")
                            .arg(rssAtEnd - rssAfterWarmUp)
                            .arg(boundKiB)));
    // Once the rings are full nothing may grow at all: 256 KiB over the
    // polls after that (3750 in the 10,000-poll run) is 70 bytes per poll.
    if (rssRingsFull >= 0 && requests - pollsRingsFull >= 1000)
        QVERIFY2(rssAtEnd - rssRingsFull <= 256,
                 qPrintable(QStringLiteral("grew %1 KiB after the rings were full")
                                .arg(rssAtEnd - rssRingsFull)));
#endif
}

void TestLinkSoak::stallWhileAnswerArrives_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("bytesBeforeStall");

    QTest::newRow("whole answer during the stall") << QStringList{} << 0;
    QTest::newRow("byte-by-byte answer, all of it during the stall")
        << QStringList{"--slow", "1", "--max-faults", "1", "--byte-delay", "20"} << 0;
    QTest::newRow("byte-by-byte answer, three bytes before the stall")
        << QStringList{"--slow", "1", "--max-faults", "1", "--byte-delay", "40"} << 3;
}

// The user-interface thread is held for 500 ms (a slow disk, a busy window
// manager) while the answer comes in: its bytes are waiting all at once when
// the event loop runs again, and come in one receive event.
void TestLinkSoak::stallWhileAnswerArrives() {
    QFETCH(QStringList, options);
    QFETCH(int, bytesBeforeStall);
    constexpr int answerBytes = 11;
    TRY(startForm(QStringList{"--fixed", "2153,2000,45"} + options));
    const int fd = descriptorOnDevice(m_sim->link());
    QVERIFY(fd >= 0);

    m_watch->clear();
    QMetaObject::invokeMethod(m_form->findChild<QTimer*>("timerGetFromControler"), "timeout");
    QVERIFY(QTest::qWaitFor([&] { return m_watch->bytesTaken >= bytesBeforeStall; }, waitMs));
    // Bytes 40 ms apart: on a busy machine a fourth may have come with the
    // third, never the whole answer.
    const int takenBefore = m_watch->bytesTaken;
    QVERIFY(takenBefore < answerBytes - 2);
    const int eventsBefore = m_watch->commEvents;

    // The stall itself, the stimulus of this test: the thread runs no event
    // for 500 ms, and until the simulator has put the whole answer on the
    // line and the terminal holds all of it.
    QElapsedTimer stall;
    stall.start();
    QStringList lines;
    while (stall.elapsed() < 500 || lines.isEmpty() ||
           pendingInputBytes(fd) < answerBytes - takenBefore) {
        lines += m_sim->takeNewLines();
        QVERIFY2(stall.elapsed() < waitMs, "no answer during the stall");
        QThread::msleep(5);
    }
    QCOMPARE(lines, QStringList{QStringLiteral("answer 2153 2000 45") +
                                (options.isEmpty() ? QString() : QStringLiteral(" slow"))});
    QCOMPARE(pendingInputBytes(fd), answerBytes - takenBefore);
    QCOMPARE(m_watch->statuses, QStringList{QStringLiteral("Send request to controler 22:50:00")});

    QVERIFY(QTest::qWaitFor([&] { return m_watch->bytesTaken >= answerBytes; }, waitMs));
    QCOMPARE(m_watch->bytesTaken, answerBytes);
    QCOMPARE(m_watch->commEvents - eventsBefore, 1);
    QCOMPARE(m_watch->statuses,
             (QStringList{QStringLiteral("Send request to controler 22:50:00"),
                          QStringLiteral("Data received from controler 22:50:00")}));
    QCOMPARE(m_watch->decoded, (QList<Triple>{{2153, 2000, 45}}));
    QCOMPARE(box("meas_box")->text(), QStringLiteral("215.3"));
    QCOMPARE(box("setp_box")->text(), QStringLiteral("200"));

    for (int poll = 0; poll < 3; ++poll) {
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        QCOMPARE(outcome.line.text, QStringLiteral("answer 2153 2000 45"));
        QCOMPARE(lettersOf(outcome.statuses), QStringLiteral("SD"));
        QCOMPARE(outcome.decoded, (QList<Triple>{{2153, 2000, 45}}));
    }
}

// The line pulled out and put back twenty times: each time the port is
// closed with its lock, reopened under the same name at the next tick, and
// nothing is left behind.
void TestLinkSoak::unplugReplugCycles() {
    TRY(startForm({"--fixed", "2153,2000,45", "--replug-after", "3600000"}));
    // Lock files this process holds (each names its holder on its first
    // line): other tests may run next to this one and take and drop their own.
    const auto ourLocks = [] {
        QStringList found;
        for (const QString& name : serialLockFiles()) {
            QFile lock(serialLockFolder() + QLatin1Char('/') + name);
            if (lock.open(QIODevice::ReadOnly) &&
                lock.readLine().trimmed() == QByteArray::number(QCoreApplication::applicationPid()))
                found << name;
        }
        return found;
    };
    const auto lockNow = [this] { return QFileInfo(serialLockFileFor(m_sim->link())).fileName(); };

    PollOutcome first;
    TRY(pollOnce(first));
    QCOMPARE(lettersOf(first.statuses), QStringLiteral("SD"));
    const int descriptors = openDescriptorCount();
    int descriptorsUnplugged = -1;
    QCOMPARE(ourLocks(), QStringList{lockNow()});
    QSignalSpy lost(&m_form->serialPort(), &SerialPortControl::deviceLost);

    for (int cycle = 1; cycle <= 20; ++cycle) {
        const QString at = QStringLiteral("cycle %1").arg(cycle);
        QVERIFY(m_sim->togglePlug());
        QVERIFY2(waitForLine(QStringLiteral("fault unplug signal")), qPrintable(at));
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), cycle, waitMs);
        QVERIFY(!Data::portConnected);
        QVERIFY(!m_form->serialPort().portOpen());
        QVERIFY2(ourLocks().isEmpty(), qPrintable(at));
        // The port's descriptor and its lock file's are closed; the count
        // without them is the same in every cycle.
        if (cycle == 1)
            descriptorsUnplugged = openDescriptorCount();
        QVERIFY(descriptorsUnplugged < descriptors);
        QCOMPARE(openDescriptorCount(), descriptorsUnplugged);

        PollOutcome out;
        m_clock = m_clock.addSecs(2);
        TRY(pollOnce(out));
        QVERIFY2(!out.requestSent, qPrintable(at));
        QCOMPARE(lettersOf(out.statuses), QStringLiteral("N"));

        QVERIFY(m_sim->togglePlug());
        QVERIFY2(waitForLine(QStringLiteral("replug ") + m_sim->link()), qPrintable(at));

        PollOutcome back;
        m_clock = m_clock.addSecs(2);
        TRY(pollOnce(back));
        QVERIFY2(back.requestSent, qPrintable(at));
        QCOMPARE(back.line.text, QStringLiteral("answer 2153 2000 45"));
        QCOMPARE(lettersOf(back.statuses), QStringLiteral("SD"));
        QCOMPARE(back.decoded, (QList<Triple>{{2153, 2000, 45}}));
        QCOMPARE(m_form->serialPort().deviceName(), m_sim->link());
        QCOMPARE(Data::comPortNum, int16_t(1));
        // The port holds the terminal the link names now (the kernel may
        // give the new one the old number), under that terminal's lock.
        QVERIFY2(descriptorOnDevice(m_sim->link()) >= 0, qPrintable(at));
        QCOMPARE(ourLocks(), QStringList{lockNow()});
        QCOMPARE(openDescriptorCount(), descriptors);
    }
}

void TestLinkSoak::secondInstance_data() {
    QTest::addColumn<bool>("firstHoldsPort");
    QTest::addColumn<QString>("secondSays");

    QTest::newRow("port held by the first")
        << true << "TK840 TK960 PC control|Erreur pendant l'ouverture du port 1\nconnected 0\n";
    QTest::newRow("port given up by the first") << false << "connected 1\n";
}

// A second program started in another folder whose conf.ini names the same
// port. As root, the terminal's exclusive mode does not keep a second open
// out; the port's lock file does.
void TestLinkSoak::secondInstance() {
    QFETCH(bool, firstHoldsPort);
    QFETCH(QString, secondSays);
    TRY(startForm({"--fixed", "2153,2000,45"}));
    PollOutcome first;
    TRY(pollOnce(first));
    QCOMPARE(lettersOf(first.statuses), QStringLiteral("SD"));
    if (firstHoldsPort) {
        // The lock names its holder.
        QFile lock(serialLockFileFor(m_sim->link()));
        QVERIFY(lock.open(QIODevice::ReadOnly));
        QCOMPARE(lock.readLine().trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
    } else {
        QVERIFY(m_form->serialPort().setPortOpen(false));
        QVERIFY(!QFile::exists(serialLockFileFor(m_sim->link())));
    }

    QTemporaryDir secondFolder;
    QVERIFY(secondFolder.isValid());
    {
        QFile conf(secondFolder.filePath(QStringLiteral("conf.ini")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[Ports]\r\n1=" + m_sim->link().toLocal8Bit() +
                   "\r\n[TK840 TK960 PC control]\r\nComPortNum=1\r\nComPortSpeed=19200\r\n");
    }
    QProcess second;
    second.setWorkingDirectory(secondFolder.path());
    second.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--second-instance")});
    // Waits on the process while the first keeps its event loop running.
    QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, waitMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(second.readAllStandardOutput()), secondSays);

    if (!firstHoldsPort)
        return;
    // The second one wrote nothing on the line: the next request lines are
    // the first's, and they are answered and decoded.
    QVERIFY(m_sim->takeNewLines().isEmpty());
    for (int poll = 0; poll < 3; ++poll) {
        PollOutcome outcome;
        m_clock = m_clock.addSecs(2);
        TRY(pollOnce(outcome));
        QCOMPARE(outcome.line.text, QStringLiteral("answer 2153 2000 45"));
        QCOMPARE(lettersOf(outcome.statuses), QStringLiteral("SD"));
        QCOMPARE(outcome.decoded, (QList<Triple>{{2153, 2000, 45}}));
    }
    QVERIFY(m_sim->takeNewLines().isEmpty());
}

// The controller falls silent for three polls (seed 21 draws answer, three
// drops, answer): the read-outs, the trace and the recording go to no data
// with the third unanswered poll, and come back with the next answer.
void TestLinkSoak::silentController() {
    TRY(startForm({"--fixed", "2153,2000,45", "--drop", "0.5", "--seed", "21"}));
    TRY(startRecording());
    QSignalSpy current(m_controller, &tklink::Controller::valuesCurrentChanged);
    const QStringList values{"215.3", "200"};
    const QStringList noData{"888.8", "888.8"};
    const QStringList expected[] = {values, values, values, noData, values};
    for (int poll = 0; poll < 5; ++poll) {
        m_clock = startTime.addSecs(2 * qint64(poll));
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        const bool answered = poll == 0 || poll == 4;
        QCOMPARE(outcome.line.text, answered ? QStringLiteral("answer 2153 2000 45")
                                             : QStringLiteral("fault drop read 1..3"));
        QCOMPARE(lettersOf(outcome.statuses),
                 answered ? QStringLiteral("SD") : QStringLiteral("SA"));
        const QStringList shown{box("meas_box")->text(), box("setp_box")->text()};
        QCOMPARE(shown, expected[poll]);
        const int slot = Data::historyIndex;
        TRY(traceTick());
        QCOMPARE(Data::measureHistory[slot] == Data::NO_DATA, shown == noData);
        QCOMPARE(Data::setpointHistory[slot] == Data::NO_DATA, shown == noData);
        // recordTick() checks that the record holds these.
        QCOMPARE(dataValues(), (shown == noData ? Triple{8888, 8888, 0} : Triple{2153, 2000, 45}));
        TRY(recordTick());
    }
    QCOMPARE(box("status_field")->text(), QStringLiteral("Data received from controler 22:50:08"));
    QCOMPARE(current, (QList<QList<QVariant>>{{true}, {false}, {true}})); // on changes only
    QVERIFY2(m_problems.isEmpty(), qPrintable(m_problems.join(QLatin1Char('\n'))));
}

// The second instance: the program's start-up in the working folder, with the
// start-up message printed instead of shown, then what it made of the port.
static int runSecondInstance(int argc, char** argv) {
    QApplication application(argc, argv);
    Data::resetAll();
    app::Form1Seams seams;
    // Ports named in conf.ini only: the platform's own port names would be
    // the machine's real serial ports.
    seams.deviceForPort = [](int n) {
        return settings::getProfileString(QStringLiteral("Ports"), QString::number(n), QString(),
                                          QStringLiteral("conf.ini"));
    };
    seams.showError = [](const QString& caption, const QString& text, const QString&) {
        std::printf("%s|%s\n", qPrintable(caption), qPrintable(text));
    };
    app::Form1 form(seams);
    std::printf("connected %d\n", Data::portConnected ? 1 : 0);
    std::fflush(stdout);
    form.close();
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && qstrcmp(argv[1], "--second-instance") == 0)
        return runSecondInstance(argc, argv);
    QApplication application(argc, argv);
    QTEST_DISABLE_KEYPAD_NAVIGATION
    TestLinkSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_link_soak.moc"
