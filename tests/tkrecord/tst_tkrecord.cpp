// tkrecord as it runs: the real program against tksim with faults on, and its
// parts in this process where a seam is needed (the clock for midnight, the
// poll's timing while hostile clients pound the metrics port).

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

#include <sys/resource.h>
#include <sys/stat.h>

#include "AddressSanitizer.h"
#include "AuditTrail.h"
#include "Data.h"
#include "HttpExchange.h"
#include "MetricsServer.h"
#include "ProcessProbe.h"
#include "ProgramSeals.h"
#include "ProgramState.h"
#include "ProtocolClient.h"
#include "Pty.h"
#include "RecordService.h"
#include "RecorderClient.h"
#include "RegularFile.h"
#include "SealText.h"
#include "Ser2net.h"
#include "TksimProcess.h"
#include "TrailCheck.h"
#include "Verification.h"

using namespace tkrecord;

namespace {

constexpr int waitMs = 20000;
constexpr qint64 floodLimit = qint64(64) * 1024 * 1024;
const QString noValues = QStringLiteral("8888;8888;0");

void writeConf(const QString& dir, const QString& device, const QString& more = QString()) {
    QFile conf(dir + QStringLiteral("/conf.ini"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Ports]\n1=%1\n[TK840 TK960 PC control]\nComPortNum=1\n"
                              "interv_record=1\n%2")
                   .arg(device, more)
                   .toUtf8());
}

// The records of a file: "S;M;P" per line after the header.
QStringList recordValues(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList values;
    static const QRegularExpression record(QStringLiteral("^\"[^\"]+\";(-?\\d+;-?\\d+;-?\\d+);$"));
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.last().isEmpty()) // what follows the last line end; a cut line stays
        lines.removeLast();
    for (const QByteArray& line : lines.mid(1)) {
        const QRegularExpressionMatch m = record.match(QString::fromUtf8(line.chopped(1)));
        values << (m.hasMatch() ? m.captured(1) : QStringLiteral("<") + line + QLatin1Char('>'));
    }
    return values;
}

// The events of dir's audit.log, the sixth field on.
QStringList trailEvents(const QString& dir) {
    QFile audit(dir + QStringLiteral("/audit.log"));
    QStringList events;
    if (audit.open(QIODevice::ReadOnly))
        for (const QByteArray& line : audit.readAll().trimmed().split('\n'))
            events << QString::fromUtf8(line.trimmed()).section(QLatin1Char(';'), 5);
    return events;
}

// The recordings of dir, in name order (their start's).
QStringList recordingFiles(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("REC_*.csv")}, QDir::Files, QDir::Name);
}

// Puts copy in the place of path in one step, as a copy put back would be.
bool putBack(const QString& copy, const QString& path) {
    return ::rename(QFile::encodeName(copy).constData(), QFile::encodeName(path).constData()) == 0;
}

// tkview --verify with arguments: its exit status and what it printed.
std::pair<int, QStringList> viewerVerdict(const QStringList& arguments) {
    QProcess tkview;
    tkview.start(QStringLiteral(TKVIEW_PATH), QStringList{QStringLiteral("--verify")} + arguments);
    if (!tkview.waitForFinished(waitMs))
        return {-1, {}};
    return {tkview.exitCode(), QString::fromUtf8(tkview.readAllStandardOutput()).split('\n')};
}

// The first of lines that begins with start, or an empty text.
QString lineStartingWith(const QStringList& lines, const QString& start) {
    for (const QString& line : lines) {
        if (line.startsWith(start))
            return line;
    }
    return {};
}

// Reads until the server closes or timeoutMs passes; what came.
QByteArray readToClose(QTcpSocket& socket, int timeoutMs) {
    QByteArray got;
    while (socket.waitForReadyRead(timeoutMs))
        got += socket.readAll();
    got += socket.readAll();
    return socket.state() == QAbstractSocket::UnconnectedState ? got : got + "<open>";
}

} // namespace

class TestTkrecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void refusedStart_data();
    void refusedStart();
    void recordsWhatTheControllerSent();
    void keepsRecordingUnderNohupWithItsReaderGone();
    void newFileAtMidnight();
    void sealedAcrossAKill();
    void startsPastCraftedFiles();
    void leavesFilesChangedWhileRunning();
    void findsACutBackCopyAfterAKill();
    void saysAFullDiskOncePerEpisode();
    void hostileClients();
    void probeFindsTheController_data();
    void probeFindsTheController();
    void alarmAcrossTheHighLimit();
    void recordsABusOfThree();
    void runAndMarkThroughTheRecorder();
    void clientsOnTheRecorder();
    void clientAttachesAgainAfterARestart();
    void endsWhenItsFolderIsRemoved_data();
    void endsWhenItsFolderIsRemoved();

private:
    std::optional<ProgramState> m_dir;
    QStringList m_said;
};

void TestTkrecord::init() {
    m_said.clear();
    m_dir.reset();
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    // The key apart from the recordings, as the service keeps it.
    qputenv("TKRECORD_KEY", QFile::encodeName(m_dir->filePath(QStringLiteral("keys/seal.key"))));
}

void TestTkrecord::refusedStart_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("firstLine"); // of stderr, or of stdout when status is 0
    QTest::addColumn<QString>("folder");    // what is in the folder besides a good conf.ini

    QTest::newRow("help")
        << QStringList{"--help"} << 0
        << "Usage: tkrecord [--dir DIR] [--key FILE|--no-seal] [--metrics HOST:PORT]"
        << "";
    QTest::newRow("bad option") << QStringList{"--dri", "x"} << 2
                                << "tkrecord: unknown option \"--dri\""
                                << "";
    QTest::newRow("missing folder") << QStringList{"--dir", "/nonexistent/oven"} << 1
                                    << "tkrecord: folder /nonexistent/oven does not exist"
                                    << "";
    // Not writable even for root.
    QTest::newRow("unwritable folder")
        << QStringList{"--dir", "/proc"} << 1 << "tkrecord: cannot write in folder /proc: "
        << "";
    QTest::newRow("metrics port taken") << QStringList{"--metrics", "127.0.0.1:%1"} << 1
                                        << "tkrecord: cannot serve metrics on 127.0.0.1:%1: "
                                        << "";
    const QString cannotRead = QStringLiteral("tkrecord: cannot read the settings: %2/conf.ini: ");
    QTest::newRow("conf.ini a folder") << QStringList() << 1 << cannotRead + "a folder, not a file"
                                       << "conf folder";
    // Read, it would block the start for ever.
    QTest::newRow("conf.ini a fifo") << QStringList() << 1 << cannotRead + "not a regular file"
                                     << "conf fifo";
    QTest::newRow("conf.ini of 1 MiB and a byte")
        << QStringList() << 1
        << cannotRead + "larger than 1 MiB (1048577 bytes), not a settings file"
        << "conf huge";
    QTest::newRow("folder held by another recorder")
        << QStringList() << 1
        << QStringLiteral("tkrecord: this folder is being recorded by tst_tkrecord (PID %1, "
                          "lock file %2/.recording.lock)")
               .arg(QCoreApplication::applicationPid())
        << "held";
    QTest::newRow("key open to others")
        << QStringList() << 1
        << "tkrecord: cannot seal: %2/keys/seal.key has mode 0644, open to others; it must be "
           "0600: refused (--no-seal records without seals)"
        << "key 0644";
    QTest::newRow("bad controller line")
        << QStringList() << 1
        << "tkrecord: [Controllers] line 8 \"oven 1=9\": a name is 1 to 32 letters, digits, "
           "\"-\" or \"_\""
        << "conf bad controller";
    QTest::newRow("mark where no recorder runs")
        << QStringList{"--mark", "Load in"} << 1 << "tkrecord: no recorder runs in %2"
        << "no recorder";
    QTest::newRow("alarm limit that cannot be one")
        << QStringList() << 1 << "tkrecord: conf.ini line 7: HighLimit \"abc\" is not a number"
        << "alarm abc";
}

void TestTkrecord::refusedStart() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, firstLine);
    QFETCH(QString, folder);

    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    arguments.replaceInStrings(QStringLiteral("%1"), QString::number(taken.serverPort()));
    firstLine.replace(QStringLiteral("%1"), QString::number(taken.serverPort()));
    firstLine.replace(QStringLiteral("%2"), m_dir->path());
    writeConf(m_dir->path(), QStringLiteral("/nonexistent/tty"));
    const QString conf = m_dir->filePath(QStringLiteral("conf.ini"));
    QLockFile lock(m_dir->filePath(QStringLiteral(".recording.lock")));
    if (folder == QLatin1String("conf bad controller"))
        writeConf(m_dir->path(), QStringLiteral("/nonexistent/tty"),
                  QStringLiteral("[Controllers]\noven1=10\noven 1=9\n"));
    else if (folder.startsWith(QLatin1String("conf ")))
        QVERIFY(QFile::remove(conf));
    if (folder == QLatin1String("conf folder"))
        QVERIFY(QDir().mkdir(conf));
    if (folder == QLatin1String("conf fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(conf).constData(), 0644), 0);
    if (folder == QLatin1String("conf huge"))
        QVERIFY(QFile(conf).open(QIODevice::WriteOnly) && QFile::resize(conf, 1024 * 1024 + 1));
    if (folder == QLatin1String("held"))
        QVERIFY(lock.tryLock(0));
    if (folder == QLatin1String("key 0644")) {
        const QString key = qEnvironmentVariable("TKRECORD_KEY");
        QVERIFY(sealing::loadOrCreateKey(key));
        QVERIFY(QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }

    if (folder.startsWith(QLatin1String("alarm ")))
        writeConf(m_dir->path(), QStringLiteral("/nonexistent/tty"),
                  QStringLiteral("[Alarms]\nHighLimit=") + folder.mid(6));
    if (!folder.isEmpty())
        arguments << QStringLiteral("--dir") << m_dir->path();
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), arguments);
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tkrecord.exitCode(), status);
    const QByteArray out =
        status == 0 ? tkrecord.readAllStandardOutput() : tkrecord.readAllStandardError();
    QVERIFY2(out.startsWith(firstLine.toUtf8()), out.constData());
    // Nothing recorded, and no line written to a trail that may be sealed.
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("REC_*"), QStringLiteral("audit*")}),
             QStringList());
}

void TestTkrecord::recordsWhatTheControllerSent() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--speed",    "10",   "--drop",         "0.05", "--exception",   "0.05",
                      "--truncate", "0.05", "--bad-crc",      "0.05", "--bad-address", "0.05",
                      "--noise",    "0.1",  "--extra",        "0.1",  "--slow",        "0.05",
                      "--unplug",   "0.02", "--replug-after", "500"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), m_dir->path()});
    QVERIFY(tkrecord.waitForStarted(waitMs));
    const auto records = [&] {
        const QStringList files = QDir(m_dir->path()).entryList({QStringLiteral("REC_*.csv")});
        return files.size() == 1 ? recordValues(m_dir->filePath(files[0])) : QStringList();
    };
    // Values, then the controller silent (stopped, its line still there),
    // then answering again.
    QTRY_VERIFY_WITH_TIMEOUT(records().size() >= 3 && records().last() != noValues, waitMs);
    QCOMPARE(::kill(pid_t(sim.process().processId()), SIGSTOP), 0);
    const qsizetype silentFrom = records().size();
    QTRY_VERIFY_WITH_TIMEOUT(records().mid(silentFrom).contains(noValues), waitMs);
    QCOMPARE(::kill(pid_t(sim.process().processId()), SIGCONT), 0);
    const qsizetype backFrom = records().size();
    QTRY_VERIFY_WITH_TIMEOUT(records().size() > backFrom && records().last() != noValues, waitMs);

    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tkrecord.exitCode(), 0);
    const QString said = QString::fromUtf8(tkrecord.readAllStandardOutput());
    for (const char* line : {"answers from the controller\n",
                             "no answer from the controller for 3 polls; values stale\n",
                             "answers back\n", "stopped\n"})
        QVERIFY2(said.contains(QLatin1String(line)), qPrintable(said));

    QSet<QString> sent{noValues};
    for (const QString& line : sim.logLines()) {
        if (line.startsWith(QLatin1String("answer "))) {
            const QStringList v = line.split(QLatin1Char(' '));
            sent << v[2] + QLatin1Char(';') + v[1] + QLatin1Char(';') + v[3];
        }
    }
    // Every line whole (the last one too) and every value one that was sent.
    const QStringList written = records();
    QVERIFY(written.size() >= 6);
    for (const QString& r : written)
        QVERIFY2(sent.contains(r), qPrintable(r));
}

// As an operator starts it by hand: nohup, its lines piped into a reader
// that leaves after two. The hang-up is ignored, and the port's loss is said
// into a pipe without a reader: the records go on.
void TestTkrecord::keepsRecordingUnderNohupWithItsReaderGone() {
    const QString link = m_dir->filePath(QStringLiteral("adapter"));
    writeConf(m_dir->path(), link);
    QProcess shell;
    shell.start(QStringLiteral("sh"),
                {"-c", R"(nohup "$0" --dir "$1" 2>/dev/null | { head -n 2; echo head-done; })",
                 QStringLiteral(TKRECORD_PATH), m_dir->path()});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += shell.readAllStandardOutput()).endsWith("head-done\n"),
                             waitMs);
    QCOMPARE(out.count('\n'), 3);
    QVERIFY2(out.split('\n')[1].contains(" recording in REC_"), out.constData());
    qint64 pid = 0;
    QLockFile lock(m_dir->filePath(QStringLiteral(".recording.lock")));
    QVERIFY(lock.getLockInfo(&pid, nullptr, nullptr) && pid > 0);
    // Only now: a child would inherit its controlling side and keep it from hanging up.
    Pty pty;
    QVERIFY(pty.isValid() && QFile::link(pty.path(), link));
    const QString serialLock = serialLockFileFor(pty.path());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(serialLock), waitMs);
    const auto records = [&] {
        const QStringList files = QDir(m_dir->path()).entryList({QStringLiteral("REC_*.csv")});
        return files.size() == 1 ? recordValues(m_dir->filePath(files[0])).size() : -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(records() >= 1, waitMs);

    QCOMPARE(::kill(pid_t(pid), SIGHUP), 0);
    QFile::remove(link);
    pty.hangUp(); // "port lost", into the pipe head has left
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(serialLock), waitMs);
    const qsizetype from = records();
    QTRY_VERIFY_WITH_TIMEOUT(records() >= from + 2, waitMs);
    QCOMPARE(::kill(pid_t(pid), SIGTERM), 0);
    QVERIFY(shell.waitForFinished(waitMs));
}

void TestTkrecord::newFileAtMidnight() {
    writeConf(m_dir->path(), m_dir->filePath(QStringLiteral("absent-tty")));
    const QDate today = QDate::currentDate();
    const qint64 offsetMs =
        QDateTime::currentDateTime().msecsTo(QDateTime(today, QTime(23, 59, 58, 600)));
    RecordService service([offsetMs] { return QDateTime::currentDateTime().addMSecs(offsetMs); },
                          [this](const QString& line) { m_said << line; });
    service.setRun({"L-9", {}, {}, "carol", {}});
    service.start();
    const QString day2 = QStringLiteral("REC_") + today.addDays(1).toString(Qt::ISODate);
    const auto second = [&] {
        return QDir(m_dir->path()).entryList({day2 + QStringLiteral("_00-00-0*.csv")});
    };
    QTRY_VERIFY_WITH_TIMEOUT(
        second().size() == 1 && !recordValues(m_dir->filePath(second()[0])).isEmpty(), waitMs);
    service.stop();

    const QString first = QStringLiteral("REC_%1_23-59-58.csv").arg(today.toString(Qt::ISODate));
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("REC_*.csv")}),
             QStringList({first, second()[0]}));
    for (const QString& name : {first, second()[0]}) {
        QFile file(m_dir->filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), QByteArray("Time;Setpoint;Temperature;Power;\r\n"));
        const QStringList values = recordValues(file.fileName());
        QCOMPARE(QSet<QString>(values.begin(), values.end()), QSet<QString>{noValues});
    }
    QCOMPARE(m_said.filter(QStringLiteral("recording in ") + second()[0]).size(), 1);
    // The day's new file is the same run's.
    const QStringList trail = trailEvents(m_dir->path());
    QCOMPARE(trail.value(trail.indexOf("recording started: " + second()[0]) + 1),
             QStringLiteral("run: %1; batch \"L-9\"; operator \"carol\"").arg(second()[0]));
    QCOMPARE(QFile::permissions(m_dir->filePath(first)) & QFileDevice::WriteOwner,
             QFileDevice::Permissions());
}

void TestTkrecord::sealedAcrossAKill() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    const QStringList run{QStringLiteral("--dir"), m_dir->path()};
    const auto file = [&](int i) {
        const QStringList files = QDir(m_dir->path()).entryList({QStringLiteral("REC_*.csv")});
        return m_dir->filePath(files.size() > i ? files[i] : QStringLiteral("none yet"));
    };
    QProcess killed;
    killed.start(QStringLiteral(TKRECORD_PATH), run);
    QTRY_VERIFY_WITH_TIMEOUT(recordValues(file(0)).size() >= 3, waitMs);
    QCOMPARE(::kill(pid_t(killed.processId()), SIGKILL), 0);
    QVERIFY(killed.waitForFinished(waitMs));
    QProcess restarted;
    restarted.start(QStringLiteral(TKRECORD_PATH), run);
    QTRY_VERIFY_WITH_TIMEOUT(recordValues(file(1)).size() >= 2, waitMs);
    restarted.terminate();
    QVERIFY(restarted.waitForFinished(waitMs));
    QCOMPARE(restarted.exitCode(), 0);

    QProcess print;
    print.start(QStringLiteral(TKRECORD_PATH), run + QStringList{"--key-fingerprint"});
    QVERIFY(print.waitForFinished(waitMs));
    const QStringList printed = QString::fromLatin1(print.readAllStandardOutput()).split('\n');
    const QString& key = printed[0];
    QCOMPARE(key.size(), 16);
    // The line the administrator is told to add makes the seals trusted.
    sealing::TrustedKeys trusted;
    QVERIFY(trusted.add(printed.value(2), {}, nullptr));
    const QString signedBy = QStringLiteral("signed by %1 recorder (key %2)")
                                 .arg(QFileInfo(m_dir->path()).fileName(), key);
    for (const QString& path : {file(0), file(1)})
        QCOMPARE(sealing::verdictText(sealing::verifyFile(path, trusted)),
                 QStringLiteral("sealed: %1 records intact, %2")
                     .arg(recordValues(path).size())
                     .arg(signedBy));
    QCOMPARE(QFile::permissions(file(1)) & QFileDevice::WriteOwner, QFileDevice::Permissions());

    QFile audit(m_dir->filePath(QStringLiteral("audit.log")));
    QVERIFY(audit.open(QIODevice::ReadOnly));
    QFile stoppedFile(file(1));
    QVERIFY(stoppedFile.open(QIODevice::ReadOnly));
    const QByteArray trail = audit.readAll();
    QStringList events;
    for (const QByteArray& line : trail.split('\n'))
        events << QString::fromUtf8(line.trimmed()).section(QLatin1Char(';'), 5);
    const QString started = QStringLiteral("started, key ") + key;
    const QString opened = QStringLiteral("port opened: ") + sim.link();
    const auto recording = [](const char* what, const QString& path) {
        return QStringLiteral("recording %1: %2")
            .arg(QLatin1String(what), QFileInfo(path).fileName());
    };
    // The run of a recorder started without run options: its user.
    const auto runEntry = [](const QString& path) {
        return QStringLiteral("run: %1; operator \"%2\"")
            .arg(QFileInfo(path).fileName(), sealing::systemUserName());
    };
    QFile killedFile(file(0));
    QVERIFY(killedFile.open(QIODevice::ReadOnly));
    QCOMPARE(
        events,
        QStringList(
            {started,
             recording("started", file(0)),
             runEntry(file(0)),
             opened,
             started,
             // Closed as the kill left it: as the recorder wrote it.
             sealing::recordingNotClosedEvent(QFileInfo(file(0)).fileName(), killedFile.readAll()),
             recording("started", file(1)),
             runEntry(file(1)),
             opened,
             sealing::recordingStoppedEvent(QFileInfo(file(1)).fileName(), stoppedFile.readAll()),
             QStringLiteral("stopped"),
             {}}));
    QCOMPARE(sealing::verdictText(sealing::verifyFile(audit.fileName(), trusted)),
             QStringLiteral("sealed: 11 records intact, ") + signedBy);
    // The trail tells the kill, and the file left open by it, from an edit;
    // the trail agrees with the heads said, as the journal would keep them.
    QCOMPARE(sealing::folderFindings(m_dir->path()),
             QStringList({QStringLiteral("audit.log: entry 5: started again after a run that did "
                                         "not say \"stopped\" (a crash or a kill)"),
                          QFileInfo(file(0)).fileName() +
                              QStringLiteral(": not closed: the recorder stopped without "
                                             "closing it")}));
    QByteArray journal;
    for (const QByteArray& line : restarted.readAllStandardOutput().split('\n'))
        journal += QJsonDocument(QJsonObject{{"_UID", "990"}, {"MESSAGE", QString::fromUtf8(line)}})
                       .toJson(QJsonDocument::Compact) +
                   '\n';
    QVERIFY(journal.contains("audit trail entry 8, head "));
    QCOMPARE(
        sealing::journalFindings(journal, QStringLiteral("990"), {{sealing::auditFileName, trail}}),
        QStringList());
}

// What an operator who may write the folder can leave there for the next
// start: a seal of the trail, signed by a key of the operator's, that counts
// more blocks than any file holds, and fifos (nothing ever writes to them or
// reads them) in place of the block hashes and of the file a seal is
// written to before its rename. The recorder neither waits nor crashes: it
// keeps the trail aside, says so in the trail, and records.
void TestTkrecord::startsPastCraftedFiles() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    const QString trail = m_dir->filePath(QStringLiteral("audit.log"));
    QFile before(trail);
    QVERIFY(before.open(QIODevice::WriteOnly));
    before.write("1;2026-12-10T10:00:00+00:00;u;h;tkrecord 1.02;started\r\n");
    before.close();
    const QByteArray zeros(64, '0');
    QFile seal(trail + QStringLiteral(".seal"));
    QVERIFY(seal.open(QIODevice::WriteOnly));
    seal.write(sealing::signedSealText({"audit trail", "audit.log", "tkrecord", "1", "1", "56",
                                        zeros, "288230376151711744 " + zeros, "none"},
                                       sealing::generateKey()));
    seal.close();
    for (const char* fifo : {"audit.log.seal.blocks", "audit.log.seal.new"})
        QCOMPARE(
            ::mkfifo(QFile::encodeName(m_dir->filePath(QLatin1String(fifo))).constData(), 0644), 0);
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), m_dir->path()});
    const auto file = [&] {
        const QStringList files = QDir(m_dir->path()).entryList({QStringLiteral("REC_*.csv")});
        return m_dir->filePath(files.value(0, QStringLiteral("none yet")));
    };
    QTRY_VERIFY_WITH_TIMEOUT(recordValues(file()).size() >= 2, waitMs);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tkrecord.exitCode(), 0);
    QFile written(trail);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QString first = QString::fromUtf8(written.readLine()).section(QLatin1Char(';'), 5);
    QVERIFY2(first.startsWith(QStringLiteral("audit trail found seal not read: its counts or "
                                             "hashes are no file's (more blocks than lines, more "
                                             "lines than bytes, or beyond any disk); seal signed "
                                             "by an untrusted key ")) &&
                 first.contains(QStringLiteral("; kept as audit-1.log, head ")),
             qPrintable(first));
    QVERIFY(
        sealing::existsButIsNotRegular(m_dir->filePath(QStringLiteral("audit-1.log.seal.blocks"))));
}

// While the recorder runs, its recording is put back to a copy of a moment
// before with its seal, and then the file it goes on in is removed with its
// seal: it takes neither over. Each is left as it was found, said on a state
// line and in the trail, and the records go on in a new file; the
// verification counts what the trail says.
void TestTkrecord::leavesFilesChangedWhileRunning() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    const QString dir = m_dir->path();
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), dir});
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 1 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[0])).size() >= 2,
                             waitMs);
    const QString first = recordingFiles(dir)[0];
    const QString firstPath = m_dir->filePath(first);
    // Its mode changed, which moves its time of change as a backup's hard
    // link or attribute does: its bytes are the recorder's, and it goes on.
    const qsizetype beforeMode = recordValues(firstPath).size();
    QVERIFY(
        QFile::setPermissions(firstPath, QFile::permissions(firstPath) ^ QFileDevice::ReadOther));
    QTRY_VERIFY_WITH_TIMEOUT(
        recordValues(firstPath).size() > beforeMode || recordingFiles(dir).size() > 1, waitMs);
    QCOMPARE(recordingFiles(dir), QStringList{first});
    // The seal first: a record landing between the two copies is one the
    // seal does not cover yet, never one it covers and the copy lacks.
    const QStringList withSeal{QStringLiteral(".seal"), QString()};
    for (const QString& suffix : withSeal)
        QVERIFY(QFile::copy(firstPath + suffix, m_dir->filePath(QStringLiteral("copy") + suffix)));
    QTRY_VERIFY_WITH_TIMEOUT(recordValues(firstPath).size() >= 4, waitMs);
    // The file first: a record between the two finds it replaced.
    for (const QString& suffix : {QString(), QStringLiteral(".seal")})
        QVERIFY(putBack(m_dir->filePath(QStringLiteral("copy") + suffix), firstPath + suffix));
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 2 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[1])).size() >= 2,
                             waitMs);
    const QString second = recordingFiles(dir)[1];
    QVERIFY(QFile::remove(m_dir->filePath(second)) &&
            QFile::remove(m_dir->filePath(second + QStringLiteral(".seal"))));
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 2 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[1])).size() >= 1,
                             waitMs);
    const QString third = recordingFiles(dir)[1];
    QVERIFY(third != second);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);

    const QStringList said = QString::fromUtf8(tkrecord.readAllStandardOutput()).split('\n');
    const QStringList events = trailEvents(dir);
    const auto changed = [](const QString& name, const char* how) {
        return QStringLiteral("recording changed while running: %1: %2").arg(name, how);
    };
    const QString replaced = lineStartingWith(events, changed(first, "replaced"));
    QVERIFY2(replaced.contains(QStringLiteral(" records, ")) &&
                 replaced.endsWith(QStringLiteral("; recording goes on in ") + second),
             qPrintable(events.join('\n')));
    const QString removed = lineStartingWith(events, changed(second, "removed"));
    QVERIFY2(removed.endsWith(QStringLiteral("; recording goes on in ") + third),
             qPrintable(events.join('\n')));
    // Said as written, after the line's time.
    for (const QString& event : {replaced, removed})
        QVERIFY2(std::any_of(said.begin(), said.end(),
                             [&](const QString& line) { return line.mid(20) == event; }),
                 qPrintable(said.join('\n')));
    QVERIFY(events.contains(QStringLiteral("recording started: ") + third));
    // The file put back holds under its older seal; the trail says why it
    // is not the recording.
    const auto [status, verdicts] = viewerVerdict({dir});
    QCOMPARE(status, 1);
    QVERIFY2(lineStartingWith(verdicts, firstPath + QStringLiteral(": intact, but signed by an "
                                                                   "untrusted key"))
                         .size() > 0 &&
                 std::any_of(verdicts.begin(), verdicts.end(),
                             [&](const QString& line) {
                                 return line.startsWith(
                                            m_dir->filePath(QStringLiteral("audit.log: entry "))) &&
                                        line.endsWith(QStringLiteral(" says: ") + removed);
                             }) &&
                 verdicts.contains(m_dir->filePath(second) +
                                   QStringLiteral(": missing (the audit trail knows it)")),
             qPrintable(verdicts.join('\n')));
}

// Killed, then its recording and seal put back to a copy of a few records
// before: the seal holds, and only what the recorder noted beside its key
// tells the cut; at its next start the recorder says so in the trail, and
// tells the crash of a recording left as it wrote it apart.
void TestTkrecord::findsACutBackCopyAfterAKill() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    const QString dir = m_dir->path();
    QProcess killed;
    killed.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), dir});
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 1 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[0])).size() >= 2,
                             waitMs);
    const QString first = recordingFiles(dir)[0];
    const QString firstPath = m_dir->filePath(first);
    // The seal first: a record landing between the two copies is one the
    // seal does not cover yet, never one it covers and the copy lacks.
    const QStringList withSeal{QStringLiteral(".seal"), QString()};
    for (const QString& suffix : withSeal)
        QVERIFY(QFile::copy(firstPath + suffix, m_dir->filePath(QStringLiteral("copy") + suffix)));
    const qint64 copied = QFileInfo(m_dir->filePath(QStringLiteral("copy"))).size();
    QTRY_VERIFY_WITH_TIMEOUT(recordValues(firstPath).size() >= 4, waitMs);
    QCOMPARE(::kill(pid_t(killed.processId()), SIGKILL), 0);
    QVERIFY(killed.waitForFinished(waitMs));
    QVERIFY(QFileInfo(firstPath).size() > copied);
    for (const QString& suffix : withSeal)
        QVERIFY(putBack(m_dir->filePath(QStringLiteral("copy") + suffix), firstPath + suffix));

    // Without the state nothing disagrees; with it, the cut is found.
    const auto [unaware, unawareVerdicts] = viewerVerdict({dir});
    QCOMPARE(unaware, 3);
    QVERIFY2(unawareVerdicts.contains(QStringLiteral(
                 "not checked: without --journal or --state, a rollback of a whole folder "
                 "(recordings, seals and trail put back together) is not excluded")),
             qPrintable(unawareVerdicts.join('\n')));
    const QString keys = m_dir->filePath(QStringLiteral("keys"));
    const auto [aware, verdicts] = viewerVerdict({dir, QStringLiteral("--state"), keys});
    QCOMPARE(aware, 1);
    // Killed while a record was landing, the state names it too.
    const QString cut = QStringLiteral("%1: cut back to %2 bytes (the recorder had written ")
                            .arg(firstPath)
                            .arg(copied);
    QVERIFY2(!lineStartingWith(verdicts, cut).isEmpty(), qPrintable(verdicts.join('\n')));
    // Named through a symbolic link, the folder finds the same state.
    const QTemporaryDir links;
    const QString linked = links.filePath(QStringLiteral("recordings"));
    QVERIFY(QFile::link(dir, linked));
    auto [throughLink, linkedVerdicts] = viewerVerdict({linked, QStringLiteral("--state"), keys});
    QCOMPARE(throughLink, 1);
    QCOMPARE(linkedVerdicts.replaceInStrings(linked, dir), verdicts);

    QProcess restarted;
    restarted.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), dir});
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 2 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[1])).size() >= 1,
                             waitMs);
    restarted.terminate();
    QVERIFY(restarted.waitForFinished(waitMs));
    QCOMPARE(restarted.exitCode(), 0);
    const QString found =
        lineStartingWith(trailEvents(dir), QStringLiteral("recording found not as the recorder "
                                                          "left it: %1: cut back to %2 bytes")
                                               .arg(first)
                                               .arg(copied));
    QVERIFY2(!found.isEmpty(), qPrintable(trailEvents(dir).join('\n')));
    QVERIFY(QString::fromUtf8(restarted.readAllStandardOutput()).contains(found));
    const auto [after, afterVerdicts] = viewerVerdict({dir, QStringLiteral("--state"), keys});
    QCOMPARE(after, 1);
    QVERIFY2(std::any_of(afterVerdicts.begin(), afterVerdicts.end(),
                         [&](const QString& line) {
                             return line.endsWith(QStringLiteral(" says: ") + found);
                         }),
             qPrintable(afterVerdicts.join('\n')));
}

// The recorder's files may grow no further for a while (RLIMIT_FSIZE, its
// write refused as a full disk refuses it): the records lost are said on a
// state line once as they begin, and once as they end, then with their
// count, in the trail too; nothing floods, and the seals cover all again.
void TestTkrecord::saysAFullDiskOncePerEpisode() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    const QString dir = m_dir->path();
    QProcess tkrecord;
    // A write past the limit then fails as on a full disk, with no signal.
    tkrecord.setChildProcessModifier([] { std::signal(SIGXFSZ, SIG_IGN); });
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {"--dir", dir, "--metrics", QStringLiteral("127.0.0.1:0")});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += tkrecord.readAllStandardOutput()).contains("/metrics\n"),
                             waitMs);
    const qsizetype at = said.indexOf("metrics at http://127.0.0.1:") + 28;
    const auto port = quint16(said.mid(at, said.indexOf("/metrics\n") - at).toUInt());
    const auto recordErrors = [port] {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        client.write("GET /metrics HTTP/1.0\r\n\r\n");
        static const QRegularExpression errors(
            QStringLiteral("\ntk_record_errors_total\\S* (\\d+)\n"));
        return errors.match(QString::fromUtf8(readToClose(client, waitMs))).captured(1).toInt();
    };
    QTRY_VERIFY_WITH_TIMEOUT(recordingFiles(dir).size() == 1 &&
                                 recordValues(m_dir->filePath(recordingFiles(dir)[0])).size() >= 2,
                             waitMs);
    const QString file = recordingFiles(dir)[0];
    const auto limit = rlim_t(QFileInfo(m_dir->filePath(file)).size());
    const rlimit full{limit, RLIM_INFINITY};
    QCOMPARE(::prlimit(pid_t(tkrecord.processId()), RLIMIT_FSIZE, &full, nullptr), 0);
    QTRY_VERIFY_WITH_TIMEOUT(recordErrors() >= 3, waitMs);
    const rlimit room{RLIM_INFINITY, RLIM_INFINITY};
    QCOMPARE(::prlimit(pid_t(tkrecord.processId()), RLIMIT_FSIZE, &room, nullptr), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        (said += tkrecord.readAllStandardOutput()).contains("record written again in "), waitMs);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    said += tkrecord.readAllStandardOutput();
    const QByteArray complaints = tkrecord.readAllStandardError();

    QCOMPARE(said.count("record error in "), 1);
    static const QRegularExpression again(
        QStringLiteral("record written again in (\\S+) \\((\\d+) records not written from "
                       "(\\S+) to (\\S+)\\)\n"));
    const QRegularExpressionMatch line = again.match(QString::fromUtf8(said));
    QVERIFY2(line.hasMatch() && line.captured(1) == file && line.captured(2).toInt() >= 3 &&
                 line.captured(3) <= line.captured(4),
             said.constData());
    QCOMPARE(trailEvents(dir).filter(QStringLiteral("records lost: ")),
             QStringList{QStringLiteral("records lost: %1, %2 records not written from %3 to %4")
                             .arg(file, line.captured(2), line.captured(3), line.captured(4))});
    // The seal's failure once as it begins and once as it ends.
    QVERIFY2(complaints.count('\n') <= 4, complaints.constData());
    QVERIFY(sealing::verifyFile(m_dir->filePath(file)).intact());
}

void TestTkrecord::hostileClients() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    RecordService service({}, [this](const QString& line) { m_said << line; });
    MetricsServer server([&service] { return metricsText(service.snapshot()); });
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QElapsedTimer clock;
    clock.start();
    QList<qint64> polls;
    connect(service.controllers().first(), &tklink::Controller::pollEnded, this,
            [&](tklink::PollResult result) {
                polls << (result == tklink::PollResult::Ok ? clock.elapsed() : -1);
            });
    service.start();
    QTRY_VERIFY_WITH_TIMEOUT(!polls.isEmpty(), waitMs);
    const qint64 rssBefore = residentKiB();
    const MetricsSnapshot before = service.snapshot();

    // An idle connection, one sending 64 MiB, a hundred at once, then a
    // scrape: all while the poll goes on.
    const quint16 port = server.port();
    std::atomic<bool> done = false;
    qint64 floodSent = 0;
    QByteArray idleGot;
    QByteArray scrape;
    QByteArray refused;
    int answeredOfHundred = 0;
    // Blocking clients on their own thread: what they do cannot slow the poll
    // by anything but the server's own work.
    std::thread clients([&] {
        const auto connectTo = [port] {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, port);
            socket->waitForConnected(10000);
            return socket;
        };
        const auto idle = connectTo();
        // One byte over the limit, and nothing more: read whole, then refused.
        const auto oversized = connectTo();
        oversized->write(QByteArray(requestHeadLimit + 1, 'x'));
        refused = readToClose(*oversized, 10000);
        const auto flood = connectTo();
        const QByteArray chunk(qsizetype(64) * 1024, 'x');
        qint64 queued = 0;
        while (queued < floodLimit) {
            queued += flood->write(chunk);
            if (!flood->waitForBytesWritten(3000)) // a server that stops reading ends it
                break;
        }
        floodSent = queued - flood->bytesToWrite();
        std::vector<std::unique_ptr<QTcpSocket>> hundred;
        for (int i = 0; i < 100; ++i) {
            hundred.push_back(connectTo());
            hundred.back()->write("GET /metrics HTTP/1.1\r\n\r\n");
            hundred.back()->flush();
        }
        for (const auto& socket : hundred)
            answeredOfHundred += readToClose(*socket, 10000).startsWith("HTTP/1.1 200 OK") ? 1 : 0;
        const auto good = connectTo();
        good->write("GET /metrics HTTP/1.1\r\n\r\n");
        scrape = readToClose(*good, 10000);
        idleGot = readToClose(*idle, 10000);
        done = true;
    });
    const qsizetype from = polls.size();
    // The clients' own waits add up to some 10 s; a busy machine stretches
    // them. The thread is joined whatever comes, or it would end the test
    // program.
    const bool ended =
        QTest::qWaitFor([&] { return done && polls.size() >= from + 4; }, 6 * waitMs);
    clients.join();
    QVERIFY2(ended, "the clients did not end, or the poll stopped");
    [[maybe_unused]] const qint64 rssGrowth = residentKiB() - rssBefore;
    const MetricsSnapshot after = service.snapshot();
    service.stop();

    QVERIFY2(!polls.mid(from).contains(-1), "a poll failed");
    // The poll keeps its pace: the median gap, which a busy machine's odd
    // late wake-up does not move.
    QList<qint64> gaps;
    for (qsizetype i = from; i < polls.size(); ++i)
        gaps << polls[i] - polls[i - 1];
    std::sort(gaps.begin(), gaps.end());
    const qint64 median = gaps.value(gaps.size() / 2);
    QVERIFY2(median > 1500 && median < 3000, qPrintable(QString::number(median)));
    QVERIFY2(after.recordErrors == 0 && after.records >= before.records + 6,
             qPrintable(QString::number(after.records - before.records)));
    QVERIFY2(floodSent < floodLimit, "a request of 64 MiB was read whole");
#ifndef TK_ADDRESS_SANITIZER
    // AddressSanitizer keeps freed blocks in its quarantine, so resident memory
    // says nothing there; LeakSanitizer checks that build for leaks instead.
    QVERIFY2(rssGrowth < qint64(8) * 1024, qPrintable(QString::number(rssGrowth)));
#endif
    QVERIFY(idleGot.isEmpty()); // closed at its deadline, not held
    QVERIFY2(refused.startsWith("HTTP/1.1 431 "), refused.constData());
    QVERIFY(answeredOfHundred > 0);
    QVERIFY2(scrape.contains("\ntk_temperature_celsius 215.3\n"), scrape.constData());
    QVERIFY(server.connectionCount() <= MetricsServer::maxConnections);
}

void TestTkrecord::alarmAcrossTheHighLimit() {
    // 290.0 degrees, then 312.4 from the third second on.
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--script", "0:2900,3000,45;3:3124,3000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link(), QStringLiteral("[Alarms]\nHighLimit=300\n"));
    RecordService service({}, [this](const QString& line) { m_said << line; });
    service.start();
    QTRY_VERIFY_WITH_TIMEOUT(!m_said.filter(QStringLiteral(" alarm ")).isEmpty(), waitMs);
    QCOMPARE(service.snapshot().alarmsActive, (std::array<bool, 5>{true, false, false}));
    service.stop();
    const QStringList alarms = m_said.filter(QStringLiteral(" alarm "));
    QCOMPARE(alarms.size(), 1);
    static const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d alarm high active: "
                       "High temperature 312.4 °C since \\d\\d:\\d\\d:\\d\\d$"));
    QVERIFY2(line.match(alarms[0]).hasMatch(), qPrintable(alarms[0]));
}

// Records into a removed folder are lost: the run ends for the service
// manager to start it again.
// A client on the recorder's socket: each controller's last hour and live
// values; an acknowledgement and a mark written into the trail with the
// user the kernel names; a setpoint write refused to a user outside the
// writers' group, in the trail too.
void TestTkrecord::clientsOnTheRecorder() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--setpoint", "200,150,100", "--silence", "11@3"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link(),
              "[Controllers]\noven1=9\noven2=10\noven3=11\n[Bus]\nAnswerTimeout=1000\n"
              "[Alarms]\nLinkLostAfter=2\n"
              "[Control]\nSetpointWrite=1\nSetpointMin=0\nSetpointMax=300\nWriters=nogroup\n");
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", m_dir->path()});
    const QString socket = m_dir->filePath(QStringLiteral(".tkrecord.sock"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), waitMs);
    ProtocolClient client;
    QVERIFY(client.connectTo(socket, waitMs));
    client.send("{\"request\":\"hello\",\"protocol\":1}\n{\"request\":\"watch\"}\n");
    const auto valuesOf = [&](const QString& name) {
        QList<QJsonObject> found;
        for (const QJsonObject& values : client.messages("event", "values"))
            if (values.value(QLatin1String("controller")).toString() == name)
                found << values;
        return found;
    };
    const auto linkAlarm = [](const QJsonObject& values) {
        const QJsonArray alarms = values.value(QLatin1String("alarms")).toArray();
        return alarms.isEmpty() ? QString()
                                : alarms[0].toObject().value(QLatin1String("state")).toString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!valuesOf("oven3").isEmpty() &&
                                 linkAlarm(valuesOf("oven3").last()) == "active" &&
                                 valuesOf("oven2").last().value(QLatin1String("current")).toBool(),
                             waitMs);
    QCOMPARE(client.messages("event", "history").size(), 3);
    const QJsonObject oven2 = valuesOf("oven2").last();
    QCOMPARE(oven2.value(QLatin1String("setpoint")).toDouble(), 150.0);
    QCOMPARE(oven2.value(QLatin1String("link")).toString(), QStringLiteral("ok"));
    QCOMPARE(oven2.value(QLatin1String("address")).toInt(), 10);

    client.send("{\"request\":\"acknowledge\",\"controller\":\"oven3\",\"id\":1}\n"
                "{\"request\":\"mark\",\"controller\":\"oven2\",\"text\":\"Load in\",\"id\":2}\n"
                "{\"request\":\"setpoint\",\"controller\":\"oven1\",\"value\":180,\"id\":3}\n");
    QTRY_COMPARE_WITH_TIMEOUT(client.messages("answer", "setpoint").size(), 1, waitMs);
    const QString user = sealing::systemUserName();
    const QString acknowledged =
        QStringLiteral("oven3: acknowledged: all alarms; by \"%1\"").arg(user);
    const QString marked = QStringLiteral("oven2: event: Load in; by \"%1\"").arg(user);
    const QString refused = QStringLiteral("%1 is not in the group nogroup").arg(user);
    QCOMPARE(client.messages("answer", "acknowledge")
                 .value(0)
                 .value(QLatin1String("written"))
                 .toString(),
             acknowledged);
    QCOMPARE(client.messages("answer", "mark").value(0).value(QLatin1String("written")).toString(),
             marked);
    QCOMPARE(
        client.messages("answer", "setpoint").value(0).value(QLatin1String("reason")).toString(),
        refused);
    QTRY_COMPARE_WITH_TIMEOUT(linkAlarm(valuesOf("oven3").last()), QStringLiteral("acknowledged"),
                              waitMs);

    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    const QStringList trail = trailEvents(m_dir->path());
    const qsizetype acknowledgedAt = trail.indexOf(acknowledged);
    QVERIFY2(acknowledgedAt > 0 && trail.value(acknowledgedAt - 1) ==
                                       QStringLiteral("oven3: alarm acknowledged: Link lost"),
             qPrintable(trail.join(QLatin1Char('\n'))));
    QVERIFY(trail.contains(marked));
    QVERIFY(
        trail.contains(QStringLiteral("oven1: setpoint write to 180.0 °C refused: %1; by \"%2\"")
                           .arg(refused, user)));
}

// The window's client: attached, the recorder's values; the recorder
// stopped, not attached; started again, attached again by itself, with the
// values going on, and a mark through it answered.
void TestTkrecord::clientAttachesAgainAfterARestart() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--address", "9,10", "--setpoint", "200,150"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link(),
              "[Controllers]\noven1=9\noven2=10\n[Bus]\nAnswerTimeout=1000\n");
    const auto startRecorder = [this](QProcess& tkrecord) {
        tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", m_dir->path()});
    };
    QProcess first;
    startRecorder(first);
    attach::RecorderClient client;
    QSignalSpy values(&client, &attach::RecorderClient::values);
    client.attachTo(m_dir->path());
    QTRY_VERIFY_WITH_TIMEOUT(client.attached() && !values.isEmpty(), waitMs);
    QCOMPARE(client.controllers(), QStringList({"oven1", "oven2"}));
    first.terminate();
    QVERIFY(first.waitForFinished(waitMs));
    QTRY_VERIFY_WITH_TIMEOUT(!client.attached(), waitMs);

    QProcess second;
    startRecorder(second);
    QTRY_VERIFY_WITH_TIMEOUT(client.attached(), waitMs);
    values.clear();
    QTRY_VERIFY_WITH_TIMEOUT(
        !values.isEmpty() && values.last().at(0).value<attach::RecorderValues>().current, waitMs);
    QSignalSpy answered(&client, &attach::RecorderClient::answered);
    tkrecord::ClientRequest mark;
    mark.kind = tkrecord::ClientRequest::Kind::Mark;
    mark.text = QStringLiteral("After the restart");
    mark.controller = QStringLiteral("oven1");
    client.send(mark);
    QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, waitMs);
    QCOMPARE(answered[0], QVariantList({"mark", true,
                                        QStringLiteral("oven1: event: After the restart; by \"%1\"")
                                            .arg(sealing::systemUserName())}));
    second.terminate();
    QVERIFY(second.waitForFinished(waitMs));
}

void TestTkrecord::endsWhenItsFolderIsRemoved_data() {
    QTest::addColumn<QString>("controllers"); // conf.ini's lines besides the port
    QTest::addColumn<QString>("removed");     // the folder removed, under the working one
    QTest::addColumn<QString>("why");

    QTest::newRow("the working folder") << ""
                                        << ""
                                        << "was removed";
    QTest::newRow("a controller's folder on a bus") << "[Controllers]\noven1=9\noven2=10\n"
                                                    << "oven2"
                                                    << "was removed or replaced";
}

void TestTkrecord::endsWhenItsFolderIsRemoved() {
    QFETCH(QString, controllers);
    QFETCH(QString, removed);
    QFETCH(QString, why);
    writeConf(m_dir->path(), m_dir->filePath(QStringLiteral("absent-tty")), controllers);
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {QStringLiteral("--dir"), m_dir->path()});
    const QString folder = QDir(m_dir->path()).filePath(removed);
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(folder).entryList({QStringLiteral("REC_*.csv")}).isEmpty(),
                             waitMs);
    // The recorder may write a file between the listing and the last rmdir:
    // removed again until the folder is gone.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(folder).removeRecursively(), waitMs);
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tkrecord.exitCode(), 1);
    // A record due before the watch tells may complain first, and the
    // trail's own complaints about the folder may follow.
    const QByteArray errors = tkrecord.readAllStandardError();
    QVERIFY2(errors.split('\n').contains("tkrecord: the folder " +
                                         QFile::encodeName(QDir::cleanPath(folder)) + ' ' +
                                         why.toUtf8()),
             errors.constData());
}

void TestTkrecord::probeFindsTheController_data() {
    // Lines in order (SIM, SILENT, HELD, GW and PID stand for the ports, the
    // gateway in front of tksim and this process), then the last ones.
    // gateway: none, tksim's own Modbus TCP server, or ser2net.
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QStringList>("tksim");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("last");
    QTest::newRow("at 9600 bit/s")
        << QString() << QStringList{"--baud", "9600", "--check-baud", "1", "--address", "9,12"}
        << QStringList{"SILENT (port 2) at 19200 bit/s: no answer",
                       "SIM (port 1) at 19200 bit/s: no answer",
                       "HELD (port 3): skipped, another program holds it (PID PID)",
                       "SILENT (port 2) at 9600 bit/s: no answer",
                       "SIM (port 1) at 9600 bit/s: the controller answered"}
        << QStringList{"ComPortSpeed=9600",
                       "addresses answering from 1 to 12: 9, 12; conf.ini lines:", "[Controllers]",
                       "controller-9=9", "controller-12=12"};
    QTest::newRow("a bus without address 9")
        << QString() << QStringList{"--address", "10,11"}
        << QStringList{"SIM (port 1) at 1200 bit/s: no answer",
                       "no answer at address 9: asking 11 other addresses, at most ",
                       "SIM (port 1) at 19200 bit/s: asking 11 other addresses"}
        << QStringList{"ComPortSpeed=19200",
                       "addresses answering from 1 to 12: 10, 11; conf.ini lines:", "[Controllers]",
                       "controller-10=10", "controller-11=11"};
    // No serial port is tried and no speed searched: the gateway's addresses
    // are asked, the configured one beyond 12 too.
    const QStringList gatewayLines{
        QStringLiteral("port 4 is the gateway GW: no serial port or speed to search; ") +
            "asking 13 addresses there, 500 ms each at most",
        "gateway GW connected",
        "GW, address 9: the controller answered",
        "GW, address 12: the controller answered",
        "GW, address 20: the controller answered",
        "gateway GW: 13 addresses asked in "};
    const QStringList gatewayLast{QStringLiteral("addresses answering from 1 to 12 behind the ") +
                                      "gateway GW: 9, 12, 20; conf.ini lines:",
                                  "[Controllers]", "controller-9=9", "controller-12=12",
                                  "controller-20=20"};
    QTest::newRow("behind a Modbus TCP gateway")
        << "tcp" << QStringList{"--address", "9,12,20"} << gatewayLines
        << QStringList{"no controller at 10 of 13 addresses: 10 target failed to respond "
                       "(exception 11)"} +
               gatewayLast;
    QTest::newRow("behind ser2net")
        << "rtu+tcp" << QStringList{"--address", "9,12,20"} << gatewayLines
        << QStringList{"no controller at 10 of 13 addresses: 10 no answer within 500 ms"} +
               gatewayLast;
}

void TestTkrecord::probeFindsTheController() {
    // The configured port is a line where nothing answers, and a third is
    // held by this process.
    QFETCH(QString, gateway);
    QFETCH(QStringList, tksim);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, last);
    if (gateway == QLatin1String("rtu+tcp") && !ser2netInstalled())
        QSKIP("ser2net is not installed (scripts/test.sh installs it)");
    TksimProcess sim(QStringLiteral(TKSIM_PATH), tksim,
                     gateway == QLatin1String("tcp") ? TksimProcess::Line::Tcp
                                                     : TksimProcess::Line::Link);
    QVERIFY(sim.start(waitMs));
    Ser2net server(sim.link(), 19200);
    if (gateway == QLatin1String("rtu+tcp"))
        QVERIFY(server.start(waitMs));
    const QString gatewayAddress = gateway.isEmpty()                 ? QString()
                                   : gateway == QLatin1String("tcp") ? sim.link()
                                                                     : server.address();
    Pty silent;
    Pty held;
    QSerialPort holder(held.path());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    QFile conf(m_dir->filePath(QStringLiteral("conf.ini")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Ports]\n1=%1\n2=%2\n3=%3\n%4[TK840 TK960 PC control]\n"
                              "ComPortNum=%5\nComPortSpeed=19200\n%6")
                   .arg(sim.link(), silent.path(), held.path(),
                        gateway.isEmpty() ? QString() : "4=" + gatewayAddress + '\n',
                        gateway.isEmpty() ? QStringLiteral("2") : QStringLiteral("4"),
                        gateway.isEmpty() ? QString() : QStringLiteral("[Controllers]\noven=20\n"))
                   .toUtf8());
    conf.close();

    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--probe", "--addresses", "12"});
    QVERIFY(tkrecord.waitForFinished(waitMs));
    const QString out = QString::fromUtf8(tkrecord.readAllStandardOutput());
    QCOMPARE(tkrecord.exitCode(), 0);
    // Speed by speed, the configured port first; the machine's own serial
    // devices may come between these lines.
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    qsizetype at = 0;
    for (QString line : expected) {
        line.replace(QStringLiteral("SILENT"), silent.path())
            .replace(QStringLiteral("SIM"), sim.link())
            .replace(QStringLiteral("HELD"), held.path())
            .replace(QStringLiteral("GW"), gatewayAddress)
            .replace(QStringLiteral("PID)"),
                     QString::number(QCoreApplication::applicationPid()) + QLatin1Char(')'));
        while (at < lines.size() && !lines[at].startsWith(line))
            ++at;
        QVERIFY2(at < lines.size(), qPrintable(line + QStringLiteral(" not in order in:\n") + out));
    }
    // A gateway's search leaves the serial ports alone.
    QCOMPARE(lines.filter(held.path()).size(), gateway.isEmpty() ? 1 : 0);
    for (QString& line : last)
        line.replace(QStringLiteral("GW"), gatewayAddress);
    QCOMPARE(lines.mid(lines.size() - last.size()), last);
    QVERIFY(holder.isOpen());
}

// Three ovens on one line, the third silent from 3 s on: each has its
// folder, its records and its labelled metrics.
void TestTkrecord::recordsABusOfThree() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--setpoint", "200,150,100", "--silence", "11@3"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link(),
              "[Controllers]\noven1=9\noven2=10\noven3=11\n[Bus]\nAnswerTimeout=1000\n"
              "[Alarms]\nLinkLostAfter=2\n");
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {"--dir", m_dir->path(), "--metrics", "127.0.0.1:0"});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += tkrecord.readAllStandardOutput()).contains("/metrics\n"),
                             waitMs);
    const auto records = [&](const QString& name) {
        const QDir folder(m_dir->filePath(name));
        const QStringList files = folder.entryList({QStringLiteral("REC_*.csv")});
        return files.size() == 1 ? recordValues(folder.filePath(files[0])) : QStringList();
    };
    const auto live = [](const QStringList& values, const char* setpoint) {
        return !values.isEmpty() && values.last().startsWith(QLatin1String(setpoint)) &&
               !values.last().contains(QLatin1String(";8888;"));
    };
    // oven3's values, then its silence.
    QTRY_VERIFY_WITH_TIMEOUT(
        !records("oven3").filter(QRegularExpression("^1000;\\d+;")).isEmpty() &&
            records("oven3").last() == noValues,
        waitMs);
    QVERIFY2(live(records("oven1"), "2000;"), qPrintable(records("oven1").join(' ')));
    QVERIFY2(live(records("oven2"), "1500;"), qPrintable(records("oven2").join(' ')));
    // No records of their own in the recorder's folder.
    QVERIFY(QDir(m_dir->path()).entryList({QStringLiteral("REC_*")}).isEmpty());

    const qsizetype at = said.indexOf("metrics at http://127.0.0.1:") + 28;
    const auto port = quint16(said.mid(at, said.indexOf("/metrics\n") - at).toUInt());
    QByteArray metrics;
    const auto scrape = [&] {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        client.write("GET /metrics HTTP/1.0\r\n\r\n");
        return metrics = readToClose(client, waitMs);
    };
    QTRY_VERIFY_WITH_TIMEOUT(
        scrape().contains(
            "\ntk_alarm_active{controller=\"oven3\",address=\"11\",alarm=\"link\"} 1\n"),
        waitMs);
    for (const char* sample :
         {"\ntk_link_up{controller=\"oven1\",address=\"9\"} 1\n",
          "\ntk_link_up{controller=\"oven2\",address=\"10\"} 1\n",
          "\ntk_link_up{controller=\"oven3\",address=\"11\"} 0\n",
          "\ntk_setpoint_celsius{controller=\"oven2\",address=\"10\"} 150\n",
          "\ntk_alarm_active{controller=\"oven1\",address=\"9\",alarm=\"link\"} 0\n"})
        QVERIFY2(metrics.contains(sample), metrics.constData());
    // Two answering controllers take a small part of their 2 s.
    QVERIFY2(QRegularExpression(R"(\ntk_bus_round_seconds 0\.\d+\n)")
                 .match(QString::fromLatin1(metrics))
                 .hasMatch(),
             metrics.constData());

    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    said += tkrecord.readAllStandardOutput();
    QVERIFY2(said.contains(" oven3: no answer from the controller for 3 polls; values stale\n"),
             said.constData());
    // The one trail knows each controller's recording in its folder.
    QCOMPARE(sealing::folderFindings(m_dir->path()), QStringList());
}

// The run's fields after the start's entry; a mark and a new run sent from
// another process, with the sender's user as the system knows it.
void TestTkrecord::runAndMarkThroughTheRecorder() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {});
    QVERIFY(sim.start(waitMs));
    writeConf(m_dir->path(), sim.link());
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {"--dir", m_dir->path(), "--batch", "L-4711", "--customer", "ACME"});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(QStringLiteral(".tkrecord.sock"))),
                             waitMs);
    const auto send = [&](const QStringList& arguments) {
        QProcess command;
        command.start(QStringLiteral(TKRECORD_PATH),
                      QStringList{"--dir", m_dir->path()} + arguments);
        return command.waitForFinished(waitMs) && command.exitCode() == 0
                   ? QString::fromUtf8(command.readAllStandardOutput())
                   : QString::fromUtf8(command.readAllStandardError());
    };
    const QString user = sealing::systemUserName();
    QCOMPARE(send({"--mark", "Load in"}), QStringLiteral("event: Load in; by \"%1\"\n").arg(user));
    const auto events = [this] { return trailEvents(m_dir->path()); };
    const QString file = events()
                             .filter(QStringLiteral("recording started: "))
                             .value(0)
                             .section(QLatin1Char(' '), 2);
    QCOMPARE(send({"--run", "--batch", "L-4712"}),
             QStringLiteral("run: %1; batch \"L-4712\"; operator \"%2\"\n").arg(file, user));
    QCOMPARE(send({"--mark", "Quench", "--controller", "oven2"}),
             QStringLiteral("tkrecord: this recorder has no [Controllers]: --controller is for a "
                            "bus\n"));
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral(".tkrecord.sock"))));

    const QStringList trail = events();
    const qsizetype start = trail.indexOf(QStringLiteral("recording started: ") + file);
    QVERIFY2(start > 0, qPrintable(trail.join(QLatin1Char('\n'))));
    QCOMPARE(trail.value(start + 1),
             QStringLiteral("run: %1; batch \"L-4711\"; customer \"ACME\"; operator \"%2\"")
                 .arg(file, user));
    QVERIFY(trail.contains(QStringLiteral("event: Load in; by \"%1\"").arg(user)));
    QVERIFY(trail.contains(
        QStringLiteral("run: %1; batch \"L-4712\"; operator \"%2\"").arg(file, user)));
}

QTEST_GUILESS_MAIN(TestTkrecord)
#include "tst_tkrecord.moc"
