#include "SetpointWrite.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"
#include "RequestFrame.h"
#include "SerialPortControl.h"
#include "SetpointFrame.h"

#include <cmath>
#include <span>

namespace tklink {

QString controllerLabel(const ControllerId& id) {
    if (id.name.isEmpty())
        return QStringLiteral("address %1").arg(id.address);
    return QStringLiteral("%1 (address %2)").arg(id.name).arg(id.address);
}

QString setpointChangeText(const SetpointChange& change) {
    return QStringLiteral("%1: setpoint %2 → %3 °C")
        .arg(controllerLabel(change.id), tenthsText(change.fromTenths),
             tenthsText(change.toTenths));
}

QString escapedReason(const QString& reason) {
    QString escaped;
    escaped.reserve(reason.size());
    for (const QChar c : reason) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        // One event, one line: a newline in the reason must not start a
        // line of its own in the trail.
        escaped += c.category() == QChar::Other_Control ? QLatin1Char(' ') : c;
    }
    return escaped;
}

QString setpointAuditLine(const SetpointChange& change, const SetpointOutcome& outcome) {
    QString line = QStringLiteral("setpoint write: %1 → %2 °C")
                       .arg(tenthsText(change.fromTenths), tenthsText(change.toTenths));
    if (!change.reason.isEmpty())
        line += QStringLiteral(", reason \"%1\"").arg(escapedReason(change.reason));
    line += QStringLiteral(": ") + setpointOutcomeText(change, outcome);
    // The prefix tkrecord gives every controller's events.
    return change.id.name.isEmpty() ? line : change.id.name + QStringLiteral(": ") + line;
}

SetpointWriter::SetpointWriter(SerialPortControl& port, QObject* parent)
    : QObject(parent), m_port(port), m_answerTimer(this), m_readBackTimer(this) {
    m_answerTimer.setObjectName(QStringLiteral("timerSetpointAnswer"));
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(1000);
    m_readBackTimer.setObjectName(QStringLiteral("timerSetpointReadBack"));
    m_readBackTimer.setSingleShot(true);
    m_readBackTimer.setInterval(7000);
    connect(&m_answerTimer, &QTimer::timeout, this, &SetpointWriter::answerTimedOut);
    connect(&m_readBackTimer, &QTimer::timeout, this, &SetpointWriter::readBackTimedOut);
    connect(&m_port, &SerialPortControl::comm, this, &SetpointWriter::receive);
    // A write still waiting must not go out on its own once the port is back,
    // minutes later.
    connect(&m_port, &SerialPortControl::deviceLost, this,
            [this] { abandon(QStringLiteral("the port was lost")); });
}

QString SetpointWriter::write(Controller& controller, int16_t toTenths, const QString& reason) {
    if (m_state != State::Idle)
        return QStringLiteral("another setpoint write is under way");
    if (!Data::portConnected)
        return QStringLiteral("the port is not open");
    if (!controller.answering() || controller.values().setpointRaw == Data::NO_DATA_RAW)
        return QStringLiteral("the controller's setpoint is not known yet");
    const auto from = static_cast<int16_t>(std::lround(controller.values().setpointRaw));
    if (from == toTenths)
        return QStringLiteral("the setpoint is %1 °C already: nothing written")
            .arg(tenthsText(from));
    m_controller = &controller;
    m_change = {controller.id(), from, toTenths, reason};
    m_state = State::WaitingForLine;
    Q_EMIT progress(setpointChangeText(m_change) + QStringLiteral(": waiting for the line"));
    return {};
}

bool SetpointWriter::takeLine() {
    if (m_state != State::WaitingForLine)
        return false;
    if (!m_controller) {
        finish({SetpointOutcome::Kind::NotSent, 0, 0, QStringLiteral("the controller is gone")});
        return false;
    }
    m_state = State::WaitingForAnswer;
    m_held.clear();
    sendRequest(m_port, setpointWriteText(m_change.id.address, m_function, m_change.toTenths));
    m_request = QByteArray(reinterpret_cast<const char*>(Data::txFrame.data()),
                           qsizetype(Data::txFrame.size()));
    m_answerTimer.start();
    Q_EMIT progress(setpointChangeText(m_change) + QStringLiteral(": sent"));
    return true;
}

void SetpointWriter::receive() {
    if (m_state != State::WaitingForAnswer || m_port.commEvent() != SerialPortControl::comEvReceive)
        return;
    m_port.setInputLen(0);
    m_held += m_port.input();
    takeAnswerAtHead();
}

void SetpointWriter::takeAnswerAtHead() {
    const auto bytes = [](const QByteArray& a) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(a.constData()),
                                        std::size_t(a.size()));
    };
    while (!m_held.isEmpty()) {
        // An adapter that echoes what it sends: a function 6 answer is the
        // echo itself, and only a function 16 request can be told from it.
        if (m_function == writeMultipleRegisters) {
            const EchoHead echo = checkEcho(bytes(m_held), bytes(m_request));
            if (echo == EchoHead::Partial)
                return;
            if (echo == EchoHead::Whole) {
                m_held.remove(0, m_request.size());
                continue;
            }
        }
        const WriteAnswer answer = checkWriteAnswer(bytes(m_held), bytes(m_request));
        switch (answer.kind) {
        case WriteAnswer::Kind::NeedMore:
            return;
        case WriteAnswer::Kind::Bad:
            m_held.remove(0, 1);
            break;
        case WriteAnswer::Kind::Accepted:
            qCDebug(lcLinkFrames) << "rx" << m_held.first(answer.length).toHex(' ');
            awaitReadBack({WriteReply::Kind::Confirmed, 0});
            return;
        case WriteAnswer::Kind::Exception:
            qCDebug(lcLinkFrames) << "rx" << m_held.first(answer.length).toHex(' ');
            awaitReadBack({WriteReply::Kind::Exception, answer.code});
            return;
        }
    }
}

void SetpointWriter::awaitReadBack(const WriteReply& reply) {
    m_answerTimer.stop();
    m_held.clear();
    m_reply = reply;
    m_state = State::WaitingForReadBack;
    if (m_controller)
        m_readBack =
            connect(m_controller.data(), &Controller::answered, this, &SetpointWriter::readBack);
    m_readBackTimer.start();
    Q_EMIT progress(setpointChangeText(m_change) + QStringLiteral(": waiting for the read-back"));
    releaseLine();
}

void SetpointWriter::answerTimedOut() {
    // The answer may come late, or garbled, while the controller took the
    // value: the read-back tells.
    if (m_state == State::WaitingForAnswer)
        awaitReadBack({WriteReply::Kind::Lost, 0});
}

void SetpointWriter::readBackTimedOut() {
    if (m_state == State::WaitingForReadBack)
        finish(setpointOutcome(m_change, m_reply, std::nullopt,
                               QStringLiteral("the controller did not answer in time")));
}

void SetpointWriter::abandon(const QString& why) {
    switch (m_state) {
    case State::Idle:
        return;
    case State::WaitingForLine:
        finish({SetpointOutcome::Kind::NotSent, 0, 0, why});
        return;
    case State::WaitingForAnswer:
        // Sent: whether the controller took it is not known.
        m_answerTimer.stop();
        m_held.clear();
        releaseLine();
        finish(setpointOutcome(m_change, {WriteReply::Kind::Lost, 0}, std::nullopt, why));
        return;
    case State::WaitingForReadBack:
        finish(setpointOutcome(m_change, m_reply, std::nullopt, why));
        return;
    }
}

void SetpointWriter::readBack() {
    if (m_state != State::WaitingForReadBack || !m_controller)
        return;
    const auto shown = static_cast<int16_t>(std::lround(m_controller->values().setpointRaw));
    finish(setpointOutcome(m_change, m_reply, shown));
}

void SetpointWriter::releaseLine() {
    if (m_release)
        m_release();
}

void SetpointWriter::finish(const SetpointOutcome& outcome) {
    disconnect(m_readBack);
    m_readBackTimer.stop();
    m_state = State::Idle;
    const SetpointChange change = m_change;
    Q_EMIT auditLine(setpointAuditLine(change, outcome));
    Q_EMIT finished(change, outcome);
}

} // namespace tklink
