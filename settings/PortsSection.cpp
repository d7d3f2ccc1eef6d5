#include "PortsSection.h"

#include "PortAccess.h"
#include "Profile.h"

namespace settings {

QString configuredDevice(int portNumber, const QString& path) {
    const QString mapped =
        getProfileString(QStringLiteral("Ports"), QString::number(portNumber), QString(), path);
    return mapped.isEmpty() ? tklink::defaultDeviceName(portNumber) : mapped;
}

} // namespace settings
