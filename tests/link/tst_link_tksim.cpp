// The controller link against the real simulator: the program's own session
// (port control, open_port and poll cycle) polls a tksim process through its link in a
// temporary folder. tksim writes one log line per request once the last byte
// of its answer is on the line, so its log is the record of what was really
// sent, and the byte counts in it tell when the program has taken everything.

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "Bus.h"
#include "ControllerSession.h"
#include "Data.h"
#include "PollWatch.h"
#include "ProgramSeals.h"
#include "SerialPortControl.h"
#include "TksimLog.h"
#include "TksimProcess.h"

#include <array>
#include <map>
#include <memory>
#include <optional>

using tklink::SerialPortControl;

namespace {

// Every wait on the simulator or the port; far above what a loaded machine needs.
constexpr int waitMs = simWaitMs;

const QDateTime pollTime(QDate(2024, 5, 17), QTime(14, 3, 7));
const QString statusTimeText = QStringLiteral("14:03:07");
const QString sendStatus = QStringLiteral("Send request to controler 14:03:07");
const QString dataStatus = QStringLiteral("Data received from controler 14:03:07");
const QString notConnectedStatus = QStringLiteral("Not connected");

// The values of the protocol's own example answer 09 03 06 08 69 07 D0 00 2D.
const QStringList fixedExample{QStringLiteral("--fixed"), QStringLiteral("2153,2000,45")};
const Triple exampleValues{2153, 2000, 45};
// What Data holds before the first answer.
const Triple noValues{8888, 8888, 0};

Triple dataValues() {
    return {int(Data::measureRaw), int(Data::setpointRaw), int(Data::powerRaw)};
}

// tksim as this test reads it: the lines about requests one by one, and
// counts of lines by their start.
class Sim : public TksimProcess {
public:
    explicit Sim(const QStringList& options) : TksimProcess(QStringLiteral(TKSIM_PATH), options) {}

    // The next line about a request after the last one taken; line events on
    // the way are skipped (they stay in logLines()).
    std::optional<SimLine> nextRequestLine() {
        const bool found = QTest::qWaitFor(
            [this] {
                const QStringList& lines = logLines();
                while (m_cursor < lines.size() && isLineEvent(lines[m_cursor]))
                    ++m_cursor;
                return m_cursor < lines.size();
            },
            waitMs);
        if (!found)
            return std::nullopt;
        return parseSimLine(logLines()[m_cursor++]);
    }

    int count(const QString& prefix) {
        int n = 0;
        for (const QString& line : logLines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }
    bool waitForCount(const QString& prefix, int n) {
        return QTest::qWaitFor([&] { return count(prefix) >= n; }, waitMs);
    }

    // For failure messages.
    QString tail() {
        const QStringList& lines = logLines();
        return lines.mid(std::max<qsizetype>(0, lines.size() - 8)).join(QLatin1String(" | ")) +
               QLatin1String(" || stderr: ") +
               QString::fromLocal8Bit(process().readAllStandardError());
    }

private:
    qsizetype m_cursor = 0;
};

} // namespace

class TestLinkTksim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void fixedValuesAtEveryTick();
    void movingValuesAllSent();
    void singleFault_data();
    void singleFault();
    void allFaultsAtOnce();
    void unplugAndReplug_data();
    void unplugAndReplug();
    void busOfThree();
    void setpointWrites();

private:
    // Starts tksim with options and opens its link as the program does at
    // start-up (port 1, 19200 bit/s).
    void startLink(const QStringList& options);
    // One tick, then waits until the simulator has handled the request and
    // the program has taken every byte of the answer (or lost the port), and
    // ends the wait for an answer as the time-out would before the next tick.
    void pollOnce(PollOutcome& outcome);
    void checkCleanAnswer(const PollOutcome& outcome, const Triple& values);
    QString lettersOf(const PollOutcome& outcome, int exceptionCode) const {
        return statusLetters(outcome.statuses, statusTimeText, exceptionCode);
    }

    std::unique_ptr<Sim> m_sim;
    std::unique_ptr<tklink::ControllerSession> m_session;
    SerialPortControl* m_port = nullptr;
    QTimer* m_timer = nullptr;
    tklink::Bus* m_poll = nullptr;
    std::unique_ptr<PollWatch> m_watch;
    // Data after the last poll.
    Triple m_dataAfter{};
};

void TestLinkTksim::init() {
    QLocale::setDefault(QLocale::c());
    Data::resetAll();
    Data::measureRaw = Data::setpointRaw = Data::NO_DATA_RAW;
}

void TestLinkTksim::cleanup() {
    m_watch.reset();
    m_session.reset();
    if (m_sim && QTest::currentTestFailed())
        qWarning().noquote() << "tksim log:" << m_sim->tail();
    m_sim.reset();
}

void TestLinkTksim::startLink(const QStringList& options) {
    m_sim = std::make_unique<Sim>(options);
    QVERIFY2(m_sim->start(waitMs), qPrintable(m_sim->tail()));

    m_session = std::make_unique<tklink::ControllerSession>(
        [this](int n) { return n == 1 ? m_sim->link() : QString(); }, [] { return pollTime; },
        tklink::ControllerSession::Reconnect::AfterLoss);
    m_port = &m_session->port();
    m_poll = &m_session->bus();
    m_timer = m_session->findChild<QTimer*>(QStringLiteral("timerGetFromControler"));
    // pollOnce() ends each wait itself, so a slow machine cannot end one early.
    m_poll->findChild<QTimer*>(QStringLiteral("timerAnswerTimeout"))->setInterval(3600000);
    m_watch = std::make_unique<PollWatch>(m_session->shownController(), *m_port);

    Data::comPortNum = 1;
    Data::comPortSpeed = QStringLiteral("19200");
    m_session->openPort();
    QVERIFY(Data::portConnected);
}

void TestLinkTksim::pollOnce(PollOutcome& outcome) {
    TRY(::pollOnce(
        *m_watch, *m_poll, [this] { QMetaObject::invokeMethod(m_timer, "timeout"); },
        [this] { return m_sim->nextRequestLine(); }, outcome, waitMs));
    m_dataAfter = dataValues();
}

void TestLinkTksim::checkCleanAnswer(const PollOutcome& outcome, const Triple& values) {
    QVERIFY(outcome.requestSent);
    QCOMPARE(outcome.line.text, QStringLiteral("answer ") + tripleText(values));
    QCOMPARE(outcome.statuses, (QStringList{sendStatus, dataStatus}));
    QCOMPARE(outcome.decoded, QList<Triple>{values});
    QCOMPARE(outcome.readouts,
             (QList<QStringList>{{readoutText(values[0]), readoutText(values[1])}}));
    QCOMPARE(m_dataAfter, values);
    QCOMPARE(Data::rxCount, int16_t(0));
    // Without a bus, the one controller holds what Data holds.
    const tklink::Controller& single = m_session->shownController();
    QCOMPARE(single.values(),
             (tklink::ControllerValues{float(values[0]), float(values[1]), float(values[2])}));
    QVERIFY(single.valuesCurrent());
}

// The protocol's example values, at every tick. libmodbus logs "answer M S P"
// only for a function-3 read of registers 1 to 3 with a good CRC, so each line
// also shows that the request went out right.
void TestLinkTksim::fixedValuesAtEveryTick() {
    TRY(startLink(fixedExample));
    QCOMPARE(m_timer->interval(), 5000);
    for (int tick = 0; tick < 5; ++tick) {
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        TRY(checkCleanAnswer(outcome, exampleValues));
        QCOMPARE(outcome.readouts.at(0), (QStringList{"215.3", "200"}));
        QCOMPARE(m_timer->interval(), 2000);
    }
    QCOMPARE(m_sim->count(QString()), 5);
}

// The oven model moves the values; every decoded triple is the one the
// simulator logged for that very request.
void TestLinkTksim::movingValuesAllSent() {
    TRY(startLink({QStringLiteral("--speed"), QStringLiteral("30"), QStringLiteral("--seed"),
                   QStringLiteral("3")}));
    QSet<QString> seen;
    // The oven moves in real time: polls that end as soon as the answer is
    // in can outrun it, so the loop runs for a while rather than a count.
    for (const QDeadlineTimer deadline(30000); !deadline.hasExpired() && seen.size() < 4;) {
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        QVERIFY2(outcome.line.isAnswer(), qPrintable(outcome.line.text));
        TRY(checkCleanAnswer(outcome, outcome.line.values));
        seen.insert(tripleText(outcome.line.values));
    }
    QVERIFY2(seen.size() >= 4, "the oven model did not move");
}

void TestLinkTksim::singleFault_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("lineRe");   // the simulator's line for each faulty poll
    QTest::addColumn<QString>("statusRe"); // over statusLetters()
    QTest::addColumn<int>("exceptionCode");

    const QString answer = QStringLiteral("answer 2153 2000 45");
    QTest::newRow("drop") << QStringList{"--drop", "1"} << "^fault drop read 1\\.\\.3$"
                          << "^SA$" << 4;
    QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << "^fault crc " + answer + "$"
                             << "^SB$" << 4;
    QTest::newRow("bad address") << QStringList{"--bad-address", "1"}
                                 << "^fault address \\d+ " + answer + "$"
                                 << "^SB$" << 4;
    QTest::newRow("truncated") << QStringList{"--truncate", "1"}
                               << "^fault truncated \\d+/11 " + answer + "$"
                               << "^SB$" << 4;
    QTest::newRow("truncated, then random bytes")
        << QStringList{"--truncate", "1", "--extra", "1"}
        << "^fault truncated \\d+/11 " + answer + " extra=\\d$"
        << "^SB$" << 4;
    QTest::newRow("exception, default code 4")
        << QStringList{"--exception", "1"} << "^fault exception 4 read 1\\.\\.3$"
        << "^SE$" << 4;
    QTest::newRow("exception 2") << QStringList{"--exception", "1", "--exception-code", "2"}
                                 << "^fault exception 2 read 1\\.\\.3$"
                                 << "^SE$" << 2;
    QTest::newRow("noise before the answer")
        << QStringList{"--noise", "1"} << "^" + answer + " noise=\\d$"
        << "^SBD$" << 4;
    QTest::newRow("extra bytes after the answer")
        << QStringList{"--extra", "1"} << "^" + answer + " extra=\\d$"
        << "^SD$" << 4;
    QTest::newRow("slow, byte by byte") << QStringList{"--slow", "1"} << "^" + answer + " slow$"
                                        << "^SD$" << 4;
    QTest::newRow("noise, extra and slow together")
        << QStringList{"--noise", "1", "--extra", "1", "--slow", "1", "--byte-delay", "10"}
        << "^" + answer + " noise=\\d extra=\\d slow$"
        << "^SBD$" << 4;
}

// Three faulty polls, then a clean one. The first poll is faulty, so Data
// still holds the no-value marker: a decoded bad frame would show at once,
// even though it carries the same register values.
void TestLinkTksim::singleFault() {
    QFETCH(QStringList, options);
    QFETCH(QString, lineRe);
    QFETCH(QString, statusRe);
    QFETCH(int, exceptionCode);
    constexpr int faults = 3;
    TRY(startLink(fixedExample + options +
                  QStringList{QStringLiteral("--max-faults"), QString::number(faults),
                              QStringLiteral("--seed"), QStringLiteral("5")}));

    Triple before = noValues;
    for (int poll = 0; poll < faults; ++poll) {
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        QVERIFY(outcome.requestSent);
        QVERIFY2(QRegularExpression(lineRe).match(outcome.line.text).hasMatch(),
                 qPrintable(outcome.line.text));
        const QString letters = lettersOf(outcome, exceptionCode);
        QVERIFY2(QRegularExpression(statusRe).match(letters).hasMatch(),
                 qPrintable(letters + QLatin1Char(' ') + outcome.statuses.join(" | ")));
        if (outcome.line.isAnswer()) {
            QCOMPARE(outcome.decoded, QList<Triple>{exampleValues});
            QCOMPARE(outcome.readouts.at(0), (QStringList{"215.3", "200"}));
            before = exampleValues;
        } else {
            QCOMPARE(outcome.decoded, QList<Triple>{});
        }
        QCOMPARE(m_dataAfter, before);
        if (outcome.line.kind == SimLine::Kind::Truncated)
            QCOMPARE(Data::rxCount, int16_t(0)); // dropped at the time-out
        // Bytes 10 to 20 ms apart come in several receive events even on a
        // busy machine, so the answer is put together across events.
        if (outcome.line.slow)
            QVERIFY2(outcome.commEvents > 1, qPrintable(QString::number(outcome.commEvents)));
    }

    PollOutcome clean;
    TRY(pollOnce(clean));
    TRY(checkCleanAnswer(clean, exampleValues));
    QCOMPARE(clean.readouts.at(0), (QStringList{"215.3", "200"}));
}

// Every fault at moderate rates, with the oven moving, over a few hundred
// polls. Each poll is checked against its own log line: only a clean answer
// changes the values, and to exactly what it held.
void TestLinkTksim::allFaultsAtOnce() {
    constexpr int polls = 300;
    TRY(startLink({"--speed",        "30",   "--seed",       "11",   "--drop",    "0.05",
                   "--exception",    "0.05", "--truncate",   "0.06", "--bad-crc", "0.06",
                   "--bad-address",  "0.06", "--noise",      "0.12", "--extra",   "0.12",
                   "--slow",         "0.06", "--byte-delay", "2",    "--unplug",  "0.015",
                   "--replug-after", "300"}));

    std::map<SimLine::Kind, int> kinds;
    int noisy = 0;
    int padded = 0;
    int slow = 0;
    int decoded = 0;
    int wrong = 0;
    int notConnectedTicks = 0;
    int unplugs = 0;
    QSet<QString> sent;          // triples of clean answers
    QSet<QString> inBadFrames;   // triples of frames that were not to be taken
    QSet<QString> decodedValues; // every triple Data held after a decode
    QStringList problems;
    Triple held = noValues;
    int missed = 0; // polls in a row without a valid answer

    int requests = 0;
    for (int tick = 0; requests < polls && tick < 2 * polls; ++tick) {
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        if (!outcome.requestSent) {
            // Unplugged: the next tick may only come once the line is back.
            ++notConnectedTicks;
            QCOMPARE(outcome.statuses, QStringList{notConnectedStatus});
            QVERIFY2(m_sim->waitForCount(QStringLiteral("replug "), unplugs), "no replug");
            continue;
        }
        ++requests;
        const SimLine& line = outcome.line;
        ++kinds[line.kind];
        noisy += line.noise > 0 ? 1 : 0;
        padded += line.extra > 0 ? 1 : 0;
        slow += line.slow ? 1 : 0;
        unplugs += line.kind == SimLine::Kind::Unplug ? 1 : 0;
        if (line.isAnswer())
            sent.insert(tripleText(line.values));
        else if (line.holdsValues())
            inBadFrames.insert(tripleText(line.values));

        const QString letters = lettersOf(outcome, 4);
        if (!QRegularExpression(QLatin1Char('^') + expectedStatuses(line) + QLatin1Char('$'))
                 .match(letters)
                 .hasMatch())
            problems << QStringLiteral("poll %1 \"%2\": statuses %3")
                            .arg(requests)
                            .arg(line.text, letters);

        for (const Triple& t : std::as_const(outcome.decoded)) {
            ++decoded;
            decodedValues.insert(tripleText(t));
            if (!line.isAnswer() || t != line.values) {
                ++wrong;
                problems << QStringLiteral("poll %1 \"%2\": decoded %3")
                                .arg(requests)
                                .arg(line.text, tripleText(t));
            }
        }
        if (line.isAnswer()) {
            if (outcome.decoded.size() != 1)
                problems << QStringLiteral("poll %1 \"%2\": %3 decodes")
                                .arg(requests)
                                .arg(line.text)
                                .arg(outcome.decoded.size());
            held = line.values;
            missed = 0;
        } else if (line.kind == SimLine::Kind::Unplug || ++missed >= 3) {
            held = noValues; // stale: never passed off as current
        }
        if (m_dataAfter != held)
            problems << QStringLiteral("poll %1 \"%2\": Data holds %3")
                            .arg(requests)
                            .arg(line.text, tripleText(m_dataAfter));
    }

    // Values in corrupted frames only, never in a clean answer: none may
    // have been decoded. The oven steps every 200 ms and a poll takes a few,
    // so a corrupted frame nearly always shares its values with a clean
    // answer; the check per poll above (a faulty poll decodes nothing at all)
    // is the one that bites.
    const QSet<QString> onlyInBadFrames = inBadFrames - sent;
    const QSet<QString> decodedFromBadFrames = decodedValues & onlyInBadFrames;
    const QSet<QString> decodedNotSent = decodedValues - sent;

    qInfo().noquote() << QStringLiteral(
                             "%1 polls: %2 clean answers, %3 drop, %4 exception, %5 truncated, "
                             "%6 bad CRC, %7 bad address, %8 unplug; %9 with noise, %10 with "
                             "extra bytes, %11 slow; %12 ticks not connected")
                             .arg(requests)
                             .arg(kinds[SimLine::Kind::Answer])
                             .arg(kinds[SimLine::Kind::Drop])
                             .arg(kinds[SimLine::Kind::Exception])
                             .arg(kinds[SimLine::Kind::Truncated])
                             .arg(kinds[SimLine::Kind::BadCrc])
                             .arg(kinds[SimLine::Kind::BadAddress])
                             .arg(kinds[SimLine::Kind::Unplug])
                             .arg(noisy)
                             .arg(padded)
                             .arg(slow)
                             .arg(notConnectedTicks);
    qInfo().noquote() << QStringLiteral("%1 values decoded, %2 wrong; %3 distinct values sent, %4 "
                                        "only in corrupted frames, %5 of them decoded")
                             .arg(decoded)
                             .arg(wrong)
                             .arg(sent.size())
                             .arg(onlyInBadFrames.size())
                             .arg(decodedFromBadFrames.size());

    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(QLatin1Char('\n'))));
    QCOMPARE(wrong, 0);
    QVERIFY(decodedFromBadFrames.isEmpty());
    QVERIFY(decodedNotSent.isEmpty());
    QCOMPARE(requests, polls);
    // Every fault really happened in this run, or the checks above prove less.
    for (const SimLine::Kind kind :
         {SimLine::Kind::Answer, SimLine::Kind::Drop, SimLine::Kind::Exception,
          SimLine::Kind::Truncated, SimLine::Kind::BadCrc, SimLine::Kind::BadAddress,
          SimLine::Kind::Unplug})
        QVERIFY2(kinds[kind] > 0, qPrintable(QString::number(int(kind))));
    QVERIFY(noisy > 0 && padded > 0 && slow > 0);
    QCOMPARE(decoded, kinds[SimLine::Kind::Answer]);
}

void TestLinkTksim::unplugAndReplug_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("timed");

    // The replug delay leaves ample room for the two ticks while unplugged.
    QTest::newRow("timed unplug after a good poll")
        << QStringList{"--unplug-after", "1", "--replug-after", "2000"} << true;
    QTest::newRow("unplug instead of the first answer")
        << QStringList{"--unplug", "1", "--max-faults", "1", "--replug-after", "2000"} << false;
}

void TestLinkTksim::unplugAndReplug() {
    QFETCH(QStringList, options);
    QFETCH(bool, timed);
    TRY(startLink(fixedExample + options));
    QSignalSpy lost(m_port, &SerialPortControl::deviceLost);

    PollOutcome first;
    TRY(pollOnce(first));
    if (timed) {
        TRY(checkCleanAnswer(first, exampleValues));
        QVERIFY(m_sim->waitForCount(QStringLiteral("fault unplug timed"), 1));
    } else {
        QCOMPARE(first.line.text, QStringLiteral("fault unplug read 1..3"));
        QCOMPARE(first.statuses, QStringList{sendStatus});
    }
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, waitMs);
    QVERIFY(!Data::portConnected);
    QVERIFY(!m_port->portOpen());
    QVERIFY(!QFileInfo::exists(m_sim->link()));

    for (int tick = 0; tick < 2; ++tick) {
        QCOMPARE(m_sim->count(QStringLiteral("replug ")), 0); // still unplugged
        PollOutcome outcome;
        TRY(pollOnce(outcome));
        QVERIFY(!outcome.requestSent);
        QCOMPARE(outcome.statuses, QStringList{notConnectedStatus});
        QCOMPARE(m_timer->interval(), 2000);
    }
    const int linesWhileUnplugged = m_sim->count(QString());

    QVERIFY(m_sim->waitForCount(QStringLiteral("replug ") + m_sim->link(), 1));
    // No request went out while unplugged: the only new line is the replug.
    QCOMPARE(m_sim->count(QString()), linesWhileUnplugged + 1);
    // The poll cycle reopens the port by itself, at the first tick after
    // the line is back, and the read-outs show values again.
    PollOutcome back;
    TRY(pollOnce(back));
    QVERIFY(Data::portConnected);
    TRY(checkCleanAnswer(back, exampleValues));
    QCOMPARE(back.readouts.at(0), (QStringList{"215.3", "200"}));
    QCOMPARE(lost.count(), 1);
}

// Three controllers on one line, the second silent and the third answering
// some requests from another address: each keeps its own values, the wrong
// slave's answers are never taken, and Data is left alone.
void TestLinkTksim::busOfThree() {
    m_sim = std::make_unique<Sim>(QStringList{"--address", "9,10,11", "--setpoint", "200,150,180",
                                              "--silent", "10", "--bad-address", "0.3",
                                              "--fault-address", "11", "--seed", "5"});
    QVERIFY2(m_sim->start(waitMs), qPrintable(m_sim->tail()));
    m_session = std::make_unique<tklink::ControllerSession>(
        [this](int n) { return n == 1 ? m_sim->link() : QString(); }, [] { return pollTime; },
        tklink::ControllerSession::Reconnect::BeforeEveryPoll);
    tklink::BusTiming timing;
    // Ten times the pace of a plant's bus, with room for a loaded machine.
    timing.pollIntervalMs = 200;
    timing.answerTimeoutMs = 100;
    m_session->setBus({{"a", 9}, {"b", 10}, {"c", 11}}, timing);
    const QList<tklink::Controller*> bus = m_session->controllers();
    QCOMPARE(bus.size(), 3);
    QList<float> setpointsOfC;
    connect(bus[2], &tklink::Controller::answered, this,
            [&] { setpointsOfC << bus[2]->values().setpointRaw; });
    Data::comPortNum = 1;
    Data::comPortSpeed = QStringLiteral("19200");
    m_session->openPort();
    m_session->start(0, 3600000);
    const auto count = [&](int c, tklink::PollResult r) { return bus[c]->pollCount(r); };
    // Stopped between two exchanges, so that tksim's log and the counts
    // cover the same requests.
    bool stopped = false;
    connect(bus[0], &tklink::Controller::pollEnded, this, [&] {
        if (!stopped && count(2, tklink::PollResult::BadAnswer) >= 2 &&
            count(2, tklink::PollResult::Ok) >= 5 && count(1, tklink::PollResult::NoAnswer) >= 3) {
            m_session->stop();
            stopped = true;
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(stopped, waitMs);

    QVERIFY(bus[0]->valuesCurrent());
    QCOMPARE(bus[0]->values().setpointRaw, 2000.0f);
    QVERIFY2(bus[0]->values().measureRaw > 150 && bus[0]->values().measureRaw < 300,
             qPrintable(QString::number(bus[0]->values().measureRaw)));
    QVERIFY(!bus[1]->valuesCurrent());
    QCOMPARE(bus[1]->values(), (tklink::ControllerValues{8888, 8888, 0}));
    QCOMPARE(count(1, tklink::PollResult::Ok), 0);
    QCOMPARE(setpointsOfC, QList<float>(setpointsOfC.size(), 1800.0f));
    // Every answer from another address, and only those, was refused.
    QCOMPARE(count(2, tklink::PollResult::BadAnswer),
             m_sim->count(QStringLiteral("@11 fault address")));
    QCOMPARE(count(0, tklink::PollResult::BadAnswer), 0);
    QCOMPARE(m_sim->count(QStringLiteral("@10 silent")), count(1, tklink::PollResult::NoAnswer));
    QCOMPARE(dataValues(), noValues);
}

// One write taken and read back, one refused, each once on the line and
// once in the audit trail, as the window does it.
void TestLinkTksim::setpointWrites() {
    m_sim = std::make_unique<Sim>(
        QStringList{"--address", "9,10", "--setpoint", "200,150", "--refuse-writes", "3@10"});
    QVERIFY2(m_sim->start(waitMs), qPrintable(m_sim->tail()));
    QTemporaryDir folder;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
    auto seals = std::make_unique<sealing::ProgramSeals>(QString(), QStringLiteral("tkcontrol"),
                                                         QStringLiteral("1.02"));
    m_session = std::make_unique<tklink::ControllerSession>(
        [this](int n) { return n == 1 ? m_sim->link() : QString(); }, [] { return pollTime; },
        tklink::ControllerSession::Reconnect::BeforeEveryPoll);
    tklink::BusTiming timing;
    timing.pollIntervalMs = 200;
    timing.answerTimeoutMs = 100;
    m_session->setBus({{"a", 9}, {"b", 10}}, timing);
    tklink::SetpointWriter& writer = m_session->setpointWriter();
    connect(&writer, &tklink::SetpointWriter::auditLine, this,
            [&](const QString& line) { seals->event(line); });
    int finished = 0;
    connect(&writer, &tklink::SetpointWriter::finished, this, [&] { ++finished; });
    Data::comPortNum = 1;
    Data::comPortSpeed = QStringLiteral("19200");
    m_session->openPort();
    m_session->start(0, 3600000);
    const QList<tklink::Controller*> bus = m_session->controllers();
    QTRY_VERIFY_WITH_TIMEOUT(bus[0]->answering() && bus[1]->answering(), waitMs);

    QCOMPARE(writer.write(*bus[0], 1500, QStringLiteral("door \"A\" fixed\n")), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, waitMs);
    QCOMPARE(bus[0]->values().setpointRaw, 1500.0f);
    QCOMPARE(writer.write(*bus[1], 2500, QString()), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished, 2, waitMs);
    QCOMPARE(writer.write(*bus[0], 1500, QString()),
             QStringLiteral("the setpoint is 150.0 °C already: nothing written"));
    // Taken, but the deadline comes before the next poll's answer.
    writer.setReadBackTimeout(0);
    QCOMPARE(writer.write(*bus[0], 1600, QString()), QString());
    QTRY_COMPARE_WITH_TIMEOUT(finished, 3, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(bus[0]->values().setpointRaw, 1600.0f, waitMs);
    // Asked for, then the port lent to the search: not sent once it is back.
    QCOMPARE(writer.write(*bus[0], 1700, QString()), QString());
    m_session->releasePort();
    QCOMPARE(finished, 4);
    QSignalSpy answers(bus[0], &tklink::Controller::answered);
    QTRY_VERIFY_WITH_TIMEOUT(answers.size() >= 2, waitMs);
    m_session->stop();
    seals.reset();

    QFile trail(QStringLiteral("audit.log"));
    QVERIFY(trail.open(QIODevice::ReadOnly));
    QStringList writes;
    for (const QByteArray& line : trail.readAll().split('\n')) {
        const auto entry = sealing::parseTrailLine(line);
        if (entry && entry->event.contains(QLatin1String("setpoint write")))
            writes << entry->event;
    }
    QCOMPARE(
        writes,
        (QStringList{QStringLiteral("a: setpoint write: 200.0 → 150.0 °C, reason \"door \\\"A\\\" "
                                    "fixed \": accepted"),
                     QStringLiteral("b: setpoint write: 150.0 → 250.0 °C: refused: value refused"),
                     QStringLiteral("a: setpoint write: 150.0 → 160.0 °C: not read back: the "
                                    "controller did not answer in time"),
                     QStringLiteral("a: setpoint write: 160.0 → 170.0 °C: not sent: the port was "
                                    "lent to the controller search")}));
    QCOMPARE(m_sim->count(QStringLiteral("@9 write 2=1500")), 1);
    QCOMPARE(m_sim->count(QStringLiteral("@9 write 2=1600")), 1);
    QCOMPARE(m_sim->count(QStringLiteral("@9 write 2=1700")), 0);
    QCOMPARE(m_sim->count(QStringLiteral("@10 exception 3 write 2=2500")), 1);
    QCOMPARE(m_sim->count(QStringLiteral("@10 write")), 0);
}

QTEST_GUILESS_MAIN(TestLinkTksim)
#include "tst_link_tksim.moc"
