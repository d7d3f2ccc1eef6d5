#include "SearchPlan.h"

namespace tklink {

QList<qint32> searchSpeeds(const QString& configuredSpeed) {
    QList<qint32> speeds;
    bool ok = false;
    const qint32 configured = configuredSpeed.trimmed().toInt(&ok);
    if (ok && configured > 0)
        speeds << configured;
    for (const qint32 speed : {19200, 9600, 38400, 57600, 115200, 4800, 2400, 1200}) {
        if (!speeds.contains(speed))
            speeds << speed;
    }
    return speeds;
}

QList<qint32> scanSpeeds(const QList<qint32>& speeds) {
    QList<qint32> scanned;
    for (const qint32 speed : speeds) {
        if (scanned.isEmpty() || speed == 19200 || speed == 9600)
            scanned << speed;
    }
    return scanned;
}

QList<SearchDevice> distinctDevices(const QList<SearchDevice>& candidates,
                                    const std::function<QString(const QString&)>& identity) {
    QList<SearchDevice> kept;
    QStringList identities;
    for (const SearchDevice& candidate : candidates) {
        const QString id = identity(candidate.device);
        if (id.isEmpty())
            continue;
        const qsizetype seen = identities.indexOf(id);
        if (seen < 0) {
            kept << candidate;
            identities << id;
        } else if (!kept[seen].named && candidate.named) {
            kept[seen].portNumber = candidate.portNumber;
            kept[seen].named = true;
        }
    }
    return kept;
}

namespace {

int waitMs(qint32 speed, int turnaround) {
    constexpr int bitsOnLine = (8 + 11) * 10;
    if (speed <= 0)
        return turnaround;
    return int((qint64(bitsOnLine) * 1000 + speed - 1) / speed) + turnaround;
}

} // namespace

int answerWaitMs(qint32 speed) {
    return waitMs(speed, turnaroundMs);
}

int scanWaitMs(qint32 speed) {
    return waitMs(speed, scanTurnaroundMs);
}

SearchAddresses searchAddresses(const QList<uint8_t>& configured, int listUpTo) {
    SearchAddresses addresses;
    addresses.listUpTo = listUpTo;
    if (!configured.isEmpty()) {
        addresses.first = configured.first();
        addresses.others = configured.mid(1);
        return addresses;
    }
    for (int address = 1; address <= listUpTo; ++address) {
        if (address != addresses.first)
            addresses.others << uint8_t(address);
    }
    return addresses;
}

} // namespace tklink
