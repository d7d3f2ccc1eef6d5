// tkrecord sharing its values with the real parts a plant has: Debian's
// mosquitto broker and mosquitto_sub, and mbpoll as another Modbus master,
// against tksim's controllers.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

#include "MosquittoProcess.h"
#include "TksimProcess.h"

namespace {

constexpr int waitMs = 30000;

void writeConf(const QString& dir, const QString& device, const QByteArray& more) {
    QFile conf(dir + QStringLiteral("/conf.ini"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Ports]\n1=" + QFile::encodeName(device) +
               "\n[TK840 TK960 PC control]\nComPortNum=1\ninterv_record=1\n" + more);
}

// What tkrecord printed until a line holds what, or timeoutMs passes.
bool waitForOutput(QProcess& process, QByteArray& said, const QByteArray& what, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!(said += process.readAllStandardOutput()).contains(what))
        if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    return true;
}

// mbpoll once against the share; its whole output.
QByteArray mbpoll(quint16 port, int unit, const QStringList& more) {
    QProcess poll;
    poll.setProcessChannelMode(QProcess::MergedChannels);
    poll.start(QStringLiteral("mbpoll"), QStringList{"-m", "tcp", "-p", QString::number(port), "-a",
                                                     QString::number(unit), "-0", "-1", "-o", "5"} +
                                             more);
    poll.waitForFinished(waitMs);
    return poll.readAll();
}

} // namespace

class TestTkrecordSharing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void publishesAndSharesThreeControllers();
    void brokerLogin_data();
    void brokerLogin();
    void brokerRestartLosesNoRecord();

private:
    std::optional<QTemporaryDir> m_dir;
    QString m_folder;
};

void TestTkrecordSharing::init() {
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    m_folder = m_dir->filePath(QStringLiteral("line2"));
    QVERIFY(QDir().mkpath(m_folder));
}

// Retained states of three controllers, one silenced: its alarm event and its
// exception 11 at the share; the share refusing a write; offline as the
// recorder's last will once it is killed.
void TestTkrecordSharing::publishesAndSharesThreeControllers() {
    MosquittoProcess broker;
    QVERIFY2(broker.start(waitMs), broker.log().constData());
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--fixed", "2153,2000,45", "--silence", "11@4"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_folder, sim.link(),
              "[Controllers]\noven1=9\noven2=10\noven3=11\n[Alarms]\nLinkLostAfter=5\n"
              "[MQTT]\nBroker=" +
                  broker.url().toUtf8() +
                  "\nDiscovery=homeassistant\n[Share]\nListen=127.0.0.1:0\n");
    const std::unique_ptr<QProcess> live =
        broker.subscribe(QStringLiteral("tkcontrol/#"), {"-t", "homeassistant/#"});
    QVERIFY(broker.waitForLog("Received SUBSCRIBE", waitMs));

    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", m_folder, "--no-seal"});
    QByteArray said;
    QVERIFY2(waitForOutput(tkrecord, said,
                           "MQTT connected to " + broker.url().toUtf8() +
                               ", publishing under tkcontrol/line2/\n",
                           waitMs),
             said.constData());
    const QRegularExpressionMatch share =
        QRegularExpression("Modbus TCP share at 127.0.0.1:(\\d+)\n").match(QString::fromUtf8(said));
    QVERIFY2(share.hasMatch(), said.constData());
    const auto sharePort = quint16(share.captured(1).toUInt());

    QByteArray seen;
    QCOMPARE(waitForLine(*live, seen, "tkcontrol/line2/status ", waitMs),
             QByteArray("tkcontrol/line2/status online"));
    const QByteArray current = "{\"alarms\":[],\"link\":\"up\",\"power\":45,\"setpoint\":200,"
                               "\"temperature\":215.3,\"time\":\"";
    for (const char* name : {"oven1", "oven2"})
        QVERIFY2(!waitForLine(*live, seen,
                              "tkcontrol/line2/" + QByteArray(name) + "/state " + current, waitMs)
                      .isEmpty(),
                 seen.constData());
    const QByteArray event =
        waitForLine(*live, seen, R"(tkcontrol/line2/oven3/event {"alarm":"link")", waitMs);
    QVERIFY2(
        event.startsWith("tkcontrol/line2/oven3/event {\"alarm\":\"link\",\"event\":\"raised\","
                         "\"time\":\""),
        seen.constData());
    // The silent controller's values go null, never 888.8.
    const QByteArray stale = "tkcontrol/line2/oven3/state {\"alarms\":[],\"link\":\"down\","
                             "\"power\":null,\"setpoint\":null,\"temperature\":null";
    QVERIFY2(!waitForLine(*live, seen, stale, waitMs).isEmpty(), seen.constData());
    QVERIFY2(!waitForLine(*live, seen,
                          "homeassistant/sensor/tkrecord_tkcontrol_line2_oven2/temperature/config "
                          "{\"availability_topic\":\"tkcontrol/line2/status\",",
                          waitMs)
                  .isEmpty(),
             seen.constData());
    QVERIFY(!seen.contains("888.8"));

    // Another master reads what the recorder read; the silent one fails as
    // behind a gateway; a write goes nowhere.
    for (const int unit : {9, 10}) {
        const QByteArray read = mbpoll(sharePort, unit, {"-r", "1", "-c", "3", "127.0.0.1"});
        QVERIFY2(read.contains("[1]: \t2153\n[2]: \t2000\n[3]: \t45\n"), read.constData());
    }
    const QByteArray silent = mbpoll(sharePort, 11, {"-r", "1", "-c", "3", "127.0.0.1"});
    QVERIFY2(silent.contains("Target device failed to respond"), silent.constData());
    const QByteArray write = mbpoll(sharePort, 9, {"-r", "2", "127.0.0.1", "1800"});
    QVERIFY2(write.contains("Illegal function"), write.constData());
    QVERIFY(!sim.logLines().join('\n').contains(QStringLiteral("write")));

    ::kill(pid_t(tkrecord.processId()), SIGKILL);
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(waitForLine(*live, seen, "tkcontrol/line2/status offline", waitMs),
             QByteArray("tkcontrol/line2/status offline"));
    // A subscriber that comes later still finds every controller's last state.
    const std::unique_ptr<QProcess> later =
        broker.subscribe(QStringLiteral("tkcontrol/line2/+/state"), {"--retained-only", "-C", "3"});
    QVERIFY(later->waitForFinished(waitMs));
    const QByteArray retained = later->readAllStandardOutput();
    QVERIFY2(retained.contains("tkcontrol/line2/oven1/state " + current) &&
                 retained.contains("tkcontrol/line2/oven2/state " + current) &&
                 retained.contains("tkcontrol/line2/oven3/state {\"alarms\":[\"link\"],"
                                   "\"link\":\"down\",\"power\":null,\"setpoint\":null,"
                                   "\"temperature\":null,\"time\":\""),
             retained.constData());
    live->terminate();
    live->waitForFinished(waitMs);
}

void TestTkrecordSharing::brokerLogin_data() {
    QTest::addColumn<QString>("password"); // the recorder's
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherCa");
    QTest::addColumn<QByteArray>("expected"); // a line of the recorder, or of its refusal

    QTest::newRow("login over tls")
        << "s3cret" << 0600 << false << QByteArray("MQTT connected to ");
    QTest::newRow("wrong password")
        << "guess" << 0600 << false
        << QByteArray(
               "(Connection Refused: not authorised.); trying again in 1 s, then less often");
    QTest::newRow("unknown authority")
        << "s3cret" << 0600 << true << QByteArray("certificate verify failed");
    QTest::newRow("password file open to others")
        << "s3cret" << 0640 << false
        << QByteArray("has mode 0640, open to others; it must be 0600: refused");
}

// TLS with a CA the test made and a password file only the recorder reads.
void TestTkrecordSharing::brokerLogin() {
    QFETCH(QString, password);
    QFETCH(int, mode);
    QFETCH(bool, otherCa);
    QFETCH(QByteArray, expected);

    MosquittoProcess broker(true, {QStringLiteral("recorder"), QStringLiteral("s3cret")});
    QVERIFY2(broker.start(waitMs), broker.log().constData());
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    const QString passwordFile = m_dir->filePath(QStringLiteral("mqtt.pw"));
    QFile file(passwordFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(password.toUtf8() + '\n');
    file.close();
    QVERIFY(::chmod(QFile::encodeName(passwordFile).constData(), mode_t(mode)) == 0);
    writeConf(m_folder, sim.link(),
              "[MQTT]\nBroker=" + broker.url().toUtf8() +
                  "\nUser=recorder\nPasswordFile=" + QFile::encodeName(passwordFile) + "\nCAFile=" +
                  QFile::encodeName(otherCa ? broker.otherCaFile() : broker.caFile()) + "\n");
    const std::unique_ptr<QProcess> live = broker.subscribe(QStringLiteral("tkcontrol/#"));
    QVERIFY(broker.waitForLog("Received SUBSCRIBE", waitMs));

    QProcess tkrecord;
    tkrecord.setProcessChannelMode(QProcess::MergedChannels);
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", m_folder, "--no-seal"});
    QByteArray said;
    QVERIFY2(waitForOutput(tkrecord, said, expected, waitMs), said.constData());
    if (mode != 0600) {
        QVERIFY(tkrecord.waitForFinished(waitMs));
        QCOMPARE(tkrecord.exitCode(), 1);
        QVERIFY2(
            said.startsWith("tkrecord: [MQTT] PasswordFile: " + QFile::encodeName(passwordFile)),
            said.constData());
        live->terminate();
        live->waitForFinished(waitMs);
        return;
    }
    if (expected.startsWith("MQTT connected")) {
        QByteArray seen;
        QCOMPARE(waitForLine(*live, seen, "tkcontrol/line2/status ", waitMs),
                 QByteArray("tkcontrol/line2/status online"));
    }
    QVERIFY(!said.contains(password.toUtf8()));
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    live->terminate();
    live->waitForFinished(waitMs);
}

// The broker stopped and started again while recording: every record is
// written, the recorder says why it is not connected, and the retained state
// comes back without anything to ask for it.
void TestTkrecordSharing::brokerRestartLosesNoRecord() {
    MosquittoProcess broker;
    QVERIFY2(broker.start(waitMs), broker.log().constData());
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    writeConf(m_folder, sim.link(), "[MQTT]\nBroker=" + broker.url().toUtf8() + "\n");
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", m_folder, "--no-seal"});
    QByteArray said;
    QVERIFY2(waitForOutput(tkrecord, said, "answers from the controller\n", waitMs),
             said.constData());
    QVERIFY2(waitForOutput(tkrecord, said, "MQTT connected", waitMs), said.constData());
    QVERIFY(broker.stop(waitMs));
    QVERIFY2(waitForOutput(tkrecord, said, "MQTT not connected to " + broker.url().toUtf8() + " (",
                           waitMs),
             said.constData());
    const auto records = [&] {
        const QStringList files = QDir(m_folder).entryList({QStringLiteral("REC_*.csv")});
        QFile csv(QDir(m_folder).filePath(files.value(0)));
        QList<QByteArray> lines;
        if (csv.open(QIODevice::ReadOnly))
            lines = csv.readAll().split('\n').mid(1);
        lines.removeAll(QByteArray());
        return lines;
    };
    const qsizetype before = records().size();
    // Records go on while the broker is away.
    QTRY_VERIFY_WITH_TIMEOUT(records().size() >= before + 3, waitMs);
    QVERIFY(broker.start(waitMs));
    // Only what it says from now on.
    QByteArray afterRestart;
    QVERIFY2(waitForOutput(tkrecord, afterRestart, "MQTT connected", waitMs),
             afterRestart.constData());
    said += afterRestart;
    const std::unique_ptr<QProcess> later = broker.subscribe(
        QStringLiteral("tkcontrol/line2/controller/state"), {"--retained-only", "-C", "1"});
    QVERIFY(later->waitForFinished(waitMs));
    QVERIFY2(later->readAllStandardOutput().startsWith(
                 "tkcontrol/line2/controller/state {\"alarms\":[],\"link\":\"up\",\"power\":45,"),
             said.constData());
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    said += tkrecord.readAllStandardOutput();
    QVERIFY2(!said.contains("record error"), said.constData());
    QList<QByteArray> lines = records();
    const QByteArray written = lines.join('\n');
    QVERIFY2(lines.size() >= before + 3, written.constData());
    // From the first answer on, every record holds the controller's values:
    // at least the three written while the broker was away.
    while (!lines.isEmpty() && lines.first().contains(";8888;8888;0;"))
        lines.removeFirst();
    QVERIFY2(lines.size() >= 3, written.constData());
    for (const QByteArray& line : lines)
        QVERIFY2(line.endsWith("\";2000;2153;45;\r"), line.constData());
}

QTEST_GUILESS_MAIN(TestTkrecordSharing)
#include "tst_tkrecord_sharing.moc"
