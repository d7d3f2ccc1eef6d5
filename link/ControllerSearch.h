#pragma once

// The search for the controller: every candidate device at every speed,
// speed by speed (the usual speeds are tried on all devices before the rare
// ones), the poll's own request sent and its answer checked as the poll
// checks it. The first address is asked everywhere before the others (see
// SearchAddresses). It stops at the first valid answer, then lists which
// addresses answer on that line. An exception answer to the first address
// says that something answers at that speed, not that it is the controller:
// that device leaves the search, which goes on; to another address it only
// says that no controller is there. The other addresses are asked at fewer
// speeds (scanSpeeds) and on every device at once, each device by a search
// of its own, so that a search where nothing answers ends in seconds. Asynchronous on the calling
// thread's event loop and cancellable. A device another program holds (its lock file, or busy) is
// skipped and never tried again in the same search; the search opens each device only for its own
// try.

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "SearchPlan.h"
#include "SerialPortControl.h"

namespace tklink {

// How one try ended.
enum class TryResult {
    Answer,     // a valid answer: the controller is there at this speed
    Exception,  // a valid exception answer: some device, not taken for the controller
    NoAnswer,   // nothing came in time
    BadAnswer,  // bytes came, but no valid frame (often a wrong speed)
    Busy,       // another program holds the device: skipped
    OpenFailed, // the device did not open: not tried at other speeds
    Lost,       // the device went away during the try
};

struct SearchTry {
    SearchDevice device;
    qint32 speed = 0;
    TryResult result = TryResult::NoAnswer;
    // The system's words for OpenFailed and Lost; the exception code for
    // Exception.
    QString detail;
    // For Busy: the PID in the device's lock file, 0 when none is named.
    qint64 holderPid = 0;
    uint8_t address = 9;
};

struct SearchOutcome {
    bool found = false;
    bool cancelled = false;
    SearchDevice device; // where the controller answered
    qint32 speed = 0;
    uint8_t address = 9;
    // Where it answered, the addresses from 1 to SearchAddresses::listUpTo
    // that answer there, in order.
    QList<int> answering;
    QList<SearchTry> tries;
    // Until the controller answered, or until the search ended without it.
    qint64 elapsedMs = 0;
};

class ControllerSearch : public QObject {
    Q_OBJECT

public:
    ControllerSearch(QList<SearchDevice> devices, QList<qint32> speeds,
                     SearchAddresses addresses = {}, QObject* parent = nullptr);
    ~ControllerSearch() override;

    // Starts from the first device and speed; the first try begins at the
    // next turn of the event loop.
    void start();
    // Ends the search at once, the port closed: finished() with cancelled.
    void cancel();
    bool running() const { return m_running; }

Q_SIGNALS:
    // A try begins: number counts from 1 up to at most total.
    void trying(const tklink::SearchDevice& device, qint32 speed, int number, int total);
    void tried(const tklink::SearchTry& attempt);
    // The first address answered nowhere: the others are asked.
    void askingOthers(int tries);
    // The other addresses, so many of them, are asked on device at speed.
    void sweeping(const tklink::SearchDevice& device, qint32 speed, int addresses);
    // Where the controller answered, address is asked (from 1 to last).
    void listing(int address, int last);
    // Once per start().
    void finished(const tklink::SearchOutcome& outcome);

private:
    enum class Phase { First, Others, Listing };
    void nextTry();
    void startOthers();
    void startLanes();
    void laneTried(ControllerSearch* from, const tklink::SearchTry& attempt);
    void laneFinished(const tklink::SearchOutcome& outcome);
    bool advance();
    int triesLeft() const;
    bool openTry();
    void ask(uint8_t address, int waitMs);
    void receive();
    void waitOver();
    void deviceLost();
    void endTry(TryResult result, const QString& detail = QString(), qint64 holderPid = 0);
    void finish(bool found, bool cancelled);

    QList<SearchDevice> m_devices;
    QList<qint32> m_speeds;
    // The speeds of the phase under way: m_speeds, or scanSpeeds of them.
    QList<qint32> m_phaseSpeeds;
    // One search per device for the other addresses, and how many of them
    // have not finished.
    QList<ControllerSearch*> m_lanes;
    int m_lanesLeft = 0;
    int m_othersTotal = 0;
    SearchAddresses m_addresses;
    SerialPortControl m_port;
    QTimer m_next;
    QTimer m_answerTimer;
    QElapsedTimer m_clock;
    SearchOutcome m_outcome;
    // Devices out of the search (held by another program, not opening).
    std::vector<bool> m_out;
    qsizetype m_speedIndex = 0;
    qsizetype m_deviceIndex = -1;
    qsizetype m_addressIndex = 0;
    Phase m_phase = Phase::First;
    // The address of the try under way.
    uint8_t m_address = 9;
    int m_tryNumber = 0;
    bool m_running = false;
    bool m_waiting = false;
    // Bytes came during this try that made no valid frame.
    bool m_badBytes = false;
    QByteArray m_held;
    QByteArray m_request;
};

} // namespace tklink

Q_DECLARE_METATYPE(tklink::SearchTry)
Q_DECLARE_METATYPE(tklink::SearchOutcome)
