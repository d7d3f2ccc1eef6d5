#include "PortsSection.h"

#include "PortAccess.h"

namespace settings {

namespace {

constexpr char portsSection[] = "Ports";

// Program-wide, as the settings they come with are.
QList<std::pair<QString, QString>> keptPorts;

} // namespace

void keepPortsSection(const ProfileText& file) {
    keptPorts = file.entries(QLatin1String(portsSection));
}

QString configuredDevice(int portNumber) {
    const QString key = QString::number(portNumber);
    for (const auto& [name, device] : std::as_const(keptPorts)) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return device.isEmpty() ? tklink::defaultDeviceName(portNumber) : device;
    }
    return tklink::defaultDeviceName(portNumber);
}

std::optional<tklink::GatewayAddress> configuredGateway(int portNumber) {
    const QString device = configuredDevice(portNumber);
    if (!tklink::namesGateway(device))
        return std::nullopt;
    return tklink::parseGatewayAddress(device).address;
}

QString portsSectionError(const ProfileText& file) {
    for (const auto& [number, line] : file.sectionLines(QLatin1String(portsSection))) {
        const QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
        if (!tklink::namesGateway(value))
            continue;
        const tklink::GatewayParse parsed = tklink::parseGatewayAddress(value);
        if (!parsed.address)
            return QStringLiteral("[Ports] line %1 \"%2\": %3").arg(number).arg(line, parsed.error);
    }
    return {};
}

} // namespace settings
