// Whatever conf.ini holds, and whatever the Parameters dialog lets through,
// the program must start, draw its panel and graph, and poll: a bad setting
// may cost the connection (with the start-up message), never the program.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <QTimer>
#include <optional>

#include "Data.h"
#include "Form1.h"
#include "GraphBox.h"
#include "Parameters_dialog.h"
#include "ProgramState.h"
#include "Pty.h"
#include "WaitUntil.h"

#include <cmath>

using app::Form1;

namespace {

// Generous: the waits end on their condition, and a loaded machine is slow.
constexpr int waitMs = 20000;
const QByteArray section = "[TK840 TK960 PC control]\n";
// The poll request and the protocol's own example answer: 215.3 degrees,
// setpoint 200.
const QByteArray pollRequest = QByteArray::fromHex("0903000100035543");
const QByteArray exampleAnswer = QByteArray::fromHex("090306086907D0002DDB64");

// Texts that have broken settings readers somewhere: empty, signs alone,
// overflows, special floats, separators, control bytes, long runs.
const QList<QByteArray> hostileValues = {
    "",          " ",        "-",       "+",       "abc",        "0",          "-0",
    "1",         "-1",       "50",      "51",      "32767",      "32768",      "-32768",
    "-32769",    "65535",    "1e38",    "-1e38",   "3.5e38",     "1e999",      "-1e999",
    "1e-45",     "1e-999",   "nan",     "inf",     "-inf",       "0x10",       "1,5",
    "1.5.5",     "12abc",    " -12abc", "\t7",     "9600,e,7,2", "9600;n;8;1", "\xff\xfe",
    "\xc3\xa9",  "\x01\x02", "=",       "[Ports]", "; comment",  "300 ",       "1e10",
    "2147483648"};

// Port numbers that name a device; any other names none.
const QList<int> terminalPorts = {1, 2, 3, 5, 7, 12, 50};

// What a start on a conf.ini must come to.
enum class Outcome {
    Polls,  // the port opens, no message, the poll is answered
    NoPort, // the start-up message, "Not connected" at the poll
    Either, // one of the two, consistently
};

const char* const settingKeys[] = {"ComPortNum", "ComPortSpeed", "interv_record",
                                   "Yvaluemin",  "Yvaluemax",    "Echelle_Temps"};

} // namespace

class TestBadSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startsDrawsAndPolls_data();
    void startsDrawsAndPolls();
    void seededRandomConfFiles();
    void dialogValuesKeepProgramWorking_data();
    void dialogValuesKeepProgramWorking();

private:
    // Starts the program on conf.ini as it is, draws, polls once and takes a
    // record.
    void runProgram(Outcome outcome);
    void writeConf(const QByteArray& text);

    std::optional<ProgramState> m_state;
    QStringList m_messages;
    QTime m_clock;
};

void TestBadSettings::init() {
    m_state.emplace();
    QVERIFY(m_state->isValid());
    m_messages.clear();
    m_clock = QTime(9, 0, 0);
}

void TestBadSettings::cleanup() {
    m_state.reset();
}

void TestBadSettings::writeConf(const QByteArray& text) {
    QFile file(QStringLiteral("conf.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

void TestBadSettings::runProgram(Outcome outcome) {
    Data::resetAll();
    m_messages.clear();
    for (const QString& name : QDir().entryList({QStringLiteral("*.csv")}))
        QVERIFY(QFile::remove(name));
    Pty pty;
    QVERIFY(pty.isValid());

    app::Form1Seams seams;
    // The numbers the settings below come to name the test's terminal. Not
    // all fifty: every open takes a lock file that is synced to the disk.
    seams.deviceForPort = [&pty](int n) {
        return terminalPorts.contains(n) ? pty.path() : QString();
    };
    seams.showError = [this](const QString&, const QString& text, const QString&) {
        m_messages << text;
    };
    // The run's dialog would wait for a click.
    seams.runAsks.identity = [](const sealing::RunIdentity& last) { return std::optional(last); };
    seams.now = [this] { return QDateTime(QDate(2024, 6, 1), m_clock); };

    const QByteArray confBefore = [] {
        QFile file(QStringLiteral("conf.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    Form1 form(seams);
    form.show();
    const bool pollExpected = Data::portConnected;
    // The serial layer's own words, for a port that did not open though it should have.
    if (outcome != Outcome::Either)
        QVERIFY2(pollExpected == (outcome == Outcome::Polls),
                 qPrintable(QStringLiteral("port connected: %1; last failure: %2")
                                .arg(pollExpected)
                                .arg(form.serialPort().failureReason())));
    QCOMPARE(m_messages.size(), pollExpected ? 0 : 1);

    // Draws: trace ticks over a few seconds, then the whole window.
    auto* trace = form.findChild<QTimer*>("timerTraceCurves");
    for (int i = 0; i < 3; ++i) {
        m_clock = m_clock.addSecs(3);
        QMetaObject::invokeMethod(trace, "timeout");
    }
    const QImage graph = form.findChild<display::GraphBox*>("Graph")->picture();
    int lit = 0;
    for (int y = 0; y < graph.height(); y += 2)
        for (int x = 0; x < graph.width(); ++x)
            lit += graph.pixel(x, y) != qRgb(0, 0, 0);
    // The grid is drawn even when the settings give no usable scale.
    QVERIFY2(lit > 1000, qPrintable(QString::number(lit)));
    QVERIFY(!form.grab().isNull());

    // Polls.
    auto* poll = form.findChild<QTimer*>("timerGetFromControler");
    auto* status = form.findChild<QLineEdit*>("status_field");
    QMetaObject::invokeMethod(poll, "timeout");
    if (pollExpected) {
        QCOMPARE(pty.read(pollRequest.size()), pollRequest);
        QVERIFY(pty.write(exampleAnswer));
        auto* measure = form.findChild<QLineEdit*>("meas_box");
        waitUntil([&] { return measure->text() == QLatin1String("215.3"); }, waitMs);
        QCOMPARE(measure->text(), QStringLiteral("215.3"));
        QCOMPARE(form.findChild<QLineEdit*>("setp_box")->text(), QStringLiteral("200"));
        QVERIFY(status->text().startsWith(QStringLiteral("Data received from controler ")));
    } else {
        QCOMPARE(status->text(), QStringLiteral("Not connected"));
    }
    m_clock = m_clock.addSecs(3);
    QMetaObject::invokeMethod(trace, "timeout");

    // Records what it shows.
    auto* recordKey = form.findChild<QAbstractButton*>("Start_stop_recording");
    recordKey->click();
    waitUntil([&] { return recordKey->text() == QLatin1String("Stop recording"); }, waitMs);
    QCOMPARE(recordKey->text(), QStringLiteral("Stop recording"));
    QMetaObject::invokeMethod(form.findChild<QTimer*>("timerRecording"), "timeout");
    QVERIFY(form.findChild<QTimer*>("timerRecording")->isActive());
    auto* recordStatus = form.findChild<QLineEdit*>("recording_field");
    QVERIFY(waitUntil(
        [&] { return recordStatus->text().startsWith(QLatin1String("Recording in progress")); },
        waitMs));
    QFile record(Data::recordFileName);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = record.readAll().split('\n');
    QCOMPARE(lines.size(), 3); // header, one record, the empty rest
    QVERIFY2(lines[1].contains(pollExpected ? ";2000;2153;45;" : ";8888;8888;0;"), lines[1]);
    record.close();
    QVERIFY(QFile::remove(Data::recordFileName));

    form.close();
    QFile after(QStringLiteral("conf.ini"));
    QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), confBefore);
}

void TestBadSettings::startsDrawsAndPolls_data() {
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<int>("outcome");

    // One hostile value in each key, the others left to their defaults. The
    // port number is the value's leading number, rounded, or 1 when that is
    // not a 16-bit number; only 1 to 50 name the test's terminal.
    const QList<QByteArray> portsThatOpen = {
        "1",     "50",   "\t7",   "1,5",    "1.5.5", "12abc",  "32768", "-32769",
        "65535", "1e38", "-1e38", "3.5e38", "1e999", "-1e999", "1e10",  "2147483648"};
    // A speed must be a positive whole number; odd ones are up to the
    // terminal driver, and either outcome is fine as long as it is reported.
    const QList<QByteArray> speedsThatCannotOpen = {
        "",           " ",          "-",        "+",        "abc",   "0",       "-0",
        "-1",         "-32768",     "-32769",   "nan",      "inf",   "-inf",    "1e-45",
        "1e-999",     "\xff\xfe",   "\xc3\xa9", "\x01\x02", "=",     "[Ports]", "; comment",
        "9600,e,7,2", "9600;n;8;1", "1.5.5",    "-1e38",    "-1e999"};
    for (const char* key : settingKeys) {
        for (const QByteArray& value : hostileValues) {
            Outcome outcome = Outcome::Polls;
            if (qstrcmp(key, "ComPortNum") == 0)
                outcome = portsThatOpen.contains(value) ? Outcome::Polls : Outcome::NoPort;
            else if (qstrcmp(key, "ComPortSpeed") == 0)
                outcome = speedsThatCannotOpen.contains(value) ? Outcome::NoPort : Outcome::Either;
            QTest::addRow("%s=%s", key, value.toHex().constData())
                << (section + key + "=" + value + "\n") << int(outcome);
        }
    }

    QTest::newRow("empty file") << QByteArray() << int(Outcome::Polls);
    QTest::newRow("binary only") << QByteArray("\x00\xff\x01[\x00]\n=\xfe", 9)
                                 << int(Outcome::Polls);
    // Keys outside the program's section are not its settings: port 1 at 19200.
    QTest::newRow("keys without section")
        << QByteArray("ComPortNum=77\nComPortSpeed=abc\n") << int(Outcome::Polls);
    QTest::newRow("section twice, later one ignored")
        << (section + "ComPortNum=2\nComPortSpeed=9600\n" + section + "ComPortNum=abc\n")
        << int(Outcome::Polls);
    QTest::newRow("CRLF and BOM")
        << ("\xef\xbb\xbf" +
            QByteArray(section + "ComPortNum=2\nComPortSpeed=9600\n").replace("\n", "\r\n"))
        << int(Outcome::Polls);
    QTest::newRow("line of 200 KB") << (section + "Yvaluemax=" + QByteArray(200000, '9') + "\n" +
                                        "ComPortNum=2\nComPortSpeed=9600\n")
                                    << int(Outcome::Polls);
    QTest::newRow("NUL inside a value")
        << (section + QByteArray("ComPortNum=2\0junk\nComPortSpeed=9600\n", 36))
        << int(Outcome::Polls);
    QTest::newRow("range upside down, no time")
        << (section + "ComPortNum=3\nComPortSpeed=9600\nYvaluemin=300\nYvaluemax=0\n"
                      "Echelle_Temps=0\ninterv_record=0\n")
        << int(Outcome::Polls);
    QTest::newRow("everything at the float limits")
        << (section + "ComPortNum=3\nComPortSpeed=9600\nYvaluemin=-3.4e38\nYvaluemax=3.4e38\n"
                      "Echelle_Temps=3.4e38\ninterv_record=-32768\n")
        << int(Outcome::Polls);
    QTest::newRow("tiny range and tiny time scale")
        << (section + "ComPortNum=3\nComPortSpeed=9600\nYvaluemin=1e-38\nYvaluemax=2e-38\n"
                      "Echelle_Temps=1e-38\n")
        << int(Outcome::Polls);
}

void TestBadSettings::startsDrawsAndPolls() {
    QFETCH(QByteArray, conf);
    QFETCH(int, outcome);
    writeConf(conf);
    runProgram(Outcome(outcome));
}

void TestBadSettings::seededRandomConfFiles() {
    // conf.ini files made of pieces of real ones and of the hostile values,
    // in any order, with broken lines between. The port is always good, so
    // every one of them must poll.
    QRandomGenerator random(20261208);
    const QList<QByteArray> pieces = {section, "[Ports]\n", "[other]\n", "\n",      "garbage\n",
                                      "=\n",   "[\n",       "]x[\n",     "; note\n"};
    for (int file = 0; file < 100; ++file) {
        // The first line of a key counts, so the port comes first and the
        // random lines follow in the same section, until one of them starts
        // another.
        QByteArray text = section + "ComPortNum=5\nComPortSpeed=19200\n";
        const int lines = random.bounded(1, 20);
        for (int i = 0; i < lines; ++i) {
            if (random.bounded(3) == 0) {
                text += pieces[random.bounded(int(pieces.size()))];
                continue;
            }
            QByteArray value = hostileValues[random.bounded(int(hostileValues.size()))];
            if (random.bounded(4) == 0) {
                for (int b = random.bounded(1, 12); b > 0; --b)
                    value += char(random.bounded(256));
                value.replace('\n', ' ');
            }
            text += QByteArray(settingKeys[random.bounded(6)]) + "=" + value + "\n";
        }
        writeConf(text);
        runProgram(Outcome::Polls);
        if (QTest::currentTestFailed()) {
            qWarning() << "conf.ini was" << text.toHex();
            return;
        }
    }
}

void TestBadSettings::dialogValuesKeepProgramWorking_data() {
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("minimum");
    QTest::addColumn<QString>("maximum");
    QTest::addColumn<QString>("timeScale");

    QTest::newRow("list values") << "10"
                                 << "0"
                                 << "300"
                                 << "10";
    QTest::newRow("longest list interval") << "240"
                                           << "-50"
                                           << "50"
                                           << "5000";
    QTest::newRow("zero interval and time scale") << "0"
                                                  << "0"
                                                  << "300"
                                                  << "0";
    QTest::newRow("negative interval and scale") << "-32768"
                                                 << "-10"
                                                 << "-20"
                                                 << "-10";
    QTest::newRow("largest whole interval") << "32767"
                                            << "100"
                                            << "100"
                                            << "32767";
    QTest::newRow("float limits") << "1"
                                  << "-3.4e38"
                                  << "3.4e38"
                                  << "3.4e38";
    QTest::newRow("denormals") << "1"
                               << "1e-45"
                               << "2e-45"
                               << "1e-45";
    QTest::newRow("huge time scale") << "20"
                                     << "0"
                                     << "300"
                                     << "1e30";
}

void TestBadSettings::dialogValuesKeepProgramWorking() {
    QFETCH(QString, interval);
    QFETCH(QString, minimum);
    QFETCH(QString, maximum);
    QFETCH(QString, timeScale);

    writeConf(section + "ComPortNum=2\nComPortSpeed=9600\n");
    {
        Pty pty;
        app::Form1Seams seams;
        seams.deviceForPort = [&pty](int n) { return n == 2 ? pty.path() : QString(); };
        seams.showError = [this](const QString&, const QString& text, const QString&) {
            m_messages << text;
        };
        Form1 form(seams);
        form.show();
        form.showParameters();
        settings::Parameters_dialog* dialog = form.parametersDialog();
        QVERIFY(dialog);
        dialog->findChild<QComboBox*>("Combo3")->setEditText(interval);
        dialog->findChild<QPushButton*>("Command3")->click();
        dialog->findChild<QLineEdit*>("min_box")->setText(minimum);
        dialog->findChild<QLineEdit*>("max_box")->setText(maximum);
        dialog->findChild<QLineEdit*>("temps_box")->setText(timeScale);
        dialog->findChild<QPushButton*>("Apply")->click();
        QVERIFY2(dialog->findChild<QLabel*>("refusedLabel")->text().isEmpty(),
                 qPrintable(dialog->findChild<QLabel*>("refusedLabel")->text()));
        dialog->findChild<QPushButton*>("OKButton")->click();
        QCOMPARE(Data::intervRecord, int16_t(interval.toInt()));
        QCOMPARE(Data::timeScale, timeScale.toFloat());

        // The running program draws and polls with the new values.
        QMetaObject::invokeMethod(form.findChild<QTimer*>("timerTraceCurves"), "timeout");
        QMetaObject::invokeMethod(form.findChild<QTimer*>("timerGetFromControler"), "timeout");
        QCOMPARE(pty.read(pollRequest.size()), pollRequest);
        QVERIFY(pty.write(exampleAnswer));
        auto* measure = form.findChild<QLineEdit*>("meas_box");
        waitUntil([&] { return measure->text() == QLatin1String("215.3"); }, waitMs);
        QCOMPARE(measure->text(), QStringLiteral("215.3"));
        QMetaObject::invokeMethod(form.findChild<QTimer*>("timerTraceCurves"), "timeout");
        QMetaObject::invokeMethod(form.findChild<QTimer*>("timerRecording"), "timeout");
        QVERIFY(form.findChild<QTimer*>("timerRecording")->isActive());
        QVERIFY(form.findChild<QTimer*>("timerRecording")->interval() > 0);
        QVERIFY(!form.grab().isNull());
        form.close();
    }
    // And the next start, on what Close saved, does too.
    runProgram(Outcome::Polls);
    QCOMPARE(Data::intervRecord, int16_t(interval.toInt()));
}

QTEST_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
