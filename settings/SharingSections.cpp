#include "SharingSections.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <optional>

namespace settings {

namespace {

constexpr char mqttSection[] = "MQTT";
constexpr char shareSection[] = "Share";
constexpr quint16 mqttPort = 1883;
constexpr quint16 mqttsPort = 8883;

QString refusal(const ProfileText& file, const char* section, const QString& key,
                const QString& why) {
    return QStringLiteral("conf.ini line %1: %2")
        .arg(file.lineOf(QLatin1String(section), key))
        .arg(why);
}

std::optional<quint16> portNumber(const QString& text, bool zeroAllowed) {
    bool ok = false;
    const uint number = text.toUInt(&ok);
    if (!ok || number > 65535 || (number == 0 && !zeroAllowed) || !text.at(0).isDigit())
        return std::nullopt;
    return quint16(number);
}

struct HostPort {
    QString host;
    QString port; // empty when none was given
};

// "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; nothing when the brackets
// do not close.
std::optional<HostPort> splitHostPort(const QString& text) {
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return std::nullopt;
        return HostPort{text.mid(1, close - 1), rest.mid(1)};
    }
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return HostPort{text, {}};
    return HostPort{text.left(colon), text.mid(colon + 1)};
}

bool hostName(const QString& host) {
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*"
                       "[A-Za-z0-9])?)*$"));
    return !QHostAddress(host).isNull() || (host.size() <= 253 && name.match(host).hasMatch());
}

// A topic that publishes: no wildcards, no NUL, not a broker's "$" topic.
bool publishableTopic(const QString& topic) {
    return !topic.isEmpty() && !topic.startsWith(QLatin1Char('$')) &&
           !topic.contains(QLatin1Char('+')) && !topic.contains(QLatin1Char('#')) &&
           !topic.contains(QChar(0)) && topic.toUtf8().size() <= 200;
}

} // namespace

QString MqttSettings::brokerText() const {
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + shown +
           QLatin1Char(':') + QString::number(port);
}

MqttRead readMqttSection(const ProfileText& file, const QString& folderName) {
    MqttRead read;
    MqttSettings& s = read.settings;
    const QString section = QLatin1String(mqttSection);
    const auto value = [&](const char* key) {
        return file.value(section, QLatin1String(key), QString()).trimmed();
    };
    const auto refuse = [&](const char* key, const QString& why) {
        read.refused << refusal(file, mqttSection, QLatin1String(key), why);
    };

    const QString broker = value("Broker");
    if (broker.isEmpty())
        return read;
    const QString brokerForm =
        QStringLiteral("Broker \"%1\" is mqtt://HOST:PORT or mqtts://HOST:PORT").arg(broker);
    s.tls = broker.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive);
    const bool plain = broker.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive);
    const std::optional<HostPort> split =
        // cppcheck-suppress knownConditionTrueFalse ; neither scheme leaves both false
        plain || s.tls ? splitHostPort(broker.mid(s.tls ? 8 : 7)) : std::nullopt;
    if (!split || split->host.isEmpty() || !hostName(split->host)) {
        refuse("Broker", brokerForm);
    } else {
        s.host = split->host;
        const std::optional<quint16> port =
            split->port.isEmpty() ? std::optional<quint16>(s.tls ? mqttsPort : mqttPort)
                                  : portNumber(split->port, false);
        if (port)
            s.port = *port;
        else
            refuse("Broker", brokerForm);
    }

    const QString folderLevel = QString(folderName)
                                    .replace(QLatin1Char('+'), QLatin1Char('_'))
                                    .replace(QLatin1Char('#'), QLatin1Char('_'));
    s.topic = value("Topic");
    if (s.topic.isEmpty())
        s.topic = QStringLiteral("tkcontrol/") + folderLevel;
    while (s.topic.endsWith(QLatin1Char('/')))
        s.topic.chop(1);
    if (!publishableTopic(s.topic))
        refuse("Topic", QStringLiteral("Topic \"%1\" is a topic to publish to: no + or #, not "
                                       "beginning with $")
                            .arg(value("Topic")));

    s.user = value("User");
    s.passwordFile = value("PasswordFile");
    if (!s.passwordFile.isEmpty() && s.user.isEmpty())
        refuse("PasswordFile", QStringLiteral("PasswordFile needs User"));
    // A password written here would be read by anyone who reads conf.ini.
    if (!file.value(section, QStringLiteral("Password"), QString()).isEmpty())
        refuse("Password", QStringLiteral("no Password here: name a file only the recorder reads "
                                          "with PasswordFile"));

    s.caFile = value("CAFile");
    if (!s.caFile.isEmpty() && !s.tls)
        refuse("CAFile", QStringLiteral("CAFile is for a broker at mqtts://"));

    s.discovery = value("Discovery");
    while (s.discovery.endsWith(QLatin1Char('/')))
        s.discovery.chop(1);
    if (!value("Discovery").isEmpty() && !publishableTopic(s.discovery))
        refuse("Discovery", QStringLiteral("Discovery \"%1\" is the hub's discovery prefix, as "
                                           "homeassistant")
                                .arg(value("Discovery")));

    s.enabled = read.refused.isEmpty();
    return read;
}

ShareRead readShareSection(const ProfileText& file) {
    ShareRead read;
    const QString text =
        file.value(QLatin1String(shareSection), QStringLiteral("Listen"), QString()).trimmed();
    if (text.isEmpty())
        return read;
    const auto refuse = [&] {
        read.refused << refusal(file, shareSection, QStringLiteral("Listen"),
                                QStringLiteral("Listen \"%1\" is HOST:PORT with an IP address and "
                                               "a port from 0 to 65535")
                                    .arg(text));
        return read;
    };
    std::optional<HostPort> split = splitHostPort(text);
    if (split && split->port.isEmpty() && !text.contains(QLatin1Char(':')))
        split = HostPort{{}, text}; // "502": the port alone
    if (!split || split->port.isEmpty())
        return refuse();
    QString host = split->host;
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    // An address, so that nothing is looked up in a name service at start.
    if (!host.isEmpty() && QHostAddress(host).isNull())
        return refuse();
    const std::optional<quint16> port = portNumber(split->port, true);
    if (!port)
        return refuse();
    read.settings = {true, host.isEmpty() ? QStringLiteral("127.0.0.1") : host, *port};
    return read;
}

} // namespace settings
