#include <QTest>

#include "SharingSections.h"

using settings::MqttSettings;
using settings::ShareSettings;

class TestSharingSections : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mqttSection_data();
    void mqttSection();
    void shareSection_data();
    void shareSection();
};

// Everything a section gives, on one line, so that a row says it all.
static QString described(const MqttSettings& s) {
    if (!s.enabled)
        return QStringLiteral("off");
    return QStringLiteral("%1 topic=%2 user=%3 file=%4 ca=%5 discovery=%6")
        .arg(s.brokerText(), s.topic, s.user, s.passwordFile, s.caFile, s.discovery);
}

void TestSharingSections::mqttSection_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QStringList>("refused");

    QTest::newRow("absent") << QByteArray() << "off" << QStringList();
    QTest::newRow("no broker") << QByteArray("[MQTT]\nTopic=x\n") << "off" << QStringList();
    QTest::newRow("defaults") << QByteArray("[MQTT]\nBroker=mqtt://broker.plant\n")
                              << "mqtt://broker.plant:1883 topic=tkcontrol/line 2 user= file= "
                                 "ca= discovery="
                              << QStringList();
    QTest::newRow("all") << QByteArray("[MQTT]\nBroker=mqtts://10.0.0.5:8884\nTopic=plant/ovens/\n"
                                       "User=rec\nPasswordFile=/etc/tk/pw\nCAFile=ca.pem\n"
                                       "Discovery=homeassistant\n")
                         << "mqtts://10.0.0.5:8884 topic=plant/ovens user=rec file=/etc/tk/pw "
                            "ca=ca.pem discovery=homeassistant"
                         << QStringList();
    QTest::newRow("tls default port, ipv6")
        << QByteArray("[mqtt]\nbroker=MQTTS://[::1]\n")
        << "mqtts://[::1]:8883 topic=tkcontrol/line 2 user= file= ca= discovery=" << QStringList();
    QTest::newRow("http") << QByteArray("[MQTT]\nBroker=http://x:1883\n") << "off"
                          << QStringList{"conf.ini line 2: Broker \"http://x:1883\" is "
                                         "mqtt://HOST:PORT or mqtts://HOST:PORT"};
    QTest::newRow("port 0") << QByteArray("[MQTT]\n\nBroker=mqtt://x:0\n") << "off"
                            << QStringList{"conf.ini line 3: Broker \"mqtt://x:0\" is "
                                           "mqtt://HOST:PORT or mqtts://HOST:PORT"};
    QTest::newRow("port too big") << QByteArray("[MQTT]\nBroker=mqtt://x:65536\n") << "off"
                                  << QStringList{"conf.ini line 2: Broker \"mqtt://x:65536\" is "
                                                 "mqtt://HOST:PORT or mqtts://HOST:PORT"};
    QTest::newRow("path") << QByteArray("[MQTT]\nBroker=mqtt://x:1883/a\n") << "off"
                          << QStringList{"conf.ini line 2: Broker \"mqtt://x:1883/a\" is "
                                         "mqtt://HOST:PORT or mqtts://HOST:PORT"};
    QTest::newRow("no host") << QByteArray("[MQTT]\nBroker=mqtt://:1883\n") << "off"
                             << QStringList{"conf.ini line 2: Broker \"mqtt://:1883\" is "
                                            "mqtt://HOST:PORT or mqtts://HOST:PORT"};
    QTest::newRow("wildcard topic")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nTopic=a/+/b\n") << "off"
        << QStringList{"conf.ini line 3: Topic \"a/+/b\" is a topic to publish to: no + or #, "
                       "not beginning with $"};
    QTest::newRow("broker's own topic")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nTopic=$SYS/x\n") << "off"
        << QStringList{"conf.ini line 3: Topic \"$SYS/x\" is a topic to publish to: no + or #, "
                       "not beginning with $"};
    QTest::newRow("password file without user")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nPasswordFile=pw\n") << "off"
        << QStringList{"conf.ini line 3: PasswordFile needs User"};
    QTest::newRow("password in conf.ini")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nUser=u\nPassword=secret\n") << "off"
        << QStringList{"conf.ini line 4: no Password here: name a file only the recorder reads "
                       "with PasswordFile"};
    QTest::newRow("ca without tls")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nCAFile=ca.pem\n") << "off"
        << QStringList{"conf.ini line 3: CAFile is for a broker at mqtts://"};
    QTest::newRow("two faults")
        << QByteArray("[MQTT]\nBroker=mqtt://x\nDiscovery=home#\nCAFile=ca.pem\n") << "off"
        << QStringList{"conf.ini line 4: CAFile is for a broker at mqtts://",
                       "conf.ini line 3: Discovery \"home#\" is the hub's discovery prefix, as "
                       "homeassistant"};
}

void TestSharingSections::mqttSection() {
    QFETCH(QByteArray, section);
    QFETCH(QString, settings);
    QFETCH(QStringList, refused);
    const settings::MqttRead read =
        settings::readMqttSection(settings::ProfileText(section), "line 2");
    QCOMPARE(read.refused, refused);
    QCOMPARE(described(read.settings), settings);
}

void TestSharingSections::shareSection_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QString>("listen"); // "off" or HOST:PORT
    QTest::addColumn<QString>("refused");

    QTest::newRow("absent") << QByteArray() << "off"
                            << "";
    QTest::newRow("empty") << QByteArray("[Share]\nListen=\n") << "off"
                           << "";
    QTest::newRow("port alone") << QByteArray("[Share]\nListen=5020\n") << "127.0.0.1:5020"
                                << "";
    QTest::newRow("colon port") << QByteArray("[Share]\nListen=:502\n") << "127.0.0.1:502"
                                << "";
    QTest::newRow("any address") << QByteArray("[Share]\nListen=0.0.0.0:1502\n") << "0.0.0.0:1502"
                                 << "";
    QTest::newRow("localhost") << QByteArray("[Share]\nListen=localhost:0\n") << "127.0.0.1:0"
                               << "";
    QTest::newRow("ipv6") << QByteArray("[Share]\nListen=[::1]:1502\n") << "::1:1502"
                          << "";
    const QString form = QStringLiteral(
        "conf.ini line 2: Listen \"%1\" is HOST:PORT with an IP address and a port from 0 to "
        "65535");
    QTest::newRow("name") << QByteArray("[Share]\nListen=plc.plant:502\n") << "off"
                          << form.arg("plc.plant:502");
    QTest::newRow("no port") << QByteArray("[Share]\nListen=10.0.0.1:\n") << "off"
                             << form.arg("10.0.0.1:");
    QTest::newRow("port too big") << QByteArray("[Share]\nListen=70000\n") << "off"
                                  << form.arg("70000");
    QTest::newRow("signed port") << QByteArray("[Share]\nListen=:+502\n") << "off"
                                 << form.arg(":+502");
}

void TestSharingSections::shareSection() {
    QFETCH(QByteArray, section);
    QFETCH(QString, listen);
    QFETCH(QString, refused);
    const settings::ShareRead read = settings::readShareSection(settings::ProfileText(section));
    QCOMPARE(read.refused.join('\n'), refused);
    const ShareSettings& s = read.settings;
    QCOMPARE(s.enabled ? s.host + ':' + QString::number(s.port) : QStringLiteral("off"), listen);
}

QTEST_GUILESS_MAIN(TestSharingSections)
#include "tst_sharingsections.moc"
