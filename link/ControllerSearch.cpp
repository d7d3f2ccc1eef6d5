#include "ControllerSearch.h"

#include "AnswerFrame.h"
#include "ReceiveStep.h"

#include <algorithm>
#include <utility>

namespace tklink {

ControllerSearch::ControllerSearch(QList<SearchDevice> devices, QList<qint32> speeds,
                                   SearchAddresses addresses, QObject* parent)
    : QObject(parent), m_devices(std::move(devices)), m_speeds(std::move(speeds)),
      m_addresses(std::move(addresses)),
      // Port number n of the search's own port is its n-th device.
      m_port(
          [this](int n) {
              return n >= 1 && n <= m_devices.size() ? m_devices[n - 1].device : QString();
          },
          this) {
    qRegisterMetaType<tklink::SearchTry>();
    qRegisterMetaType<tklink::SearchOutcome>();
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_next, &QTimer::timeout, this, &ControllerSearch::nextTry);
    connect(&m_answerTimer, &QTimer::timeout, this, &ControllerSearch::waitOver);
    connect(&m_port, &SerialPortControl::comm, this, &ControllerSearch::receive);
    connect(&m_port, &SerialPortControl::deviceLost, this, &ControllerSearch::deviceLost);
}

ControllerSearch::~ControllerSearch() {
    if (m_port.portOpen())
        m_port.setPortOpen(false);
}

void ControllerSearch::start() {
    if (m_running)
        cancel();
    m_outcome = {};
    m_out.assign(std::size_t(m_devices.size()), false);
    m_speedIndex = 0;
    m_deviceIndex = -1;
    m_addressIndex = 0;
    m_phase = Phase::First;
    m_phaseSpeeds = m_speeds;
    m_tryNumber = 0;
    m_running = true;
    m_clock.start();
    m_next.start();
}

// For a lane: its one device, the other addresses only.
void ControllerSearch::startOthers() {
    start();
    m_phase = Phase::Others;
    m_phaseSpeeds = scanSpeeds(m_speeds);
}

void ControllerSearch::cancel() {
    if (m_running)
        finish(false, true);
}

bool ControllerSearch::advance() {
    const qsizetype addresses = m_phase == Phase::First ? 1 : m_addresses.others.size();
    for (;;) {
        if (m_deviceIndex >= 0 && ++m_addressIndex < addresses &&
            !m_out[std::size_t(m_deviceIndex)])
            return true;
        m_addressIndex = 0;
        if (++m_deviceIndex >= m_devices.size()) {
            m_deviceIndex = 0;
            ++m_speedIndex;
        }
        if (m_speedIndex >= m_phaseSpeeds.size() || m_devices.isEmpty() || addresses == 0)
            return false;
        if (!m_out[std::size_t(m_deviceIndex)])
            return true;
    }
}

int ControllerSearch::triesLeft() const {
    const int addresses = m_phase == Phase::First ? 1 : int(m_addresses.others.size());
    const auto inSearch = [this](qsizetype from) {
        return int(std::count(m_out.begin() + from, m_out.end(), false));
    };
    return addresses - int(m_addressIndex) + addresses * (inSearch(m_deviceIndex + 1)) +
           addresses * inSearch(0) * int(m_phaseSpeeds.size() - m_speedIndex - 1);
}

void ControllerSearch::nextTry() {
    if (!m_running)
        return;
    if (m_phase == Phase::Listing) {
        int address = int(++m_addressIndex);
        // The address found has answered already.
        while (address == m_outcome.address) {
            m_outcome.answering << address;
            address = int(++m_addressIndex);
        }
        if (address > m_addresses.listUpTo || !openTry()) {
            finish(true, false);
            return;
        }
        Q_EMIT listing(address, m_addresses.listUpTo);
        ask(uint8_t(address), answerWaitMs(m_phaseSpeeds[m_speedIndex]));
        return;
    }
    if (!advance()) {
        if (m_phase == Phase::Others || m_addresses.others.isEmpty()) {
            finish(false, false);
            return;
        }
        m_phase = Phase::Others;
        m_phaseSpeeds = scanSpeeds(m_speeds);
        m_speedIndex = 0;
        m_deviceIndex = -1;
        if (!advance()) {
            finish(false, false);
            return;
        }
        Q_EMIT askingOthers(triesLeft());
        if (std::count(m_out.begin(), m_out.end(), false) > 1) {
            startLanes();
            return;
        }
    }
    if (m_phase == Phase::Others && m_addressIndex == 0)
        Q_EMIT sweeping(m_devices[m_deviceIndex], m_phaseSpeeds[m_speedIndex],
                        int(m_addresses.others.size()));
    const qint32 speed = m_phaseSpeeds[m_speedIndex];
    const int total = m_tryNumber + triesLeft();
    Q_EMIT trying(m_devices[m_deviceIndex], speed, ++m_tryNumber, total);
    const uint8_t address =
        m_phase == Phase::First ? m_addresses.first : m_addresses.others[m_addressIndex];
    m_address = address;
    if (!openTry()) {
        const OpenFailure& failure = m_port.lastFailure();
        m_out[std::size_t(m_deviceIndex)] = true;
        endTry(failure.kind == OpenFailure::Kind::Busy ? TryResult::Busy : TryResult::OpenFailed,
               failure.systemText, failure.holderPid);
        return;
    }
    ask(address, m_phase == Phase::First ? answerWaitMs(speed) : scanWaitMs(speed));
}

bool ControllerSearch::openTry() {
    return m_port.setCommPort(int16_t(m_deviceIndex + 1)) &&
           m_port.setSettings(QString::number(m_phaseSpeeds[m_speedIndex]) +
                              QStringLiteral(",n,8,1")) &&
           m_port.setInputLen(0) && m_port.setRThreshold(1) && m_port.setPortOpen(true);
}

void ControllerSearch::ask(uint8_t address, int waitMs) {
    m_address = address;
    m_request = pollRequestBytes(address);
    m_held.clear();
    m_waiting = true;
    m_answerTimer.start(waitMs);
    // What waits on the device came before this request (a late answer to
    // the try before, at another speed): it cannot answer this one.
    m_port.clearInBuffer();
    m_port.output(m_request);
}

void ControllerSearch::receive() {
    if (!m_waiting)
        return;
    m_held += m_port.input();
    // The line's own receive step, on bytes of our own: the poll's buffer is
    // not ours.
    for (;;) {
        const HeldVerdict verdict =
            judgeHeld(byteSpan(m_held), byteSpan(m_request), Reply::Registers);
        switch (verdict.kind) {
        case HeldVerdict::Kind::NeedMore:
            return;
        case HeldVerdict::Kind::Echo:
            break;
        case HeldVerdict::Kind::Answer:
            endTry(TryResult::Answer);
            return;
        case HeldVerdict::Kind::Exception:
            // Something answers here at this speed: not at another one.
            if (m_phase == Phase::First)
                m_out[std::size_t(m_deviceIndex)] = true;
            endTry(TryResult::Exception, QString::number(verdict.code));
            return;
        case HeldVerdict::Kind::Foreign:
        case HeldVerdict::Kind::Drop:
            m_badBytes = true;
            break;
        }
        m_held.remove(0, verdict.length);
    }
}

void ControllerSearch::waitOver() {
    if (m_waiting)
        endTry(m_badBytes || !m_held.isEmpty() ? TryResult::BadAnswer : TryResult::NoAnswer);
}

void ControllerSearch::deviceLost() {
    if (m_waiting) {
        m_out[std::size_t(m_deviceIndex)] = true;
        endTry(TryResult::Lost, m_port.failureReason());
    }
}

void ControllerSearch::endTry(TryResult result, const QString& detail, qint64 holderPid) {
    m_waiting = false;
    m_badBytes = false;
    m_answerTimer.stop();
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    if (m_phase == Phase::Listing) {
        if (result == TryResult::Answer)
            m_outcome.answering << m_address;
        if (result == TryResult::Lost)
            finish(true, false);
        else
            m_next.start();
        return;
    }
    const SearchTry attempt{m_devices[m_deviceIndex],
                            m_phaseSpeeds[m_speedIndex],
                            result,
                            detail,
                            holderPid,
                            m_address};
    m_outcome.tries << attempt;
    Q_EMIT tried(attempt);
    if (result == TryResult::Answer) {
        m_outcome.device = attempt.device;
        m_outcome.speed = attempt.speed;
        m_outcome.address = m_address;
        m_outcome.elapsedMs = m_clock.elapsed();
        m_phase = Phase::Listing;
        m_addressIndex = 0;
        m_next.start();
        return;
    }
    m_next.start();
}

void ControllerSearch::startLanes() {
    m_othersTotal = m_tryNumber + triesLeft();
    for (qsizetype i = 0; i < m_devices.size(); ++i) {
        if (m_out[std::size_t(i)])
            continue;
        auto* lane = new ControllerSearch({m_devices[i]}, m_speeds, m_addresses, this);
        connect(lane, &ControllerSearch::trying, this,
                [this](const SearchDevice& device, qint32 speed) {
                    ++m_tryNumber;
                    Q_EMIT trying(device, speed, m_tryNumber, std::max(m_tryNumber, m_othersTotal));
                });
        connect(lane, &ControllerSearch::sweeping, this, &ControllerSearch::sweeping);
        connect(lane, &ControllerSearch::tried, this,
                [this, lane](const SearchTry& attempt) { laneTried(lane, attempt); });
        connect(lane, &ControllerSearch::listing, this, &ControllerSearch::listing);
        connect(lane, &ControllerSearch::finished, this, &ControllerSearch::laneFinished);
        m_lanes << lane;
    }
    m_lanesLeft = int(m_lanes.size());
    for (ControllerSearch* lane : std::as_const(m_lanes))
        lane->startOthers();
}

void ControllerSearch::laneTried(ControllerSearch* from, const SearchTry& attempt) {
    m_outcome.tries << attempt;
    Q_EMIT tried(attempt);
    if (attempt.result != TryResult::Answer)
        return;
    // The first to answer lists its line; the others stop, and say no more.
    m_outcome.elapsedMs = m_clock.elapsed();
    for (ControllerSearch* lane : std::as_const(m_lanes)) {
        if (lane != from) {
            disconnect(lane, nullptr, this, nullptr);
            lane->cancel();
        }
    }
}

void ControllerSearch::laneFinished(const SearchOutcome& outcome) {
    if (outcome.found) {
        m_outcome.device = outcome.device;
        m_outcome.speed = outcome.speed;
        m_outcome.address = outcome.address;
        m_outcome.answering = outcome.answering;
        finish(true, false);
    } else if (--m_lanesLeft == 0) {
        finish(false, false);
    }
}

void ControllerSearch::finish(bool found, bool cancelled) {
    for (ControllerSearch* lane : std::as_const(m_lanes)) {
        disconnect(lane, nullptr, this, nullptr);
        lane->cancel();
        lane->deleteLater();
    }
    m_lanes.clear();
    m_running = false;
    m_waiting = false;
    m_next.stop();
    m_answerTimer.stop();
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    // A configured address may lie beyond the addresses listed.
    if (found && !m_outcome.answering.contains(m_outcome.address)) {
        m_outcome.answering << m_outcome.address;
        std::sort(m_outcome.answering.begin(), m_outcome.answering.end());
    }
    m_outcome.found = found;
    m_outcome.cancelled = cancelled;
    if (!found)
        m_outcome.elapsedMs = m_clock.elapsed();
    Q_EMIT finished(m_outcome);
}

} // namespace tklink
