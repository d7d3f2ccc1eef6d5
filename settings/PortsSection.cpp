#include "PortsSection.h"

#include "PortAccess.h"

namespace settings {

namespace {

// Program-wide, as the settings they come with are.
QList<std::pair<QString, QString>> keptPorts;

} // namespace

void keepPortsSection(const ProfileText& file) {
    keptPorts = file.entries(QStringLiteral("Ports"));
}

QString configuredDevice(int portNumber) {
    const QString key = QString::number(portNumber);
    for (const auto& [name, device] : std::as_const(keptPorts)) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return device.isEmpty() ? tklink::defaultDeviceName(portNumber) : device;
    }
    return tklink::defaultDeviceName(portNumber);
}

} // namespace settings
