// tkrecord's pure parts: the command line, the metrics text, the HTTP
// exchange, the state lines and the daily file names; and the client
// protocol's refusals and bounds on a real socket.

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include "AuditTrail.h"
#include "ClientServer.h"
#include "DailyFile.h"
#include "HttpExchange.h"
#include "MetricsText.h"
#include "Options.h"
#include "ProtocolClient.h"
#include "StateLog.h"

using namespace tkrecord;

namespace {

const QDateTime stamp(QDate(2024, 5, 17), QTime(14, 3, 7));

} // namespace

class TestTkrecordParts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void options_data();
    void options();
    void metrics_data();
    void metrics();
    void http_data();
    void http();
    void stateLines_data();
    void stateLines();
    void dailyFile_data();
    void dailyFile();
    void clientRefusals_data();
    void clientRefusals();
    void clientBounds();
};

void TestTkrecordParts::options_data() {
    QTest::addColumn<QStringList>("arguments");
    // "dir|host:port|help|version" and "|probe" if asked, or the message for a refused line.
    QTest::addColumn<QString>("expected");

    QTest::newRow("dir and metrics")
        << QStringList{"--dir", "/srv/oven", "--metrics", "0.0.0.0:9100"}
        << "/srv/oven|0.0.0.0:9100||";
    QTest::newRow("equals forms, port only")
        << QStringList{"--dir=/srv/oven", "--metrics=:9101"} << "/srv/oven|127.0.0.1:9101||";
    QTest::newRow("ipv6") << QStringList{"--metrics", "[::1]:9103"} << "|::1:9103||";
    QTest::newRow("help and version") << QStringList{"-h", "--version"} << "||help|version";
    QTest::newRow("probe in a folder")
        << QStringList{"--probe", "--dir", "/srv/oven"} << "/srv/oven||||probe";
    QTest::newRow("probe with a value") << QStringList{"--probe=1"} << "--probe takes no value";
    QTest::newRow("unknown option") << QStringList{"--verbose"} << "unknown option \"--verbose\"";
    QTest::newRow("dir without folder") << QStringList{"--dir"} << "--dir needs a folder";
    QTest::newRow("probe beyond the last address")
        << QStringList{"--probe", "--addresses", "248"}
        << "--addresses needs the last address to probe, 1 to 247";
    const QString badEndpoint = QStringLiteral("--metrics needs HOST:PORT with an IP address and "
                                               "a port from 0 to 65535, not \"%1\"");
    QTest::newRow("host name") << QStringList{"--metrics", "example.org:9100"}
                               << badEndpoint.arg("example.org:9100");
    QTest::newRow("key apart") << QStringList{"--key", "/var/lib/tkrecord-keys/oven1/seal.key"}
                               << "||||key /var/lib/tkrecord-keys/oven1/seal.key";
    QTest::newRow("no seal") << QStringList{"--no-seal"} << "||||no-seal";
    QTest::newRow("no seal has no key")
        << QStringList{"--no-seal", "--key-fingerprint"} << "--no-seal has no key to show";
    QTest::newRow("no seal with a key") << QStringList{"--key", "seal.key", "--no-seal"}
                                        << "--no-seal records without a key: --key goes without it";
    QTest::newRow("port too large")
        << QStringList{"--metrics", "127.0.0.1:65536"} << badEndpoint.arg("127.0.0.1:65536");
    QTest::newRow("run fields, one line each")
        << QStringList{"--batch", "L-4711", "--note=two\nlines", "--operator", "bob"}
        << R"(||||run: f; batch "L-4711"; operator "bob"; note "two lines")";
    QTest::newRow("mark for a controller")
        << QStringList{"--mark", "Load in", "--controller", "oven2"}
        << "||||mark Load in for oven2|run: f";
    QTest::newRow("new run sent") << QStringList{"--run", "--part", "gear"}
                                  << "||||new run|run: f; part \"gear\"";
    QTest::newRow("mark of blanks")
        << QStringList{"--mark", " \t"} << "--mark needs the event's words";
    QTest::newRow("operator sent") << QStringList{"--run", "--operator", "eve"}
                                   << "--operator is the user who sends --run or --mark";
    QTest::newRow("controller of a recording")
        << QStringList{"--controller", "oven2"} << "--controller goes with --mark or --run";
}

void TestTkrecordParts::options() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    const auto result = parseOptions(arguments);
    QString got;
    if (const Options* o = std::get_if<Options>(&result)) {
        const QString endpoint =
            o->metrics ? o->metricsHost + QLatin1Char(':') + QString::number(o->metricsPort)
                       : QString();
        got = QStringList({o->dir, endpoint, o->help ? "help" : "", o->version ? "version" : ""})
                  .join(QLatin1Char('|'));
        if (o->probe)
            got += QStringLiteral("|probe");
        if (!o->key.isEmpty())
            got += QStringLiteral("|key ") + o->key;
        if (o->noSeal)
            got += QStringLiteral("|no-seal");
        if (o->mark)
            got += QStringLiteral("|mark %1 for %2").arg(*o->mark, o->controller);
        if (o->newRun)
            got += QStringLiteral("|new run");
        if (o->mark || o->newRun || o->run != sealing::RunIdentity{})
            got += QStringLiteral("|") + sealing::runEvent(QStringLiteral("f"), o->run);
    } else {
        got = std::get<QString>(result);
    }
    QCOMPARE(got, expected);
}

void TestTkrecordParts::metrics_data() {
    QTest::addColumn<MetricsSnapshot>("snapshot");
    QTest::addColumn<QStringList>("samples"); // those that are not counters
    QTest::addColumn<QStringList>("alarms");  // after the counters
    // "NAME=ADDRESS" of a bus's controllers, the second one stale; none: the
    // unnamed controller. With names, samples holds every line.
    QTest::addColumn<QStringList>("controllers");

    const QStringList quiet{
        "tk_alarm_active{alarm=\"high\"} 0", "tk_alarm_active{alarm=\"deviation\"} 0",
        "tk_alarm_active{alarm=\"link\"} 0", "tk_alarm_active{alarm=\"heatup\"} 0",
        "tk_alarm_active{alarm=\"measurement\"} 0"};
    MetricsSnapshot s{false, 0, 0, 0, std::nullopt, 7, 2, 1, 4, 3, 12, 5, 9};
    QTest::newRow("before any answer")
        << s << QStringList{"tk_link_up 0"} << quiet << QStringList();
    s.alarmsActive = {false, true, true, false, true};
    QTest::newRow("deviation, link and no-measurement alarms")
        << s << QStringList{"tk_link_up 0"}
        << QStringList{"tk_alarm_active{alarm=\"high\"} 0",
                       "tk_alarm_active{alarm=\"deviation\"} 1",
                       "tk_alarm_active{alarm=\"link\"} 1", "tk_alarm_active{alarm=\"heatup\"} 0",
                       "tk_alarm_active{alarm=\"measurement\"} 1"}
        << QStringList();
    s = {true, 215.3, 200, 45, 1715954587123, 7, 2, 1, 4, 3, 12, 5, 9};
    QTest::newRow("current") << s
                             << QStringList{"tk_temperature_celsius 215.3",
                                            "tk_setpoint_celsius 200", "tk_output_power 45",
                                            "tk_link_up 1",
                                            "tk_last_answer_timestamp_seconds 1715954587.123"}
                             << quiet << QStringList();
    // The values of the last answer are still in the snapshot: they must
    // not be served once stale.
    s.current = false;
    QTest::newRow("stale after answers")
        << s << QStringList{"tk_link_up 0", "tk_last_answer_timestamp_seconds 1715954587.123"}
        << quiet << QStringList();
    s.current = true;
    s.alarmsActive = {true, false, false};
    const QString oven1 = QStringLiteral("{controller=\"oven1\",address=\"9\"");
    const QString oven2 = QStringLiteral("{controller=\"oven-2\",address=\"247\"");
    QStringList lines{oven1 + "} 215.3",
                      oven1 + "} 200",
                      oven1 + "} 45",
                      oven1 + "} 1",
                      oven2 + "} 0",
                      oven1 + "} 1715954587.123",
                      oven2 + "} 1715954587.123"};
    const char* const families[] = {"tk_temperature_celsius",
                                    "tk_setpoint_celsius",
                                    "tk_output_power",
                                    "tk_link_up",
                                    "tk_link_up",
                                    "tk_last_answer_timestamp_seconds",
                                    "tk_last_answer_timestamp_seconds"};
    for (qsizetype i = 0; i < lines.size(); ++i)
        lines[i].prepend(families[i]);
    for (const QString& c : {oven1, oven2})
        for (const char* result : {"ok\"} 7", "no_answer\"} 2", "bad_answer\"} 1", "exception\"} 4",
                                   "not_connected\"} 3"})
            lines << "tk_polls_total" + c + ",result=\"" + result;
    lines << "tk_records_total" + oven1 + "} 12"
          << "tk_records_total" + oven2 + "} 12"
          << "tk_record_errors_total 10"
          << "tk_log_lines_dropped_total 9";
    for (const QString& c : {oven1, oven2})
        for (const char* alarm :
             {"high\"} 1", "deviation\"} 0", "link\"} 0", "heatup\"} 0", "measurement\"} 0"})
            lines << "tk_alarm_active" + c + ",alarm=\"" + alarm;
    QTest::newRow("bus of two, one stale")
        << s << lines << QStringList() << QStringList{"oven1=9", "oven-2=247"};
}

void TestTkrecordParts::metrics() {
    QFETCH(MetricsSnapshot, snapshot);
    QFETCH(QStringList, samples);
    QFETCH(QStringList, alarms);
    QFETCH(QStringList, controllers);

    QList<ControllerMetrics> bus;
    for (const QString& c : controllers) {
        bus.append(
            {c.section(QLatin1Char('='), 0, 0), c.section(QLatin1Char('='), 1).toInt(), snapshot});
        bus.last().values.current = bus.size() == 1;
    }
    const QByteArray text =
        bus.isEmpty() ? metricsText(snapshot) : metricsText(bus, snapshot.linesDropped);
    QStringList got;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            got << QString::fromUtf8(line);
    const QStringList counters{"tk_polls_total{result=\"ok\"} 7",
                               "tk_polls_total{result=\"no_answer\"} 2",
                               "tk_polls_total{result=\"bad_answer\"} 1",
                               "tk_polls_total{result=\"exception\"} 4",
                               "tk_polls_total{result=\"not_connected\"} 3",
                               "tk_records_total 12",
                               "tk_record_errors_total 5",
                               "tk_log_lines_dropped_total 9"};
    QCOMPARE(got, bus.isEmpty() ? samples + counters + alarms : samples);
    // Every family is announced, whether it has a sample now or not.
    for (const char* name :
         {"tk_temperature_celsius gauge", "tk_setpoint_celsius gauge", "tk_output_power gauge",
          "tk_link_up gauge", "tk_last_answer_timestamp_seconds gauge", "tk_polls_total counter",
          "tk_records_total counter", "tk_record_errors_total counter",
          "tk_log_lines_dropped_total counter", "tk_alarm_active gauge"}) {
        QVERIFY2(text.contains(QByteArray("# TYPE ") + name + '\n'), name);
        QVERIFY2(text.contains(QByteArray("# HELP ") + QByteArray(name).split(' ')[0] + ' '), name);
    }
}

void TestTkrecordParts::http_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("headLength"); // 0: incomplete
    QTest::addColumn<QByteArray>("statusLine");

    const QByteArray scrape = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\n"
                              "User-Agent: Prometheus/2.42.0\r\nAccept: text/plain\r\n\r\n";
    QTest::newRow("prometheus scrape") << scrape << int(scrape.size()) << QByteArray("200 OK");
    QTest::newRow("query ignored, lf line ends")
        << QByteArray("GET /metrics?debug=1 HTTP/1.0\n\n") << 31 << QByteArray("200 OK");
    QTest::newRow("body behind the head is not part of it")
        << QByteArray("POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc") << 45
        << QByteArray("405 Method Not Allowed");
    QTest::newRow("root") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 18
                          << QByteArray("404 Not Found");
    QTest::newRow("not http") << QByteArray("hello there\r\n\r\n") << 15
                              << QByteArray("400 Bad Request");
    QTest::newRow("http/2 preface")
        << QByteArray("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") << 18 << QByteArray("400 Bad Request");
    QTest::newRow("incomplete") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n") << 0
                                << QByteArray();
}

void TestTkrecordParts::http() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, headLength);
    QFETCH(QByteArray, statusLine);

    QCOMPARE(requestHeadLength(bytes), qsizetype(headLength));
    if (headLength == 0)
        return;
    int metricsCalls = 0;
    const QByteArray response = responseTo(bytes.first(headLength), [&] {
        ++metricsCalls;
        return QByteArray("tk_link_up 1\n");
    });
    const qsizetype headEnd = response.indexOf("\r\n\r\n");
    QVERIFY(headEnd > 0);
    const QList<QByteArray> head = response.first(headEnd + 2).split('\n');
    QCOMPARE(head[0], "HTTP/1.1 " + statusLine + '\r');
    const QByteArray body = response.mid(headEnd + 4);
    QVERIFY(head.contains("Content-Length: " + QByteArray::number(body.size()) + '\r'));
    QVERIFY(head.contains("Connection: close\r"));
    QCOMPARE(metricsCalls, statusLine == "200 OK" ? 1 : 0);
    if (statusLine == "200 OK") {
        QCOMPARE(body, QByteArray("tk_link_up 1\n"));
        QVERIFY(head.contains(QByteArray("Content-Type: ") + metricsContentType + '\r'));
    }
    if (statusLine.startsWith("405"))
        QVERIFY(head.contains("Allow: GET\r"));
}

void TestTkrecordParts::stateLines_data() {
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("lines");

    const QString opened = QStringLiteral("port /dev/ttyUSB0 opened at 19200 bit/s");
    const QString notOpened =
        QStringLiteral("port /dev/ttyUSB0 not opened (%1); trying %2every 2 s");
    const QString noDevice = QStringLiteral("no device /dev/ttyUSB0");
    QTest::newRow("adapter plugged in after start")
        << QStringList{"fail:" + noDevice, "fail:" + noDevice,
                       "fail:/dev/ttyUSB0: Permission denied", "open", "current"}
        << QStringList{notOpened.arg(noDevice, ""),
                       notOpened.arg("/dev/ttyUSB0: Permission denied", ""), opened,
                       "answers from the controller"};
    QTest::newRow("silent controller")
        << QStringList{"open", "current", "current", "stale", "stale", "current"}
        << QStringList{opened, "answers from the controller",
                       "no answer from the controller for 3 polls; values stale", "answers back"};
    QTest::newRow("stale: what came instead")
        << QStringList{"open", "current", "stale:exception 4 on every poll", "current",
                       "stale:answers from another address"}
        << QStringList{opened, "answers from the controller",
                       "exception 4 on every poll for 3 polls; values stale", "answers back",
                       "answers from another address for 3 polls; values stale"};
    QTest::newRow("adapter pulled and replugged")
        << QStringList{"open",
                       "current",
                       "lost:write refused",
                       "stale without port",
                       "fail:" + noDevice,
                       "fail:" + noDevice,
                       "open",
                       "current"}
        << QStringList{opened,
                       "answers from the controller",
                       "port lost (write refused); values stale",
                       notOpened.arg(noDevice, "again "),
                       opened,
                       "answers back"};
    // 247 answering at 9600 bit/s: said once, and once when they fit again.
    QTest::newRow("bus rounds too long for 2 s")
        << QStringList{"round:1500", "round:6200", "round:6300", "round:1900", "round:1700"}
        << QStringList{"the 247 answering controllers cannot be asked every 2 s: a round of "
                       "them takes 6.2 s",
                       "the answering controllers are asked every 2 s again: a round of them "
                       "takes 1.7 s"};
    QTest::newRow("record errors once each way")
        << QStringList{"record ok", "record failed", "record failed", "record ok", "record ok"}
        << QStringList{"record error in REC_x.csv; trying again at the next record",
                       "record written again in REC_x.csv"};
}

void TestTkrecordParts::stateLines() {
    QFETCH(QStringList, events);
    QFETCH(QStringList, lines);

    StateLog log;
    const QString device = QStringLiteral("/dev/ttyUSB0");
    QStringList said;
    for (const QString& e : events) {
        QString line;
        if (e == QLatin1String("open"))
            line = log.portOpened(stamp, device, QStringLiteral("19200"));
        else if (e.startsWith(QLatin1String("fail:")))
            line = log.portNotOpened(stamp, device, e.mid(5));
        else if (e.startsWith(QLatin1String("lost:")))
            line = log.portLost(stamp, e.mid(5));
        else if (e == QLatin1String("current") || e == QLatin1String("stale"))
            line = log.valuesCurrent(stamp, e == QLatin1String("current"), true);
        else if (e.startsWith(QLatin1String("stale:")))
            line = log.valuesCurrent(stamp, false, true, false, e.mid(6));
        else if (e == QLatin1String("stale without port"))
            line = log.valuesCurrent(stamp, false, false);
        else if (e.startsWith(QLatin1String("round:")))
            line = log.busRound(stamp, e.mid(6).toLongLong(), 247, 2000);
        else if (e.startsWith(QLatin1String("record ")))
            line = log.recordWritten(stamp, e == QLatin1String("record ok"),
                                     QStringLiteral("REC_x.csv"));
        else
            QFAIL(qPrintable(e));
        if (!line.isEmpty()) {
            QVERIFY2(line.startsWith(QLatin1String("2024-05-17 14:03:07 ")), qPrintable(line));
            said << line.mid(20);
        }
    }
    QCOMPARE(said, lines);
}

void TestTkrecordParts::dailyFile_data() {
    QTest::addColumn<QStringList>("times"); // the start, then one per record
    QTest::addColumn<QStringList>("files"); // "*" marks a file begun there

    QTest::newRow("over two midnights")
        << QStringList{"2024-05-17T23:59:40", "2024-05-18T00:00:00", "2024-05-18T00:00:20",
                       "2024-05-19T00:00:13"}
        << QStringList{"*REC_2024-05-18_00-00-00.csv", "REC_2024-05-18_00-00-00.csv",
                       "*REC_2024-05-19_00-00-13.csv"};
    QTest::newRow("clock set back over midnight")
        << QStringList{"2024-05-18T00:00:10", "2024-05-17T23:59:55", "2024-05-18T00:00:15"}
        << QStringList{"*REC_2024-05-17_23-59-55.csv", "*REC_2024-05-18_00-00-15.csv"};
}

void TestTkrecordParts::dailyFile() {
    QFETCH(QStringList, times);
    QFETCH(QStringList, files);

    DailyFile daily(QDateTime::fromString(times[0], Qt::ISODate));
    QStringList got;
    for (const QString& t : times.mid(1)) {
        bool begun = false;
        const QString name = daily.fileFor(QDateTime::fromString(t, Qt::ISODate), &begun);
        got << (begun ? QLatin1String("*") : QLatin1String("")) + name;
    }
    QCOMPARE(got, files);
}

QTEST_GUILESS_MAIN(TestTkrecordParts)
namespace {

constexpr int waitMs = 20000;

// A server whose handler answers every request it is given with the user
// the kernel named.
struct ServedSocket {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("s.sock"));
    ClientServer server{
        [](const ClientRequest& request, const Peer& peer, const ClientServer::Reply& reply) {
            reply(answerLine(requestName(request.kind), request.id,
                             QStringLiteral("by ") + peer.user));
        },
        [] { return QList<QByteArray>{"{\"event\":\"history\"}\n"}; },
        {QStringLiteral("oven1")}};
};

} // namespace

void TestTkrecordParts::clientRefusals_data() {
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<QByteArrayList>("answers"); // after the greeting; USER: the sender
    QTest::addColumn<bool>("closed");

    const QByteArray hello = "{\"request\":\"hello\",\"protocol\":1}\n";
    const QByteArray helloOk = R"({"answer":"hello","ok":true})";
    const auto refusal = [](const char* request, const char* reason) {
        return QByteArray(R"({"answer":")") + request + R"(","ok":false,"reason":")" + reason +
               "\"}";
    };
    QTest::newRow("not json") << QByteArrayList{"hello\n"}
                              << QByteArrayList{refusal("", "not a JSON object")} << false;
    QTest::newRow("no request, id kept")
        << QByteArrayList{"{\"id\":3}\n"}
        << QByteArrayList{"{\"answer\":\"\",\"id\":3,\"ok\":false,\"reason\":"
                          "\"no \\\"request\\\" named\"}"}
        << false;
    QTest::newRow("unknown") << QByteArrayList{"{\"request\":\"reboot\"}\n"}
                             << QByteArrayList{refusal("reboot", "unknown request")} << false;
    QTest::newRow("before hello") << QByteArrayList{"{\"request\":\"mark\",\"text\":\"x\"}\n"}
                                  << QByteArrayList{refusal("mark", "hello first")} << false;
    QTest::newRow("hello without protocol")
        << QByteArrayList{"{\"request\":\"hello\",\"protocol\":\"1\"}\n"}
        << QByteArrayList{refusal("hello", "hello names no protocol")} << false;
    QTest::newRow("another protocol")
        << QByteArrayList{"{\"request\":\"hello\",\"protocol\":2}\n"}
        << QByteArrayList{refusal("hello", "this recorder speaks protocol 1, not 2"),
                          R"({"event":"dropped","reason":"another protocol"})"}
        << true;
    QTest::newRow("setpoint out of range")
        << QByteArrayList{hello, "{\"request\":\"setpoint\",\"value\":3276.75}\n"}
        << QByteArrayList{helloOk,
                          refusal("setpoint", "setpoint out of range, -3276.8 to 3276.7 °C")}
        << false;
    QTest::newRow("setpoint as text")
        << QByteArrayList{hello, "{\"request\":\"setpoint\",\"value\":\"150\"}\n"}
        << QByteArrayList{helloOk, refusal("setpoint", "a setpoint needs a \\\"value\\\" in °C")}
        << false;
    QTest::newRow("unknown alarm")
        << QByteArrayList{hello, "{\"request\":\"acknowledge\",\"alarm\":\"fire\"}\n"}
        << QByteArrayList{helloOk, refusal("acknowledge", R"(no alarm \"fire\")")} << false;
    QTest::newRow("mark without words")
        << QByteArrayList{hello, "{\"request\":\"mark\",\"text\":\"  \"}\n"}
        << QByteArrayList{helloOk, refusal("mark", "an event needs words")} << false;
    QTest::newRow("controller a number")
        << QByteArrayList{hello, "{\"request\":\"mark\",\"text\":\"x\",\"controller\":5}\n"}
        << QByteArrayList{helloOk, refusal("mark", R"(\"controller\" is not a text)")} << false;
    QTest::newRow("run not an object")
        << QByteArrayList{hello, "{\"request\":\"run\",\"run\":[]}\n"}
        << QByteArrayList{helloOk, refusal("run", R"(\"run\" is not an object)")} << false;
    QTest::newRow("oversized line")
        << QByteArrayList{hello, QByteArray(requestMaxBytes + 100, 'x')}
        << QByteArrayList{helloOk,
                          R"({"event":"dropped","reason":"request longer than 16384 bytes"})"}
        << true;
    QTest::newRow("taken after hello, answered in order")
        << QByteArrayList{hello + "{\"request\":\"mark\",\"text\":\"a\",\"id\":1}\n"
                                  "{\"request\":\"mark\",\"text\":\"b\",\"id\":\"2\"}\n"}
        << QByteArrayList{helloOk, R"({"answer":"mark","id":1,"ok":true,"written":"by USER"})",
                          R"({"answer":"mark","id":"2","ok":true,"written":"by USER"})"}
        << false;
}

void TestTkrecordParts::clientRefusals() {
    QFETCH(QByteArrayList, sent);
    QFETCH(QByteArrayList, answers);
    QFETCH(bool, closed);

    ServedSocket served;
    QCOMPARE(served.server.listen(served.path), QString());
    ProtocolClient client;
    QVERIFY(client.connectTo(served.path, waitMs));
    for (const QByteArray& line : sent)
        client.send(line);
    QTRY_VERIFY_WITH_TIMEOUT(client.lines().size() >= answers.size() + 1, waitMs);
    const QJsonObject greeting = QJsonDocument::fromJson(client.lines().first()).object();
    QCOMPARE(greeting.value(QLatin1String("greeting")).toString(), QStringLiteral("tkrecord"));
    QCOMPARE(greeting.value(QLatin1String("protocol")).toInt(), 1);
    for (QByteArray& answer : answers)
        answer.replace("USER", sealing::systemUserName().toUtf8());
    QCOMPARE(client.lines().mid(1), answers);
    if (closed)
        QTRY_VERIFY_WITH_TIMEOUT(client.closedByPeer(), waitMs);
    else
        QVERIFY(!client.closedByPeer());
}

// Sixteen clients at most; one that reads nothing while the values go on is
// dropped, and told so when it reads again.
void TestTkrecordParts::clientBounds() {
    ServedSocket served;
    QCOMPARE(served.server.listen(served.path), QString());
    std::vector<std::unique_ptr<ProtocolClient>> clients;
    for (int i = 0; i < ClientServer::maxClients; ++i) {
        clients.push_back(std::make_unique<ProtocolClient>());
        QVERIFY(clients.back()->connectTo(served.path, waitMs));
    }
    QTRY_COMPARE_WITH_TIMEOUT(served.server.clientCount(), ClientServer::maxClients, waitMs);
    ProtocolClient extra;
    QVERIFY(extra.connectTo(served.path, waitMs));
    QTRY_VERIFY_WITH_TIMEOUT(extra.closedByPeer() && extra.lines().size() == 2, waitMs);
    QCOMPARE(extra.lines().last(),
             "{\"event\":\"dropped\",\"reason\":\"the recorder serves at most 16 clients\"}");

    ProtocolClient& slow = *clients.front();
    slow.send("{\"request\":\"hello\",\"protocol\":1}\n{\"request\":\"watch\"}\n");
    QTRY_VERIFY_WITH_TIMEOUT(slow.lines().size() == 4, waitMs); // greeting, 2 answers, history
    // Published without the event loop turning: the slow client reads
    // nothing meanwhile, whatever the machine's speed.
    const QByteArray value = R"({"event":"values","pad":")" + QByteArray(500, 'x') + "\"}\n";
    const int published = 3 * ClientServer::maxQueuedLines;
    for (int i = 0; i < published; ++i)
        served.server.publish(value);
    QTRY_VERIFY_WITH_TIMEOUT(slow.closedByPeer(), waitMs);
    slow.lines();
    QCOMPARE(slow.lines().last(),
             "{\"event\":\"dropped\",\"reason\":\"fell behind: more than 1000 messages waiting\"}");
    const auto values = slow.lines().count(value.chopped(1));
    // What was handed to the socket comes; the queue behind it was let go.
    QVERIFY2(values > 0 && values < ClientServer::maxQueuedLines,
             qPrintable(QString::number(values)));
    QTRY_COMPARE_WITH_TIMEOUT(served.server.clientCount(), ClientServer::maxClients - 1, waitMs);
}

#include "tst_tkrecord_parts.moc"
