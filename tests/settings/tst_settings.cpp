#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "ControlSection.h"
#include "ControllersSection.h"
#include "Data.h"
#include "EventsSection.h"
#include "PortsSection.h"
#include "Settings.h"

namespace {

const QString section = QStringLiteral("TK test");

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void loadWithoutFile();
    void loadValues_data();
    void loadValues();
    void saveWritesSixKeysInOrder();
    void saveKeepsOtherLines();
    void fractionSurvivesSaveAndLoad();
    void alarmsReadAndSavedInTheSameWrite();
    void controllersSection_data();
    void controllersSection();
    void alarmValuesRefused_data();
    void alarmValuesRefused();
    void controlSection_data();
    void controlSection();
    void eventsSection_data();
    void eventsSection();
    void portsSection_data();
    void portsSection();

private:
    QString path() const { return m_dir.filePath(QStringLiteral("conf.ini")); }
    void writeConf(const QByteArray& body);
    QByteArray readConf() const;
    QTemporaryDir m_dir;
};

void TestSettings::init() {
    QVERIFY(m_dir.isValid());
    QFile::remove(path());
    Data::resetAll();
    QLocale::setDefault(QLocale::c());
}

void TestSettings::writeConf(const QByteArray& body) {
    QFile file(path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[" + section.toLatin1() + "]\n" + body);
}

QByteArray TestSettings::readConf() const {
    QFile file(path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestSettings::loadWithoutFile() {
    settings::loadSettings(section, path());
    QCOMPARE(Data::comPortNum, int16_t(1));
    QCOMPARE(Data::comPortSpeed, QStringLiteral("19200"));
    QCOMPARE(Data::intervRecord, int16_t(20));
    QCOMPARE(Data::yValueMin, 0.0f);
    QCOMPARE(Data::yValueMax, 300.0f);
    QCOMPARE(Data::timeScale, 10.0f);
    QVERIFY(!QFile::exists(path())); // reading never creates the file
}

void TestSettings::loadValues_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("interval");
    QTest::addColumn<float>("yMin");
    QTest::addColumn<float>("yMax");
    QTest::addColumn<float>("scale");

    QTest::newRow("all six") << QByteArray("ComPortNum=4\nComPortSpeed=9600\ninterv_record=240\n"
                                           "Yvaluemin=-20\nYvaluemax=450.5\nEchelle_Temps=240\n")
                             << 4 << "9600" << 240 << -20.0f << 450.5f << 240.0f;
    QTest::newRow("port 2.5 gives 2")
        << QByteArray("ComPortNum=2.5\n") << 2 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("port 3.5 gives 4")
        << QByteArray("ComPortNum=3.5\n") << 4 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("port 3,5 gives 3")
        << QByteArray("ComPortNum=3,5\n") << 3 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("port 3abc gives 3")
        << QByteArray("ComPortNum=3abc\n") << 3 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("Yvaluemax abc gives 0")
        << QByteArray("Yvaluemax=abc\n") << 1 << "19200" << 20 << 0.0f << 0.0f << 10.0f;
    QTest::newRow("empty values are not missing")
        << QByteArray("ComPortNum=\nComPortSpeed=\ninterv_record=\n") << 0 << "" << 0 << 0.0f
        << 300.0f << 10.0f;
    QTest::newRow("speed text kept as it is")
        << QByteArray("ComPortSpeed=fast\n") << 1 << "fast" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("port beyond 16 bits falls back")
        << QByteArray("ComPortNum=70000\n") << 1 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("interval beyond 16 bits falls back")
        << QByteArray("interv_record=-40000\n") << 1 << "19200" << 20 << 0.0f << 300.0f << 10.0f;
    QTest::newRow("keys in other case") << QByteArray("comportnum=6\nECHELLE_TEMPS=2\n") << 6
                                        << "19200" << 20 << 0.0f << 300.0f << 2.0f;
}

void TestSettings::loadValues() {
    QFETCH(QByteArray, body);
    writeConf(body);
    settings::loadSettings(section, path());
    QTEST(int(Data::comPortNum), "port");
    QTEST(Data::comPortSpeed, "speed");
    QTEST(int(Data::intervRecord), "interval");
    QTEST(Data::yValueMin, "yMin");
    QTEST(Data::yValueMax, "yMax");
    QTEST(Data::timeScale, "scale");
}

void TestSettings::saveWritesSixKeysInOrder() {
    Data::comPortNum = 3;
    Data::comPortSpeed = QStringLiteral("115200");
    Data::intervRecord = 60;
    Data::yValueMin = 0;
    Data::yValueMax = 300;
    Data::timeScale = 10;
    QVERIFY(settings::saveSettings(section, path()));
    QCOMPARE(readConf(), QByteArray("[TK test]\nComPortNum=3\nComPortSpeed=115200\n"
                                    "interv_record=60\nYvaluemin=0\nYvaluemax=300\n"
                                    "Echelle_Temps=10\n"));
}

void TestSettings::saveKeepsOtherLines() {
    writeConf("; operator's note\nComPortNum=1\nExtra=keep me\n\n[Ports]\n1=/dev/ttyUSB3\n");
    settings::loadSettings(section, path());
    Data::comPortNum = 2;
    QVERIFY(settings::saveSettings(section, path()));
    QCOMPARE(readConf(),
             QByteArray("[TK test]\n; operator's note\nComPortNum=2\nExtra=keep me\n"
                        "ComPortSpeed=19200\ninterv_record=20\nYvaluemin=0\n"
                        "Yvaluemax=300\nEchelle_Temps=10\n\n[Ports]\n1=/dev/ttyUSB3\n"));
}

void TestSettings::fractionSurvivesSaveAndLoad() {
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    settings::loadSettings(section, path());
    Data::yValueMin = -12.5f;
    Data::timeScale = 2.25f;
    QVERIFY(settings::saveSettings(section, path()));
    Data::resetAll();
    settings::loadSettings(section, path());
    QCOMPARE(Data::yValueMin, -12.5f);
    QCOMPARE(Data::timeScale, 2.25f);
}

// An empty limit is off, a missing LinkLostAfter is 30; a save writes the
// [Alarms] keys that changed, with the six, and keeps the others' lines.
void TestSettings::alarmsReadAndSavedInTheSameWrite() {
    writeConf("ComPortNum=3\n[Alarms]\nHighLimit=350.5 C\nDeviationBand=\nSound=0\n");
    settings::loadSettings(section, path());
    QCOMPARE(Data::alarms.highLimit, std::optional<float>(350.5f));
    QCOMPARE(Data::alarms.deviationBand, std::optional<float>());
    QCOMPARE(Data::alarms.deviationDelay, std::optional<float>());
    QCOMPARE(Data::alarms.linkLostAfter, 30.0f);
    QCOMPARE(Data::alarms.sound, false);
    Data::alarms.deviationBand = 5;
    Data::alarms.deviationDelay = 2.5f;
    Data::alarms.heatUpLimit = 45;
    Data::alarms.highHysteresis = 2.5f;
    QVERIFY(settings::saveSettings(section, path()));
    QCOMPARE(readConf(), QByteArray("[TK test]\nComPortNum=3\nComPortSpeed=19200\n"
                                    "interv_record=20\nYvaluemin=0\nYvaluemax=300\n"
                                    "Echelle_Temps=10\n[Alarms]\nHighLimit=350.5 C\n"
                                    "DeviationBand=5\nSound=0\nDeviationDelay=2.5\n"
                                    "HeatUpLimit=45\nHighHysteresis=2.5\n"));
}

void TestSettings::controllersSection_data() {
    QTest::addColumn<QByteArray>("body");
    // NAME=ADDRESS, comma-separated; "=9" is the one unnamed controller.
    QTest::addColumn<QString>("controllers");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<int>("answerTimeout");
    QTest::addColumn<int>("extraGap");

    const QString alone = QStringLiteral("=9");
    const QString nameRule = QStringLiteral("a name is 1 to 32 letters, digits, \"-\" or \"_\"");
    const QString addressRule = QStringLiteral("an address is a whole number from 1 to 247");
    // The file's first two lines are [TK test] and [Controllers].
    QTest::newRow("no section: one controller at 9") << QByteArray() << alone << "" << 200 << 0;
    QTest::newRow("three in the file's order")
        << QByteArray("[Controllers]\noven-1=10\nOven_2=11\n") + QByteArray(32, 'k') + "=247\n"
        << "oven-1=10,Oven_2=11," + QString(32, QLatin1Char('k')) + "=247"
        << "" << 200 << 0;
    QTest::newRow("blanks, blank lines and comments")
        << QByteArray("[Controllers]\n; kilns\n\n k1 = 1 \n") << "k1=1"
        << "" << 200 << 0;
    QTest::newRow("bus timing keys")
        << QByteArray("[Controllers]\na=1\n[Bus]\nAnswerTimeout=80\nExtraGap=5\n") << "a=1"
        << "" << 80 << 5;
    QTest::newRow("line without =") << QByteArray("[Controllers]\na=1\nb 2\n") << alone
                                    << "[Controllers] line 4 \"b 2\": not NAME=ADDRESS" << 200 << 0;
    QTest::newRow("name with a blank")
        << QByteArray("[Controllers]\noven 1=9\n") << alone
        << "[Controllers] line 3 \"oven 1=9\": " + nameRule << 200 << 0;
    QTest::newRow("name of 33") << QByteArray("[Controllers]\n") + QByteArray(33, 'k') + "=9\n"
                                << alone
                                << "[Controllers] line 3 \"" + QString(33, QLatin1Char('k')) +
                                       "=9\": " + nameRule
                                << 200 << 0;
    QTest::newRow("a word of the audit trail as a name")
        << QByteArray("[Controllers]\nEvent=9\n") << alone
        << R"([Controllers] line 3 "Event=9": "Event" is a word of the audit trail)" << 200 << 0;
    QTest::newRow("empty name") << QByteArray("[Controllers]\n=9\n") << alone
                                << "[Controllers] line 3 \"=9\": " + nameRule << 200 << 0;
    QTest::newRow("address 0") << QByteArray("[Controllers]\na=0\n") << alone
                               << "[Controllers] line 3 \"a=0\": " + addressRule << 200 << 0;
    QTest::newRow("address 248") << QByteArray("[Controllers]\na=248\n") << alone
                                 << "[Controllers] line 3 \"a=248\": " + addressRule << 200 << 0;
    QTest::newRow("address 9x") << QByteArray("[Controllers]\na=9x\n") << alone
                                << "[Controllers] line 3 \"a=9x\": " + addressRule << 200 << 0;
    QTest::newRow("address twice")
        << QByteArray("[Controllers]\na=5\nb=5\n") << alone
        << R"([Controllers] line 4 "b=5": address 5 is taken by "a")" << 200 << 0;
    QTest::newRow("name twice, in another case")
        << QByteArray("[Controllers]\nOven=5\noven=6\n") << alone
        << R"([Controllers] line 4 "oven=6": the name "Oven" is taken)" << 200 << 0;
    QTest::newRow("section without a line") << QByteArray("[Controllers]\n[Other]\na=1\n") << alone
                                            << "[Controllers] names no controller" << 200 << 0;
    QTest::newRow("answer time-out of 5 ms")
        << QByteArray("[Controllers]\na=1\n[Bus]\nAnswerTimeout=5\n") << alone
        << "[Bus] AnswerTimeout \"5\": milliseconds from 10 to 1000" << 200 << 0;
    QTest::newRow("a second [Controllers]")
        << QByteArray("[Controllers]\na=1\n[controllers]\nb=2\n") << alone
        << "[Controllers] line 4: a second [Controllers] section (the first is at line 2)" << 200
        << 0;
    QTest::newRow("a second [Bus]")
        << QByteArray("[Controllers]\na=1\n[Bus]\nExtraGap=5\n[Bus]\nAnswerTimeout=80\n") << alone
        << "[Bus] line 6: a second [Bus] section (the first is at line 4)" << 200 << 0;
    QTest::newRow("a misspelt [Bus] key")
        << QByteArray("[Controllers]\na=1\n[Bus]\nAnswerTimout=50\n") << alone
        << "[Bus] line 5 \"AnswerTimout=50\": no such key (AnswerTimeout, ExtraGap)" << 200 << 0;
}

void TestSettings::controllersSection() {
    QFETCH(QByteArray, body);
    writeConf(body);
    const settings::SettingsRead read = settings::loadSettings(section, path());
    const settings::ControllersRead& bus = settings::configuredControllers();
    QStringList controllers;
    for (const tklink::ControllerId& id : bus.controllers)
        controllers << id.name + QLatin1Char('=') + QString::number(id.address);
    QTEST(controllers.join(QLatin1Char(',')), "controllers");
    QTEST(read.controllersRefused, "refused");
    QTEST(bus.timing.answerTimeoutMs, "answerTimeout");
    QTEST(bus.timing.extraGapMs, "extraGap");
    QCOMPARE(bus.bus, controllers.first() != QLatin1String("=9"));
}

// What cannot be a limit is named with its line, and that alarm is off;
// HighHysteresis and LinkLostAfter keep their defaults.
void TestSettings::alarmValuesRefused_data() {
    QTest::addColumn<QByteArray>("alarms");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("taken"); // high hysteresis band delay heatUp linkLost

    QTest::newRow("text") << QByteArray("HighLimit=abc") << "HighLimit \"abc\" is not a number"
                          << "- 1 - - - 30";
    QTest::newRow("NaN") << QByteArray("HighLimit=NaN") << "HighLimit \"NaN\" is not a number"
                         << "- 1 - - - 30";
    QTest::newRow("negative band")
        << QByteArray("DeviationBand=-1") << "DeviationBand \"-1\" out of range, 0.1 to 3276.7 °C"
        << "- 1 - - - 30";
    QTest::newRow("link lost after 0")
        << QByteArray("LinkLostAfter=0") << "LinkLostAfter \"0\" out of range, 1 to 86400 s"
        << "- 1 - - - 30";
    QTest::newRow("link lost after 1e20")
        << QByteArray("LinkLostAfter=1e+20") << "LinkLostAfter \"1e+20\" out of range, 1 to 86400 s"
        << "- 1 - - - 30";
    QTest::newRow("delay of 1e30") << QByteArray("DeviationDelay=1e30")
                                   << "DeviationDelay \"1e30\" out of range, 0 to 10080 min"
                                   << "- 1 - - - 30";
    QTest::newRow("heat-up of 0") << QByteArray("HeatUpLimit=0")
                                  << "HeatUpLimit \"0\" out of range, 0.1 to 10080 min"
                                  << "- 1 - - - 30";
    QTest::newRow("sound values taken")
        << QByteArray("HighLimit=350 C\nHighHysteresis=2.5\nDeviationBand=5\nDeviationDelay=0\n"
                      "HeatUpLimit=45\nLinkLostAfter=60")
        << ""
        << "350 2.5 5 0 45 60";
}

void TestSettings::alarmValuesRefused() {
    QFETCH(QByteArray, alarms);
    writeConf("ComPortNum=3\n[Alarms]\n" + alarms + "\n");
    const settings::SettingsRead read = settings::loadSettings(section, path());
    QFETCH(QString, refusal);
    QCOMPARE(read.alarmsRefused,
             refusal.isEmpty() ? QStringList() : QStringList{"conf.ini line 4: " + refusal});
    const auto text = [](const std::optional<float>& v) {
        return v ? QString::number(double(*v)) : QStringLiteral("-");
    };
    const Data::AlarmSettings& a = Data::alarms;
    QTEST(QStringList({text(a.highLimit), text(a.highHysteresis), text(a.deviationBand),
                       text(a.deviationDelay), text(a.heatUpLimit), text(a.linkLostAfter)})
              .join(QLatin1Char(' ')),
          "taken");
}

void TestSettings::controlSection_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("taken"); // SetpointWrite min max function, "-" for none
    QTest::addColumn<QString>("refused");

    // Line 2 is [Control]; SetpointWrite=1 is line 3.
    const QByteArray on("[Control]\nSetpointWrite=1\n");
    QTest::newRow("no section: off") << QByteArray() << "0 - - 6"
                                     << "";
    QTest::newRow("on, limits, function 16")
        << on + "SetpointMin=20\nSetpointMax=250.5\nSetpointFunction=16\n"
        << "1 20 250.5 16"
        << "";
    QTest::newRow("on without limits") << on << "1 - - 6"
                                       << "";
    QTest::newRow("max not a number") << on + "SetpointMin=20\nSetpointMax=hot\n"
                                      << "0 20 - 6"
                                      << "conf.ini line 5: SetpointMax \"hot\" is not a number";
    QTest::newRow("min above max") << on + "SetpointMin=300\nSetpointMax=250\n"
                                   << "0 300 250 6"
                                   << "conf.ini line 5: SetpointMax 250 is below SetpointMin 300";
    QTest::newRow("function 5") << on + "SetpointFunction=5\n"
                                << "0 - - 6"
                                << "conf.ini line 4: SetpointFunction \"5\" is 6 or 16";
    QTest::newRow("write yes") << QByteArray("[Control]\nSetpointWrite=yes\n") << "0 - - 6"
                               << "conf.ini line 3: SetpointWrite \"yes\" is 0 or 1";
}

void TestSettings::controlSection() {
    QFETCH(QByteArray, body);
    writeConf(body);
    const settings::SettingsRead read = settings::loadSettings(section, path());
    const settings::ControlRead& c = settings::configuredControl();
    const auto text = [](const std::optional<double>& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    QTEST(QStringLiteral("%1 %2 %3 %4")
              .arg(int(c.setpointWrite))
              .arg(text(c.setpointMin), text(c.setpointMax))
              .arg(c.setpointFunction),
          "taken");
    QFETCH(QString, refused);
    QCOMPARE(read.controlRefused, refused.isEmpty() ? QStringList() : QStringList{refused});
}

void TestSettings::eventsSection_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("refused");

    const QStringList defaults{"Load in", "Door open", "Quench", "Load out"};
    QTest::newRow("no section: the default list") << QByteArray() << defaults << "";
    QTest::newRow("the shop's list in its order, comments and blanks left out")
        << QByteArray("[Events]\n; ours\n Charge in \n\nDoor open=2\n") + QByteArray(40, 'e')
        << QStringList{"Charge in", "Door open=2", QString(40, QLatin1Char('e'))} << "";
    QTest::newRow("empty section: free text only")
        << QByteArray("[Events]\n[Other]\n") << QStringList() << "";
    QTest::newRow("twice, in another case") << QByteArray("[Events]\nQuench\nquench\n") << defaults
                                            << R"([Events] line 4 "quench": listed already)";
    QTest::newRow("41 characters") << QByteArray("[Events]\n") + QByteArray(41, 'e') << defaults
                                   << "[Events] line 3 \"" + QString(41, QLatin1Char('e')) +
                                          "\": an event is at most 40 characters";
    QByteArray many = "[Events]\n";
    for (int i = 1; i <= 21; ++i)
        many += "e" + QByteArray::number(i) + "\n";
    QTest::newRow("21 events") << many << defaults
                               << R"([Events] line 23 "e21": at most 20 events)";
}

void TestSettings::eventsSection() {
    QFETCH(QByteArray, body);
    writeConf(body);
    const settings::SettingsRead read = settings::loadSettings(section, path());
    QTEST(settings::configuredEvents().events, "events");
    QTEST(read.eventsRefused, "refused");
}

// A port may name a gateway: what port 1 names, and the first bad gateway
// line with its number. A serial device is never taken for one.
void TestSettings::portsSection_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("refused");

    const QString portRule = QStringLiteral("the TCP port is a number from 1 to 65535, not ");
    QTest::newRow("serial device") << QByteArray("[Ports]\n1=/dev/ttyUSB3\n") << ""
                                   << "";
    QTest::newRow("Modbus TCP, port 502 by default")
        << QByteArray("[Ports]\n1=tcp://192.168.1.50\n") << "tcp://192.168.1.50:502"
        << "";
    QTest::newRow("host name, upper-case scheme")
        << QByteArray("[Ports]\n1=TCP://gw-3.plant.example:1502\n")
        << "tcp://gw-3.plant.example:1502"
        << "";
    QTest::newRow("RTU over TCP to IPv6 in brackets")
        << QByteArray("[Ports]\n1=rtu+tcp://[fd00::7]:4001\n") << "rtu+tcp://[fd00::7]:4001"
        << "";
    QTest::newRow("port 0") << QByteArray("[Ports]\n1=tcp://gw:0\n") << ""
                            << "[Ports] line 3 \"1=tcp://gw:0\": " + portRule + "\"0\"";
    QTest::newRow("port 65536, second line")
        << QByteArray("[Ports]\n1=/dev/ttyS0\n2=tcp://gw:65536\n") << ""
        << "[Ports] line 4 \"2=tcp://gw:65536\": " + portRule + "\"65536\"";
    QTest::newRow("serial server without its port")
        << QByteArray("[Ports]\n1=rtu+tcp://gw\n") << ""
        << "[Ports] line 3 \"1=rtu+tcp://gw\": a serial server's TCP port must be given: "
           "rtu+tcp://HOST:PORT";
    QTest::newRow("IPv6 without brackets")
        << QByteArray("[Ports]\n1=tcp://fd00::7\n") << ""
        << "[Ports] line 3 \"1=tcp://fd00::7\": an IPv6 address is written in brackets: [fd00::7]";
    QTest::newRow("not an IPv4 address")
        << QByteArray("[Ports]\n1=tcp://192.168.1.300:502\n") << ""
        << "[Ports] line 3 \"1=tcp://192.168.1.300:502\": \"192.168.1.300\" is not an IPv4 "
           "address";
    QTest::newRow("no host") << QByteArray("[Ports]\n1=tcp://:502\n") << ""
                             << "[Ports] line 3 \"1=tcp://:502\": the host is missing";
    QTest::newRow("a path after the port")
        << QByteArray("[Ports]\n1=tcp://gw:502/x\n") << ""
        << "[Ports] line 3 \"1=tcp://gw:502/x\": " + portRule + "\"502/x\"";
    QTest::newRow("another scheme")
        << QByteArray("[Ports]\n1=udp://gw:502\n") << ""
        << "[Ports] line 3 \"1=udp://gw:502\": a gateway is tcp://HOST:PORT (Modbus TCP) or "
           "rtu+tcp://HOST:PORT (RTU over TCP)";
}

void TestSettings::portsSection() {
    QFETCH(QByteArray, body);
    writeConf(body);
    const settings::SettingsRead read = settings::loadSettings(section, path());
    const auto gateway = settings::configuredGateway(1);
    QTEST(gateway ? gateway->text() : QString(), "gateway");
    QTEST(read.portsRefused, "refused");
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
