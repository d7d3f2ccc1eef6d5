#include "ControllerSearch.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "RequestFrame.h"

#include <algorithm>
#include <span>

namespace tklink {

namespace {

std::span<const uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

} // namespace

ControllerSearch::ControllerSearch(QList<SearchDevice> devices, QList<qint32> speeds,
                                   QObject* parent)
    : QObject(parent), m_devices(std::move(devices)), m_speeds(std::move(speeds)),
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
    m_tryNumber = 0;
    m_running = true;
    m_clock.start();
    m_next.start();
}

void ControllerSearch::cancel() {
    if (m_running)
        finish(false, true);
}

void ControllerSearch::nextTry() {
    if (!m_running)
        return;
    // The next device still in the search, at this speed or the next.
    for (;;) {
        if (++m_deviceIndex >= m_devices.size()) {
            m_deviceIndex = 0;
            ++m_speedIndex;
        }
        if (m_speedIndex >= m_speeds.size() || m_devices.isEmpty()) {
            finish(false, false);
            return;
        }
        if (!m_out[std::size_t(m_deviceIndex)])
            break;
    }
    const qint32 speed = m_speeds[m_speedIndex];
    const auto inSearch = [this](qsizetype from) {
        return int(std::count(m_out.begin() + from, m_out.end(), false));
    };
    const int total = m_tryNumber + inSearch(m_deviceIndex) +
                      inSearch(0) * int(m_speeds.size() - m_speedIndex - 1);
    Q_EMIT trying(m_devices[m_deviceIndex], speed, ++m_tryNumber, total);

    const bool opened = m_port.setCommPort(int16_t(m_deviceIndex + 1)) &&
                        m_port.setSettings(QString::number(speed) + QStringLiteral(",n,8,1")) &&
                        m_port.setInputLen(0) && m_port.setRThreshold(1) &&
                        m_port.setPortOpen(true);
    if (!opened) {
        const OpenFailure& failure = m_port.lastFailure();
        m_out[std::size_t(m_deviceIndex)] = true;
        endTry(failure.kind == OpenFailure::Kind::Busy ? TryResult::Busy : TryResult::OpenFailed,
               failure.systemText, failure.holderPid);
        return;
    }
    m_held.clear();
    m_waiting = true;
    m_answerTimer.start(answerWaitMs(speed));
    sendRequest(m_port, pollRequestText());
    m_request = QByteArray(reinterpret_cast<const char*>(Data::txFrame.data()),
                           qsizetype(Data::txFrame.size()));
}

void ControllerSearch::receive() {
    if (!m_waiting)
        return;
    m_held += m_port.input();
    // The poll's checks, on bytes of our own: the poll's buffer is not ours.
    for (;;) {
        const std::span<const uint8_t> held = bytesOf(m_held);
        const EchoHead echo = checkEcho(held, bytesOf(m_request));
        if (echo == EchoHead::Partial)
            return;
        if (echo == EchoHead::Whole) {
            m_held.remove(0, m_request.size());
            continue;
        }
        switch (checkHead(held)) {
        case FrameHead::NeedMore:
            return;
        case FrameHead::Answer:
            endTry(TryResult::Answer);
            return;
        case FrameHead::Exception:
            // Something answers here at this speed: not at another one.
            m_out[std::size_t(m_deviceIndex)] = true;
            endTry(TryResult::Exception, QString::number(*exceptionCode(held)));
            return;
        case FrameHead::Bad:
            m_held.remove(0, 1);
            m_badBytes = true;
            break;
        }
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
    const SearchTry attempt{m_devices[m_deviceIndex], m_speeds[m_speedIndex], result, detail,
                            holderPid};
    m_outcome.tries << attempt;
    Q_EMIT tried(attempt);
    if (result == TryResult::Answer) {
        m_outcome.device = attempt.device;
        m_outcome.speed = attempt.speed;
        finish(true, false);
        return;
    }
    m_next.start();
}

void ControllerSearch::finish(bool found, bool cancelled) {
    m_running = false;
    m_waiting = false;
    m_next.stop();
    m_answerTimer.stop();
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    m_outcome.found = found;
    m_outcome.cancelled = cancelled;
    m_outcome.elapsedMs = m_clock.elapsed();
    Q_EMIT finished(m_outcome);
}

} // namespace tklink
