#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "Data.h"
#include "FolderLock.h"
#include "RecordFile.h"
#include "RecordWriter.h"
#include "Recorder.h"

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

#include <future>

using recording::Recorder;

namespace {

const QString fileName = QStringLiteral("REC_2022-03-14_14-05-09.csv");
const QByteArray header = "Time;Setpoint;Temperature;Power;\r\n";

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Caps the size of every file this process writes, as a full medium would,
// for as long as it lives. SIGXFSZ is ignored so that the write fails
// instead of killing the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = m_saved;
        capped.rlim_cur = bytes;
        m_applied = setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool applied() const { return m_applied; }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_applied = false;
};

enum class Obstacle {
    NameIsDirectory,    // a directory holds the file's name
    NameIsPipe,         // a named pipe without a reader holds it
    WorkingDirGone,     // the working directory was removed
    SizeLimitCutsLine,  // the medium fills up in the middle of the line
    SizeLimitReached,   // the medium is already full
    FileGoneMediumFull, // the file was moved away and the medium is full
    FolderHeld,         // another recorder holds the folder's lock
};

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestRecorder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void statusTextsThroughStartTickStopTick();
    void recordCarriesLastValues_data();
    void recordCarriesLastValues();
    void textInSystemEncoding();
    void restartWithinOneSecondAppends();
    void removedFileCreatedAnewWithHeader();
    void recordingPastMidnightKeepsItsFile();
    void startRefused_data();
    void startRefused();
    void secondClickBeforeFirstResult();
    void junkLockReplaced_data();
    void junkLockReplaced();
    void tickFailureRetried_data();
    void tickFailureRetried();
    void tickSetsPeriod_data();
    void tickSetsPeriod();
    void timerDrivesRecords();
    void stalledMediumCostsRecordsNotTime();
    void finishWaitsForTheRecordBeforeIt();

private:
    // The key and the timer as the main window forwards them, each followed
    // by the file's outcome.
    void click();
    void tick();
    void settle();
    // Puts an obstacle in the way of writing fileName, and takes it away.
    void placeObstacle(Obstacle obstacle);
    void removeObstacle(Obstacle obstacle);

    QString filePath() const { return QDir::current().filePath(fileName); }

    QTemporaryDir m_dir;
    QString m_oldCurrent;
    QDateTime m_now;
    QString m_goneDir;
    QTimer m_timer;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<FileSizeLimit> m_limit;
    std::unique_ptr<QLockFile> m_otherRecorder;
};

void TestRecorder::init() {
    QVERIFY(m_dir.isValid());
    m_oldCurrent = QDir::currentPath();
    const QString work =
        m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('-') +
                       QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(work));
    QVERIFY(QDir::setCurrent(work));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));

    // The state right after start-up.
    Data::resetAll();
    Data::setpointRaw = 8888;
    Data::measureRaw = 8888;
    Data::powerRaw = 0;
    Data::recordTimerMs = 20000;
    m_timer.setInterval(20000);
    m_timer.start();

    m_now = QDateTime(QDate(2022, 3, 14), QTime(14, 5, 9));
    m_recorder = std::make_unique<Recorder>(m_timer, [this] { return m_now; });
}

void TestRecorder::cleanup() {
    m_limit.reset();
    m_recorder.reset();
    m_timer.stop();
    QDir::setCurrent(m_oldCurrent);
    QLocale::setDefault(QLocale::system());
    Data::resetAll();
}

void TestRecorder::click() {
    m_recorder->startStop();
    settle();
}

void TestRecorder::tick() {
    m_recorder->tick();
    settle();
}

void TestRecorder::settle() {
    QVERIFY(m_recorder->writer().waitForIdle(10000));
    // The outcome is queued to this thread once the file is written.
    QCoreApplication::processEvents();
}

void TestRecorder::placeObstacle(Obstacle obstacle) {
    switch (obstacle) {
    case Obstacle::NameIsDirectory:
        QFile::remove(fileName);
        QVERIFY(QDir().mkdir(fileName));
        break;
    case Obstacle::NameIsPipe:
        QFile::remove(fileName);
        QCOMPARE(::mkfifo(QFile::encodeName(fileName).constData(), 0600), 0);
        break;
    case Obstacle::WorkingDirGone:
        m_goneDir = QDir::currentPath();
        QVERIFY(QDir(m_goneDir).removeRecursively());
        break;
    case Obstacle::SizeLimitCutsLine:
        m_limit = std::make_unique<FileSizeLimit>(QFileInfo(fileName).size() + 10);
        QVERIFY(m_limit->applied());
        break;
    case Obstacle::SizeLimitReached:
        m_limit = std::make_unique<FileSizeLimit>(QFileInfo(fileName).size());
        QVERIFY(m_limit->applied());
        break;
    case Obstacle::FileGoneMediumFull:
        QVERIFY(QFile::remove(fileName));
        m_limit = std::make_unique<FileSizeLimit>(0);
        QVERIFY(m_limit->applied());
        break;
    case Obstacle::FolderHeld:
        m_otherRecorder = std::make_unique<QLockFile>(QStringLiteral(".recording.lock"));
        QVERIFY(m_otherRecorder->tryLock(0));
        break;
    }
}

void TestRecorder::removeObstacle(Obstacle obstacle) {
    switch (obstacle) {
    case Obstacle::NameIsDirectory:
        QVERIFY(QDir().rmdir(fileName));
        break;
    case Obstacle::NameIsPipe:
        QVERIFY(QFile::remove(fileName));
        break;
    case Obstacle::WorkingDirGone:
        // A new directory under the old path is another directory: the
        // process has to move into it.
        QVERIFY(QDir().mkpath(m_goneDir));
        QVERIFY(QDir::setCurrent(m_goneDir));
        break;
    case Obstacle::SizeLimitCutsLine:
    case Obstacle::SizeLimitReached:
    case Obstacle::FileGoneMediumFull:
        m_limit.reset();
        break;
    case Obstacle::FolderHeld:
        m_otherRecorder.reset();
        break;
    }
}

void TestRecorder::statusTextsThroughStartTickStopTick() {
    QSignalSpy status(m_recorder.get(), &Recorder::statusText);
    QSignalSpy caption(m_recorder.get(), &Recorder::captionChanged);

    tick();
    click();
    QCOMPARE(Data::recordingActive, uint8_t(255));
    QCOMPARE(readFile(filePath()), header); // no record at the click
    m_now = m_now.addSecs(20);
    tick();
    m_now = m_now.addSecs(20);
    tick();
    click();
    m_now = m_now.addSecs(20);
    tick();

    const QStringList expected = {
        QStringLiteral("Not recording."),
        QStringLiteral("Recording in REC_2022-03-14_14-05-09.csv started."),
        QStringLiteral("Recording in progress in file REC_2022-03-14_14-05-09.csv 14:05:29"),
        QStringLiteral("Recording in progress in file REC_2022-03-14_14-05-09.csv 14:05:49"),
        QStringLiteral("Recording stopped."),
        QStringLiteral("Not recording."),
    };
    QStringList texts;
    for (const QList<QVariant>& args : status)
        texts << args.at(0).toString();
    QCOMPARE(texts, expected);

    QCOMPARE(caption.size(), 2);
    QCOMPARE(caption.at(0).at(0).toString(), QStringLiteral("Stop recording"));
    QCOMPARE(caption.at(1).at(0).toString(), QStringLiteral("Start recording"));
    QCOMPARE(Data::recordingActive, uint8_t(0));
    QCOMPARE(Data::recordFileName, fileName); // kept at stop
    QCOMPARE(readFile(filePath()), header + "\"14/03/2022 14:05:29\";8888;8888;0;\r\n"
                                            "\"14/03/2022 14:05:49\";8888;8888;0;\r\n");
    // Finished at the click on stop.
    QVERIFY(m_recorder->writer().waitForIdle(5000));
    QCOMPARE(QFile::permissions(filePath()) & QFileDevice::WriteOwner, QFileDevice::Permissions());
}

void TestRecorder::recordCarriesLastValues_data() {
    QTest::addColumn<float>("setpoint");
    QTest::addColumn<float>("measure");
    QTest::addColumn<float>("power");
    QTest::addColumn<QByteArray>("values");

    QTest::newRow("before any answer") << 8888.0f << 8888.0f << 0.0f << QByteArray("8888;8888;0;");
    QTest::newRow("setpoint 250.0, temperature 249.3, power 35")
        << 2500.0f << 2493.0f << 35.0f << QByteArray("2500;2493;35;");
    QTest::newRow("temperature below zero") << 0.0f << -55.0f << 100.0f << QByteArray("0;-55;100;");
}

void TestRecorder::recordCarriesLastValues() {
    QFETCH(float, setpoint);
    QFETCH(float, measure);
    QFETCH(float, power);
    QFETCH(QByteArray, values);

    click();
    Data::setpointRaw = setpoint;
    Data::measureRaw = measure;
    Data::powerRaw = power;
    m_now = QDateTime(QDate(2022, 3, 14), QTime(14, 5, 29));
    tick();
    // No new answer in between: the next record repeats the values.
    m_now = m_now.addSecs(20);
    tick();

    QCOMPARE(readFile(filePath()), header + "\"14/03/2022 14:05:29\";" + values + "\r\n" +
                                       "\"14/03/2022 14:05:49\";" + values + "\r\n");
}

void TestRecorder::textInSystemEncoding() {
    QLocale::setDefault(QLocale(QLocale::Korean, QLocale::SouthKorea));
    click();
    m_now = QDateTime(QDate(2022, 3, 14), QTime(14, 5, 29));
    tick();

    // Qt takes the system's encoding to be UTF-8 on every Unix.
    const QByteArray record = "\"2022. 3. 14. \xEC\x98\xA4\xED\x9B\x84 2\xEC\x8B\x9C 5\xEB\xB6\x84 "
                              "29\xEC\xB4\x88\";8888;8888;0;\r\n";
    QCOMPARE(readFile(filePath()), header + record);
}

void TestRecorder::restartWithinOneSecondAppends() {
    click();
    tick();
    click();
    m_now = m_now.addMSecs(900); // still 14:05:09
    click();
    tick();

    QCOMPARE(Data::recordFileName, fileName);
    QCOMPARE(readFile(filePath()), header + "\"14/03/2022 14:05:09\";8888;8888;0;\r\n" + header +
                                       "\"14/03/2022 14:05:09\";8888;8888;0;\r\n");
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList{fileName});
}

void TestRecorder::removedFileCreatedAnewWithHeader() {
    click();
    tick();
    QVERIFY(QFile::remove(filePath()));
    m_now = m_now.addSecs(20);
    tick();

    QCOMPARE(readFile(filePath()), header + "\"14/03/2022 14:05:29\";8888;8888;0;\r\n");
}

void TestRecorder::recordingPastMidnightKeepsItsFile() {
    m_now = QDateTime(QDate(2022, 3, 14), QTime(23, 59, 50));
    click();
    m_now = QDateTime(QDate(2022, 3, 15), QTime(0, 0, 10));
    tick();

    const QString name = QStringLiteral("REC_2022-03-14_23-59-50.csv");
    QCOMPARE(Data::recordFileName, name);
    QCOMPARE(readFile(name), header + "\"15/03/2022 00:00:10\";8888;8888;0;\r\n");
}

void TestRecorder::startRefused_data() {
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<QString>("refusal");

    const QString error = QStringLiteral("Recording Error 14:05:09");
    QTest::newRow("name taken by a directory") << Obstacle::NameIsDirectory << error;
    QTest::newRow("working directory removed") << Obstacle::WorkingDirGone << error;
    QTest::newRow("medium fills up within the header") << Obstacle::SizeLimitCutsLine << error;
    QTest::newRow("medium full") << Obstacle::SizeLimitReached << error;
    QTest::newRow("folder held by another recorder")
        << Obstacle::FolderHeld
        << QStringLiteral("Not recording: this folder is being recorded by tst_recorder (PID %1, "
                          "lock file %2/.recording.lock).")
               .arg(QCoreApplication::applicationPid());
}

void TestRecorder::startRefused() {
    QFETCH(Obstacle, obstacle);
    placeObstacle(obstacle);
    if (QTest::currentTestFailed())
        return;
    QSignalSpy status(m_recorder.get(), &Recorder::statusText);
    QSignalSpy caption(m_recorder.get(), &Recorder::captionChanged);

    click();

    QCOMPARE(status.size(), 1);
    QFETCH(QString, refusal);
    QCOMPARE(status.at(0).at(0).toString(),
             refusal.replace(QLatin1String("%2"), QDir::currentPath()));
    QCOMPARE(caption.size(), 0); // still "Start recording"
    QCOMPARE(Data::recordingActive, uint8_t(0));
    // Not even part of the header may stay behind, nor an empty file.
    QVERIFY(!QFileInfo(filePath()).isFile());

    // The next tick finds no recording running.
    tick();
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Not recording."));

    // Once the obstacle is gone, the next click starts the recording.
    removeObstacle(obstacle);
    if (QTest::currentTestFailed())
        return;
    click();
    QCOMPARE(Data::recordingActive, uint8_t(255));
    QCOMPARE(caption.size(), 1);
    QCOMPARE(readFile(filePath()), header);
}

void TestRecorder::junkLockReplaced_data() {
    QTest::addColumn<QString>("junk");
    QTest::newRow("empty file, as a power cut leaves it") << "empty";
    QTest::newRow("dangling symlink") << "nowhere";
    QTest::newRow("symlink to a file that is no lock") << "notes.txt";
}

void TestRecorder::junkLockReplaced() {
    QFETCH(QString, junk);
    const QString lock = QString::fromLatin1(recording::folderLockName);
    QFile notes(QStringLiteral("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("kept\n") == 5);
    notes.close();
    QFile file(lock);
    if (junk == QLatin1String("empty"))
        QVERIFY(file.open(QIODevice::WriteOnly));
    else
        QVERIFY(QFile::link(junk, lock));
    file.close();
    click();
    QCOMPARE(Data::recordingActive, uint8_t(255));
    QVERIFY(!QFileInfo(lock).isSymLink());
    QCOMPARE(readFile(QStringLiteral("notes.txt")), QByteArray("kept\n"));
}

// A second click that the writer takes before the first one's result is
// back: each result goes to its own click.
void TestRecorder::secondClickBeforeFirstResult() {
    placeObstacle(Obstacle::NameIsDirectory);
    QSignalSpy status(m_recorder.get(), &Recorder::statusText);
    m_recorder->startStop();
    QVERIFY(m_recorder->writer().waitForIdle(10000));
    removeObstacle(Obstacle::NameIsDirectory);
    click();
    QCOMPARE(status.size(), 2);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Recording Error 14:05:09"));
    QCOMPARE(status.at(1).at(0).toString(),
             QStringLiteral("Recording in REC_2022-03-14_14-05-09.csv started."));
    QCOMPARE(Data::recordingActive, uint8_t(255));
}

void TestRecorder::tickFailureRetried_data() {
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<bool>("fileAnew"); // the file was gone, so it starts again with its header

    QTest::newRow("file replaced by a directory") << Obstacle::NameIsDirectory << true;
    QTest::newRow("file replaced by a named pipe") << Obstacle::NameIsPipe << true;
    QTest::newRow("medium fills up within the line") << Obstacle::SizeLimitCutsLine << false;
    QTest::newRow("medium full") << Obstacle::SizeLimitReached << false;
    // The failed record leaves the file it made empty: the next one still
    // starts it with the header.
    QTest::newRow("file moved away, medium full") << Obstacle::FileGoneMediumFull << true;
}

void TestRecorder::tickFailureRetried() {
    QFETCH(Obstacle, obstacle);
    QFETCH(bool, fileAnew);

    click();
    m_now = m_now.addSecs(20);
    tick();
    const QByteArray before = readFile(filePath());
    QCOMPARE(before, header + "\"14/03/2022 14:05:29\";8888;8888;0;\r\n");

    QSignalSpy status(m_recorder.get(), &Recorder::statusText);
    QSignalSpy caption(m_recorder.get(), &Recorder::captionChanged);
    placeObstacle(obstacle);
    if (QTest::currentTestFailed())
        return;
    Data::setpointRaw = 2500;
    m_now = m_now.addSecs(20);
    tick();

    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Recording Error 14:05:49"));
    QCOMPARE(Data::recordingActive, uint8_t(255));
    if (!fileAnew)
        QCOMPARE(readFile(filePath()), before); // the record is lost whole, never cut

    // The obstacle stays: every tick fails again.
    m_now = m_now.addSecs(20);
    tick();
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Recording Error 14:06:09"));

    removeObstacle(obstacle);
    if (QTest::currentTestFailed())
        return;
    m_now = m_now.addSecs(20);
    tick();
    QCOMPARE(status.last().at(0).toString(),
             QStringLiteral("Recording in progress in file REC_2022-03-14_14-05-09.csv 14:06:29"));
    const QByteArray record = "\"14/03/2022 14:06:29\";2500;8888;0;\r\n";
    QCOMPARE(readFile(filePath()), fileAnew ? header + record : before + record);
    QCOMPARE(caption.size(), 0);
}

void TestRecorder::tickSetsPeriod_data() {
    QTest::addColumn<bool>("recording");
    QTest::addColumn<int>("recordTimerMs");
    QTest::addColumn<int>("expected");

    QTest::newRow("new period, recording") << true << 5000 << 5000;
    QTest::newRow("new period, not recording") << false << 240000 << 240000;
    QTest::newRow("zero keeps the old period") << true << 0 << 20000;
    QTest::newRow("negative keeps the old period") << false << -1000 << 20000;
}

void TestRecorder::tickSetsPeriod() {
    QFETCH(bool, recording);
    QFETCH(int, recordTimerMs);
    QFETCH(int, expected);

    if (recording)
        click();
    // Closing the Parameters dialog changes only the variable...
    Data::recordTimerMs = recordTimerMs;
    QCOMPARE(m_timer.interval(), 20000);
    // ...and the next tick applies it.
    tick();
    QCOMPARE(m_timer.interval(), expected);
    QVERIFY(m_timer.isActive());
}

void TestRecorder::timerDrivesRecords() {
    // Wired as the main window wires it.
    connect(&m_timer, &QTimer::timeout, m_recorder.get(), &Recorder::tick);
    click();
    Data::recordTimerMs = 20;
    m_timer.start(10);

    QTRY_VERIFY_WITH_TIMEOUT(readFile(filePath()).count('\n') >= 4, 10000);
    QCOMPARE(m_timer.interval(), 20);
    QVERIFY(readFile(filePath()).startsWith(header + "\"14/03/2022 14:05:09\";8888;8888;0;\r\n"));
}

// While the medium holds a record, ticks return at once and their records
// are lost and told; the held one is reported once it is written.
void TestRecorder::stalledMediumCostsRecordsNotTime() {
    click();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    m_recorder->writer().setAppendFunction([released](const QString& name, const QString& text) {
        released.wait();
        return recording::appendToRecordFile(name, text);
    });
    QSignalSpy status(m_recorder.get(), &Recorder::statusText);
    m_now = m_now.addSecs(20);
    m_recorder->tick();
    m_now = m_now.addSecs(20);
    m_recorder->tick();
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Recording Error 14:05:49"));

    release.set_value();
    settle();
    QCOMPARE(status.last().at(0).toString(),
             QStringLiteral("Recording in progress in file REC_2022-03-14_14-05-09.csv 14:05:29"));
    QCOMPARE(readFile(filePath()), header + "\"14/03/2022 14:05:29\";8888;8888;0;\r\n");
}

// Notes the file's size when it is finished.
class SizeAtFinish : public recording::FileCompanion {
public:
    void aboutToWrite(const QString&, qint64, const QByteArray&) override {}
    void written(const QString&, const recording::AppendOutcome&) override {}
    void finished(const QString& fileName) override { size = QFileInfo(fileName).size(); }
    qint64 size = -1;
};

void TestRecorder::finishWaitsForTheRecordBeforeIt() {
    // Another writer's record holds the write thread; this writer's record
    // and then the finish of its file wait behind it, in the order asked.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    recording::RecordWriter stalled;
    stalled.setAppendFunction([released](const QString&, const QString&) {
        released.wait();
        return true;
    });
    recording::RecordWriter writer;
    const auto companion = std::make_shared<SizeAtFinish>();
    writer.setCompanion(companion);
    const QString name = QDir::current().filePath(QStringLiteral("REC_order.csv"));
    QVERIFY(stalled.append(name + QStringLiteral(".other"), QStringLiteral("x"), m_now));
    QVERIFY(writer.append(name, QStringLiteral("1;2;3;"), m_now));
    writer.finish(name);
    release.set_value();
    QVERIFY(writer.waitForIdle(20000));
    QVERIFY(QFileInfo(name).size() > 0);
    QCOMPARE(companion->size, QFileInfo(name).size());
}

QTEST_GUILESS_MAIN(TestRecorder)
#include "tst_recorder.moc"
