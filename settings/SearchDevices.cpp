#include "SearchDevices.h"

#include <QDir>
#include <QFileInfo>

#include "PortAccess.h"

namespace settings {

namespace {

// The device a name reaches, links followed; empty when it is not there.
QString identity(const QString& name) {
#ifdef Q_OS_WIN
    return name.toUpper();
#else
    return QFileInfo(name).canonicalFilePath();
#endif
}

} // namespace

QList<tklink::SearchDevice> searchDevices(int configuredPort,
                                          const std::function<QString(int)>& deviceForPort) {
    QList<tklink::SearchDevice> candidates;
    if (configuredPort >= 1)
        candidates << tklink::SearchDevice{deviceForPort(configuredPort), configuredPort};
    for (int n = 1; n <= tklink::scannedPorts; ++n)
        candidates << tklink::SearchDevice{deviceForPort(n), n};
    QStringList unnumbered = tklink::presentSerialDevices();
#ifndef Q_OS_WIN
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& link : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        unnumbered << byId.filePath(link);
#endif
    for (const QString& device : unnumbered)
        candidates << tklink::SearchDevice{device, 0, false};
    QList<tklink::SearchDevice> devices = tklink::distinctDevices(candidates, identity);
    // Numbers are proposed in the order of the devices that need one.
    int next = 1;
    for (tklink::SearchDevice& device : devices) {
        if (device.named)
            continue;
        while (next <= tklink::scannedPorts && !identity(deviceForPort(next)).isEmpty())
            ++next;
        device.portNumber = next <= tklink::scannedPorts ? next++ : 0;
    }
    return devices;
}

} // namespace settings
