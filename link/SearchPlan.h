#pragma once

// What the controller search tries and how long it waits: pure, so that the
// order and the waits can be checked without a port.

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

namespace tklink {

// A serial device the search may try.
struct SearchDevice {
    QString device;
    // The port number that names it; when named is false, no number does yet
    // and this is the one proposed for a [Ports] line (0: none free).
    int portNumber = 0;
    bool named = true;
    bool operator==(const SearchDevice&) const = default;
};

// The speeds of the search, each once: the configured one first (left out
// when it is not a positive whole number), then 19200, 9600, 38400, 57600,
// 115200, 4800, 2400 and 1200.
QList<qint32> searchSpeeds(const QString& configuredSpeed);

// The candidates in their order, each device once: identity(name) says which
// device a name reaches (a /dev/serial/by-id link and its target are one), and
// an empty identity means the device is not there. Of two names of one device
// the first is kept, with a port number that names it if either has one.
QList<SearchDevice> distinctDevices(const QList<SearchDevice>& candidates,
                                    const std::function<QString(const QString&)>& identity);

// The wait for the answer at speed: our request and the answer (8 + 11
// characters of 10 bits, 20 ms at 9600 bit/s; an echoing adapter returns the
// request first) and the controller's turnaround.
int answerWaitMs(qint32 speed);

// The controller's time from the end of a request to its answer, with room.
inline constexpr int turnaroundMs = 150;

// The speeds the other addresses are asked at, in the order of speeds: its
// first (the configured one) and the two usual ones, 19200 and 9600. Every
// speed would take the search minutes where nothing answers; a bus at a rare
// speed is found once that speed is configured.
QList<qint32> scanSpeeds(const QList<qint32>& speeds);

// The addresses the search asks. On every device at every speed the first;
// when it answered nowhere, the others, address by address, at scanSpeeds,
// on all devices at once; where a controller answered, 1 to listUpTo (0:
// none), to list what shares its line.
struct SearchAddresses {
    uint8_t first = 9;
    QList<uint8_t> others;
    int listUpTo = 0;
    bool operator==(const SearchAddresses&) const = default;
};

// configured: the [Controllers] addresses in the file's order, empty without
// the section. Without them 9 first, then the rest of 1 to listUpTo; with
// them the first configured one, then the others configured.
SearchAddresses searchAddresses(const QList<uint8_t>& configured, int listUpTo);

// The wait for one of the other addresses: as answerWaitMs, but for a
// controller on a bus, which answers within tens of milliseconds, since
// every device is asked each of them at every speed.
int scanWaitMs(qint32 speed);

inline constexpr int scanTurnaroundMs = 60;

} // namespace tklink
