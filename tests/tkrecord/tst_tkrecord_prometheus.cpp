// tkrecord scraped by a real Prometheus server (1 s scrape interval, its data
// in a temporary folder), and the values read back through Prometheus's HTTP
// API: what tksim sent, and the link down once tksim is gone. Then a bus of
// three: every query of the Grafana dashboard answered for each controller,
// and an alarm routed by Alertmanager to a webhook with the controller's name.

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "LocalServer.h"
#include "TksimProcess.h"

#include <memory>

// Generous: the waits are on conditions, and a loaded machine is slow.
constexpr int waitMs = 60000;

namespace {

// Writes a file whole; false when it cannot.
bool writeFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// tkrecord in the folder, on the simulator's link with a high alarm above
// 300 °C, serving its metrics on a free port; the target "HOST:PORT" it
// reports, or empty.
QByteArray startRecorder(QProcess& tkrecord, const QString& dir, const QString& link,
                         const QString& more = {}) {
    if (!writeFile(dir + QStringLiteral("/conf.ini"),
                   QStringLiteral("[Ports]\n1=%1\n[Alarms]\nHighLimit=300\nLinkLostAfter=2\n%2")
                       .arg(link, more)
                       .toUtf8()))
        return {};
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {QStringLiteral("--dir"), dir, QStringLiteral("--key"),
                    dir + QStringLiteral("/keys/seal.key"), QStringLiteral("--metrics"),
                    QStringLiteral(":0")});
    QByteArray said;
    if (!QTest::qWaitFor(
            [&] { return (said += tkrecord.readAllStandardOutput()).contains("/metrics\n"); },
            waitMs))
        return {};
    const qsizetype at = said.indexOf("metrics at http://") + 18;
    return said.mid(at, said.indexOf("/metrics\n") - at);
}

// Prometheus with the project's example alert rules (it refuses to start on
// a rule it cannot read), scraping every second the targets given as YAML
// static_configs entries.
std::unique_ptr<LocalServer> startPrometheus(const QTemporaryDir& work, const QByteArray& targets,
                                             const QByteArray& alerting = {}) {
    const QString config = work.filePath(QStringLiteral("prometheus.yml"));
    if (!writeFile(config, "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                           "rule_files:\n  - " +
                               QByteArray(ALERT_RULES) + '\n' + alerting +
                               "scrape_configs:\n  - job_name: tkrecord\n    static_configs:\n" +
                               targets))
        return {};
    auto prometheus = std::make_unique<LocalServer>(
        QStringLiteral(PROMETHEUS_PATH), QStringList{QStringLiteral("--config.file=") + config,
                                                     QStringLiteral("--storage.tsdb.path=") +
                                                         work.filePath(QStringLiteral("tsdb"))});
    return prometheus->start(waitMs) ? std::move(prometheus) : nullptr;
}

} // namespace

class TestTkrecordPrometheus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void valuesThroughPrometheus();
    void plant();
};

void TestTkrecordPrometheus::valuesThroughPrometheus() {
    auto sim = std::make_unique<TksimProcess>(QStringLiteral(TKSIM_PATH),
                                              QStringList{"--fixed", "2153,2000,45"});
    QVERIFY(sim->start(waitMs));
    // Not in the simulator's folder, which goes with it.
    const QTemporaryDir work;
    QProcess tkrecord;
    const QByteArray target = startRecorder(tkrecord, work.path(), sim->link());
    QVERIFY(!target.isEmpty());
    const auto prometheus = startPrometheus(work, "      - targets: [\"" + target + "\"]\n");
    QVERIFY(prometheus);
    const auto value = [&](const char* promql) {
        return prometheus->value(QString::fromLatin1(promql));
    };

    QTRY_COMPARE_WITH_TIMEOUT(value("tk_temperature_celsius"), QString("215.3"), waitMs);
    QCOMPARE(value("tk_setpoint_celsius"), QString("200"));
    QCOMPARE(value("tk_output_power"), QString("45"));
    QCOMPARE(value("tk_link_up"), QString("1"));
    QCOMPARE(value("sum(tk_alarm_active)"), QString("0"));

    sim.reset(); // the controller's line is gone
    QTRY_COMPARE_WITH_TIMEOUT(value("tk_link_up"), QString("0"), waitMs);
    QCOMPARE(value("tk_temperature_celsius"), QString());
    QCOMPARE(value("up{job=\"tkrecord\"}"), QString("1"));
    QTRY_COMPARE_WITH_TIMEOUT(value("tk_alarm_active{alarm=\"link\"}"), QString("1"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(value("ALERTS{alertname=\"TkAlarm\"}"), QString("1"), waitMs);

    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    QCOMPARE(tkrecord.exitCode(), 0);
    QVERIFY2(prometheus->stop(waitMs), prometheus->output().right(2000).constData());
}

void TestTkrecordPrometheus::plant() {
    // Three ovens on one line, oven2's setpoint above the high limit; the
    // oven time runs fast so that it gets there within seconds. The line has
    // the longest answer time-out: a simulator that answers late on a loaded
    // machine must not make an oven stale and its values vanish.
    TksimProcess sim(QStringLiteral(TKSIM_PATH),
                     {"--address", "9,10,11", "--setpoint", "200,400,150", "--speed", "100"});
    QVERIFY(sim.start(waitMs));
    const QTemporaryDir work;
    QProcess tkrecord;
    const QByteArray target = startRecorder(tkrecord, work.path(), sim.link(),
                                            "[Controllers]\noven1=9\noven2=10\noven3=11\n"
                                            "[Bus]\nAnswerTimeout=1000\n");
    QVERIFY(!target.isEmpty());
    const QStringList names{"oven1", "oven2", "oven3"};

    QProcess webhook;
    webhook.start(QStringLiteral(PYTHON_PATH), {QStringLiteral(WEBHOOK_PATH)});
    QTRY_VERIFY_WITH_TIMEOUT(webhook.canReadLine(), waitMs);
    const QByteArray hookPort = webhook.readLine().mid(13).trimmed();
    // The example route, its intervals cut to a second.
    QFile route(QStringLiteral(ALERTMANAGER_EXAMPLE));
    QVERIFY(route.open(QIODevice::ReadOnly));
    QByteArray routeText =
        route.readAll()
            .replace("http://127.0.0.1:5001/", "http://127.0.0.1:" + hookPort + '/')
            .replace("group_wait: 10s", "group_wait: 1s");
    QVERIFY(writeFile(work.filePath(QStringLiteral("alertmanager.yml")), routeText));
    LocalServer alertmanager(
        QStringLiteral(ALERTMANAGER_PATH),
        {QStringLiteral("--config.file=") + work.filePath(QStringLiteral("alertmanager.yml")),
         QStringLiteral("--storage.path=") + work.filePath(QStringLiteral("am")),
         QStringLiteral("--cluster.listen-address=")});
    QVERIFY(alertmanager.start(waitMs));
    const auto prometheus = startPrometheus(
        work, "      - targets: [\"" + target + "\"]\n",
        "alerting:\n  alertmanagers:\n    - static_configs:\n        - targets: [\"" +
            alertmanager.address().toUtf8() + "\"]\n");
    QVERIFY(prometheus);

    // The controller variable lists them all.
    QFile file(QStringLiteral(DASHBOARD_PATH));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray dashboard = file.readAll();
    const QRegularExpressionMatch variable =
        QRegularExpression(QStringLiteral("label_values\\((\\w+), (\\w+)\\)")).match(dashboard);
    QVERIFY(variable.hasMatch());
    QTRY_COMPARE_WITH_TIMEOUT(
        prometheus
            ->data(QStringLiteral("/api/v1/label/%1/values").arg(variable.captured(2)),
                   QUrlQuery({{QStringLiteral("match[]"), variable.captured(1)}}))
            .toVariant()
            .toStringList(),
        names, waitMs);
    // Every panel's every query, once per controller, answers for that one only.
    const QJsonArray panels = QJsonDocument::fromJson(dashboard)[QLatin1String("panels")].toArray();
    int queries = 0;
    for (const QJsonValue panel : panels)
        for (const QJsonValue query : panel[QLatin1String("targets")].toArray()) {
            ++queries;
            for (const QString& name : names) {
                const QString expr =
                    query[QLatin1String("expr")].toString().replace("$controller", name);
                QTRY_VERIFY2_WITH_TIMEOUT(!prometheus->query(expr).isEmpty(), qPrintable(expr),
                                          waitMs);
                for (const QJsonValue series : prometheus->query(expr))
                    QCOMPARE(
                        series[QLatin1String("metric")][QLatin1String("controller")].toString(),
                        name);
            }
        }
    QCOMPARE(queries, 9);

    // oven2's high alarm, and only oven2's, reaches the webhook.
    QByteArray hooked;
    QTRY_VERIFY_WITH_TIMEOUT((hooked += webhook.readAllStandardOutput()).contains('\n'), waitMs);
    const QJsonArray alerts =
        QJsonDocument::fromJson(hooked.left(hooked.indexOf('\n')))[QLatin1String("alerts")]
            .toArray();
    QCOMPARE(alerts.size(), 1);
    const QJsonObject labels = alerts[0][QLatin1String("labels")].toObject();
    QCOMPARE(labels[QLatin1String("alertname")].toString(), QString("TkAlarm"));
    QCOMPARE(labels[QLatin1String("controller")].toString(), QString("oven2"));
    QCOMPARE(labels[QLatin1String("alarm")].toString(), QString("high"));
    QCOMPARE(alerts[0][QLatin1String("status")].toString(), QString("firing"));

    webhook.kill();
    webhook.waitForFinished(waitMs);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
}

QTEST_GUILESS_MAIN(TestTkrecordPrometheus)
#include "tst_tkrecord_prometheus.moc"
