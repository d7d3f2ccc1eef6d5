#include "PollCycle.h"

#include "Data.h"
#include "PortAccess.h"
#include "RequestFrame.h"
#include "SerialPortControl.h"
#include "TextFormats.h"

#include <QByteArray>
#include <QTimer>

namespace tklink {

PollCycle::PollCycle(SerialPortControl& port, QTimer& pollTimer, Clock now, QObject* parent)
    : QObject(parent), m_port(port), m_pollTimer(pollTimer), m_now(std::move(now)),
      m_collector(m_now) {
    connect(&m_collector, &AnswerCollector::statusText, this, &PollCycle::statusText);
    connect(&m_collector, &AnswerCollector::readouts, this, &PollCycle::readouts);
    connect(&m_port, &SerialPortControl::comm, this, &PollCycle::receive);
    connect(&m_port, &SerialPortControl::deviceLost, this, &PollCycle::onDeviceLost);
}

void PollCycle::tick() {
    if (!Data::portConnected && m_reopenAfterLoss) {
        // Same number and speed as before: a replugged adapter comes back
        // under the name it had, and polling resumes without the operator.
        open_port(m_port);
        m_reopenAfterLoss = !Data::portConnected;
    }
    if (!Data::portConnected) {
        Q_EMIT statusText(QStringLiteral("Not connected"));
        return;
    }

    m_pollTimer.setInterval(pollIntervalMs);
    // Slave address, read holding registers, first register, register count.
    const QString request = QStringLiteral("09") + QStringLiteral("03") + QStringLiteral("0001") +
                            QStringLiteral("0003");
    Data::rxCount = 0;
    m_collector.requestSent();
    Q_EMIT statusText(stamped(QStringLiteral("Send request to controler ")));
    sendRequest(m_port, request);
}

void PollCycle::receive() {
    if (m_port.commEvent() != SerialPortControl::comEvReceive)
        return;
    m_port.setInputLen(1);
    while (m_port.inBufferCount() >= 1) {
        const QByteArray byte = m_port.input();
        if (byte.isEmpty())
            return;
        m_collector.take(static_cast<uint8_t>(byte[0]));
    }
}

void PollCycle::portReopenedByUser() {
    m_reopenAfterLoss = false;
}

void PollCycle::onDeviceLost() {
    Data::portConnected = false;
    m_reopenAfterLoss = true;
}

QString PollCycle::stamped(const QString& text) const {
    return text + statusTime(m_now().time());
}

} // namespace tklink
