#include "GatewayAddress.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace tklink {

namespace {

const QString modbusScheme = QStringLiteral("tcp://");
const QString rtuScheme = QStringLiteral("rtu+tcp://");

// A host name as RFC 1123 allows it: labels of letters, digits and inner
// hyphens, 1 to 63 characters each, separated by dots.
bool validHostName(const QString& host) {
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (host.size() > 253)
        return false;
    const QStringList labels = host.split(QLatin1Char('.'));
    for (const QString& each : labels)
        if (!label.match(each).hasMatch())
            return false;
    return true;
}

bool looksLikeIpv4(const QString& host) {
    static const QRegularExpression dotted(QStringLiteral("^[0-9.]+$"));
    return dotted.match(host).hasMatch();
}

GatewayParse refuse(const QString& why) {
    return GatewayParse{std::nullopt, why};
}

} // namespace

QString GatewayAddress::text() const {
    const QString scheme = kind == Kind::ModbusTcp ? modbusScheme : rtuScheme;
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return scheme + shownHost + QLatin1Char(':') + QString::number(port);
}

bool namesGateway(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text.trimmed()).hasMatch();
}

GatewayParse parseGatewayAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    GatewayAddress address;
    QString rest;
    if (trimmed.startsWith(modbusScheme, Qt::CaseInsensitive)) {
        address.kind = GatewayAddress::Kind::ModbusTcp;
        rest = trimmed.mid(modbusScheme.size());
    } else if (trimmed.startsWith(rtuScheme, Qt::CaseInsensitive)) {
        address.kind = GatewayAddress::Kind::RtuOverTcp;
        rest = trimmed.mid(rtuScheme.size());
    } else {
        return refuse(QStringLiteral("a gateway is tcp://HOST:PORT (Modbus TCP) or "
                                     "rtu+tcp://HOST:PORT (RTU over TCP)"));
    }

    QString portText;
    bool portGiven = false;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(QStringLiteral("an IPv6 address ends with \"]\""));
        address.host = rest.mid(1, close - 1);
        const QHostAddress ip(address.host);
        if (ip.isNull() || ip.protocol() != QAbstractSocket::IPv6Protocol)
            return refuse(QStringLiteral("\"%1\" is not an IPv6 address").arg(address.host));
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return refuse(QStringLiteral("only \":PORT\" may follow the host"));
            portText = after.mid(1);
            portGiven = true;
        }
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon >= 0 && rest.indexOf(QLatin1Char(':'), colon + 1) >= 0)
            return refuse(QStringLiteral("an IPv6 address is written in brackets: [%1]").arg(rest));
        address.host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            portGiven = true;
        }
        if (address.host.isEmpty())
            return refuse(QStringLiteral("the host is missing"));
        if (looksLikeIpv4(address.host)) {
            const QHostAddress ip(address.host);
            if (ip.isNull() || ip.protocol() != QAbstractSocket::IPv4Protocol ||
                address.host.count(QLatin1Char('.')) != 3)
                return refuse(QStringLiteral("\"%1\" is not an IPv4 address").arg(address.host));
        } else if (!validHostName(address.host)) {
            return refuse(QStringLiteral("\"%1\" is not a host name").arg(address.host));
        }
    }

    if (!portGiven) {
        if (address.kind == GatewayAddress::Kind::RtuOverTcp)
            return refuse(QStringLiteral("a serial server's TCP port must be given: "
                                         "rtu+tcp://HOST:PORT"));
        address.port = modbusTcpPort;
        return GatewayParse{address, {}};
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int port = digits.match(portText).hasMatch() ? portText.toInt() : 0;
    if (port < 1 || port > 65535)
        return refuse(
            QStringLiteral("the TCP port is a number from 1 to 65535, not \"%1\"").arg(portText));
    address.port = quint16(port);
    return GatewayParse{address, {}};
}

} // namespace tklink
