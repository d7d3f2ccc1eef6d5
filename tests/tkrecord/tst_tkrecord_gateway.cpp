// tkrecord through both kinds of gateway: Modbus TCP to tksim's own TCP
// server, and RTU over TCP through Debian's ser2net in front of tksim's
// pseudo-terminal.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "Ser2net.h"
#include "TksimProcess.h"

namespace {

constexpr int waitMs = 30000;
const QString noValues = QStringLiteral("8888;8888;0");

void writeConf(const QString& dir, const QString& port, const QString& more) {
    QFile conf(dir + QStringLiteral("/conf.ini"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Ports]\n1=%1\n[TK840 TK960 PC control]\nComPortNum=1\n"
                              "interv_record=1\n%2")
                   .arg(port, more)
                   .toUtf8());
}

// "S;M;P" of each record of the one file in folder.
QStringList records(const QString& folder) {
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("REC_*.csv")});
    if (files.size() != 1)
        return {};
    QFile file(dir.filePath(files[0]));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList values;
    static const QRegularExpression record(QStringLiteral("^\"[^\"]+\";(-?\\d+;-?\\d+;-?\\d+);"));
    for (const QByteArray& line : file.readAll().split('\n').mid(1)) {
        const QRegularExpressionMatch m = record.match(QString::fromUtf8(line));
        if (m.hasMatch())
            values << m.captured(1);
    }
    return values;
}

QByteArray scrape(quint16 port) {
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    client.write("GET /metrics HTTP/1.0\r\n\r\n");
    QByteArray got;
    while (client.waitForReadyRead(waitMs))
        got += client.readAll();
    return got + client.readAll();
}

} // namespace

class TestTkrecordGateway : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void modbusTcpWithASilentController();
    void rtuOverTcpThroughSer2netRestarted();
};

// Three controllers behind one Modbus TCP gateway, the third silent: the other
// two keep their records and labelled metrics, and the one connection is
// never closed for it.
void TestTkrecordGateway::modbusTcpWithASilentController() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--setpoint", "200,150,100", "--silent", "11"},
                     TksimProcess::Line::Tcp);
    QVERIFY(sim.start(waitMs));
    QTemporaryDir dir;
    // The longest answer time-out: an answer slowed by a loaded machine is
    // not taken for a silent controller.
    writeConf(dir.path(), sim.link(),
              "[Controllers]\noven1=9\noven2=10\noven3=11\n[Bus]\nAnswerTimeout=1000\n");
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {"--dir", dir.path(), "--no-seal", "--metrics", "127.0.0.1:0"});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += tkrecord.readAllStandardOutput()).contains("/metrics\n"),
                             waitMs);
    // The start line names the gateway, not a speed its line does not use.
    QVERIFY2(said.contains(": port 1 (gateway " + sim.link().toUtf8() +
                           "), a record every 1 s, controllers oven1 at 9, oven2 at 10, "
                           "oven3 at 11\n"),
             said.constData());
    // The silent one asked three times, so stale; then three more polls of
    // the two that answer, the silent one asked between.
    const auto asked = [&sim](const char* line) { return sim.logLines().filter(line).size(); };
    QTRY_VERIFY_WITH_TIMEOUT(asked("@11 silent read 1..3") >= 3, waitMs);
    const qsizetype silentAsked = asked("@11 silent read 1..3");
    const qsizetype oven1Answered = asked("@9 answer");
    const qsizetype oven2Answered = asked("@10 answer");
    QTRY_VERIFY_WITH_TIMEOUT(asked("@9 answer") >= oven1Answered + 3 &&
                                 asked("@10 answer") >= oven2Answered + 3 &&
                                 asked("@11 silent read 1..3") > silentAsked,
                             waitMs);
    // Before its first answer a controller has no values to record; from it
    // on, every record holds values.
    for (const char* oven : {"oven1", "oven2"}) {
        QStringList values = records(dir.filePath(oven));
        while (!values.isEmpty() && values.first() == noValues)
            values.removeFirst();
        QVERIFY2(!values.isEmpty() && values.filter(noValues).isEmpty(),
                 qPrintable(values.join(' ')));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!records(dir.filePath("oven3")).isEmpty(), waitMs);
    QVERIFY2(records(dir.filePath("oven3")).filter(noValues).size() ==
                 records(dir.filePath("oven3")).size(),
             qPrintable(records(dir.filePath("oven3")).join(' ')));
    QVERIFY(records(dir.filePath("oven1")).last().startsWith("2000;"));
    QVERIFY(records(dir.filePath("oven2")).last().startsWith("1500;"));

    const qsizetype at = said.indexOf("metrics at http://127.0.0.1:") + 28;
    const QByteArray metrics =
        scrape(quint16(said.mid(at, said.indexOf("/metrics\n") - at).toUInt()));
    for (const char* sample :
         {"\ntk_link_up{controller=\"oven1\",address=\"9\"} 1\n",
          "\ntk_link_up{controller=\"oven2\",address=\"10\"} 1\n",
          "\ntk_link_up{controller=\"oven3\",address=\"11\"} 0\n",
          "\ntk_setpoint_celsius{controller=\"oven2\",address=\"10\"} 150\n",
          "\ntk_polls_total{controller=\"oven1\",address=\"9\",result=\"no_answer\"} 0\n",
          "\ntk_polls_total{controller=\"oven2\",address=\"10\",result=\"no_answer\"} 0\n"})
        QVERIFY2(metrics.contains(sample), metrics.constData());
    QVERIFY2(QString::fromUtf8(metrics).contains(QRegularExpression(
                 "\ntk_polls_total\\{controller=\"oven3\",address=\"11\",result=\"no_answer\"\\} "
                 "[1-9]\\d*\n")),
             metrics.constData());

    // One connection from the start to the end.
    QCOMPARE(sim.logLines().filter(QRegularExpression("^(dis)?connected$")),
             QStringList{"connected"});
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    said += tkrecord.readAllStandardOutput();
    QCOMPARE(said.count(" connected\n"), 1);
    QVERIFY2(!said.contains("not connected"), said.constData());
}

// A serial server killed and started again: the connection is told lost,
// then values come back by themselves.
void TestTkrecordGateway::rtuOverTcpThroughSer2netRestarted() {
    if (!ser2netInstalled())
        QSKIP("ser2net is not installed (scripts/test.sh installs it)");
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--fixed", "2153,2000,45"});
    QVERIFY(sim.start(waitMs));
    Ser2net server(sim.link(), 19200);
    QVERIFY(server.start(waitMs));
    QTemporaryDir dir;
    writeConf(dir.path(), server.address(), {});
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH), {"--dir", dir.path(), "--no-seal"});
    QByteArray said;
    const auto saidNow = [&] { return said += tkrecord.readAllStandardOutput(); };
    const QByteArray gateway = server.address().toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(saidNow().contains(" answers from the controller\n"),
                              said.constData(), waitMs);
    // Three more polls, 2 s apart, make the connection one that lasted: its
    // loss is tried again after the first delay, whatever failed before it.
    const qsizetype answered = sim.logLines().filter(QStringLiteral("answer ")).size();
    QTRY_VERIFY_WITH_TIMEOUT(
        sim.logLines().filter(QStringLiteral("answer ")).size() >= answered + 3, waitMs);

    server.kill();
    // The line as a whole: what was read may end in its middle.
    QTRY_VERIFY2_WITH_TIMEOUT(QString::fromUtf8(saidNow()).contains(QRegularExpression(
                                  " gateway " + QRegularExpression::escape(gateway) +
                                  " not connected \\([^)]+\\); values stale; "
                                  "trying again in 1 s\n")),
                              said.constData(), waitMs);
    QVERIFY(server.start(waitMs));
    QTRY_VERIFY_WITH_TIMEOUT(saidNow().contains(" answers back\n"), waitMs);
    const qsizetype lost = said.indexOf(" not connected (");
    QVERIFY(said.indexOf(" gateway " + gateway + " connected\n", lost) > lost);
    QTRY_VERIFY_WITH_TIMEOUT(!records(dir.path()).isEmpty() &&
                                 records(dir.path()).last() == QStringLiteral("2000;2153;45"),
                             waitMs);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
}

QTEST_GUILESS_MAIN(TestTkrecordGateway)
#include "tst_tkrecord_gateway.moc"
