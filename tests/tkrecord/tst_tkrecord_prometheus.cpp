// tkrecord scraped by a real Prometheus server (1 s scrape interval, its data
// in a temporary folder), and the values read back through Prometheus's HTTP
// API: what tksim sent, and the link down once tksim is gone.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include "TksimProcess.h"

#include <memory>

constexpr int waitMs = 30000;

class TestTkrecordPrometheus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valuesThroughPrometheus();
};

void TestTkrecordPrometheus::valuesThroughPrometheus() {
    auto sim = std::make_unique<TksimProcess>(QStringLiteral(TKSIM_PATH),
                                              QStringList{"--fixed", "2153,2000,45"});
    QVERIFY(sim->start(waitMs));
    // Not in the simulator's folder, which goes with it.
    const QTemporaryDir work;
    const QString dir = work.path();
    QFile conf(dir + QStringLiteral("/conf.ini"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Ports]\n1=%1\n[Alarms]\nHighLimit=300\nLinkLostAfter=2\n")
                   .arg(sim->link())
                   .toUtf8());
    conf.close();

    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {QStringLiteral("--dir"), dir, QStringLiteral("--key"),
                    dir + QStringLiteral("/keys/seal.key"), QStringLiteral("--metrics"),
                    QStringLiteral(":0")});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += tkrecord.readAllStandardOutput()).contains("/metrics\n"),
                             waitMs);
    const qsizetype at = said.indexOf("metrics at http://");
    QVERIFY2(at >= 0, said.constData());
    const QByteArray target = said.mid(at + 18, said.indexOf("/metrics\n") - at - 18);

    // The project's example alert rules are loaded too: Prometheus refuses
    // to start on a rule it cannot read.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 prometheusPort = probe.serverPort();
    probe.close();
    QFile config(work.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nrule_files:\n  - " +
                 QByteArray(ALERT_RULES) +
                 "\nscrape_configs:\n  - job_name: tkrecord\n    static_configs:\n"
                 "      - targets: [\"" +
                 target + "\"]\n");
    config.close();
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.start(
        QStringLiteral(PROMETHEUS_PATH),
        {QStringLiteral("--config.file=") + config.fileName(),
         QStringLiteral("--storage.tsdb.path=") + work.filePath(QStringLiteral("tsdb")),
         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
    QVERIFY(prometheus.waitForStarted(waitMs));
    // The value of an instant query's first series; empty when there is none.
    QNetworkAccessManager network;
    const auto query = [&](const QString& promql) {
        QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(prometheusPort));
        url.setQuery(QUrlQuery({{QStringLiteral("query"), promql}}));
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(5000))
            return QStringLiteral("<no reply>");
        const QJsonArray result = QJsonDocument::fromJson(reply->readAll())
                                      .object()[QLatin1String("data")]
                                      .toObject()[QLatin1String("result")]
                                      .toArray();
        return result.isEmpty()
                   ? QString()
                   : result[0].toObject()[QLatin1String("value")].toArray()[1].toString();
    };

    QTRY_COMPARE_WITH_TIMEOUT(query(QStringLiteral("tk_temperature_celsius")), QString("215.3"),
                              waitMs);
    QCOMPARE(query(QStringLiteral("tk_setpoint_celsius")), QString("200"));
    QCOMPARE(query(QStringLiteral("tk_output_power")), QString("45"));
    QCOMPARE(query(QStringLiteral("tk_link_up")), QString("1"));
    QCOMPARE(query(QStringLiteral("sum(tk_alarm_active)")), QString("0"));

    sim.reset(); // the controller's line is gone
    QTRY_COMPARE_WITH_TIMEOUT(query(QStringLiteral("tk_link_up")), QString("0"), waitMs);
    QCOMPARE(query(QStringLiteral("tk_temperature_celsius")), QString());
    QCOMPARE(query(QStringLiteral("up{job=\"tkrecord\"}")), QString("1"));
    QTRY_COMPARE_WITH_TIMEOUT(query(QStringLiteral("tk_alarm_active{alarm=\"link\"}")),
                              QString("1"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(query(QStringLiteral("ALERTS{alertname=\"TkAlarm\"}")), QString("1"),
                              waitMs);

    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    prometheus.terminate();
    QVERIFY2(prometheus.waitForFinished(waitMs), prometheus.readAll().right(2000).constData());
}

QTEST_GUILESS_MAIN(TestTkrecordPrometheus)
#include "tst_tkrecord_prometheus.moc"
