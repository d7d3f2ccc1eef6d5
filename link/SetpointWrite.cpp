#include "SetpointWrite.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LineDevice.h"
#include "LinkLog.h"
#include "ReceiveStep.h"
#include "SetpointFrame.h"

#include <cmath>
#include <span>
#include <utility>

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

QString setpointOutcomeLine(const SetpointChange& change, const SetpointOutcome& outcome) {
    return setpointChangeText(change) + QStringLiteral(": ") +
           (outcome.kind == SetpointOutcome::Kind::Accepted
                ? QStringLiteral("written and read back")
                : setpointOutcomeText(change, outcome));
}

namespace {

// The request text as the frame on the line, CRC low byte first.
QByteArray frameOf(const QString& text) {
    QByteArray frame = QByteArray::fromHex(text.toLatin1());
    const uint16_t crc = crc16Modbus(byteSpan(frame));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

} // namespace

SetpointWriter::SetpointWriter(LineOwner& line, QObject* parent)
    : QObject(parent), m_line(line), m_readBackTimer(this) {
    m_readBackTimer.setObjectName(QStringLiteral("timerSetpointReadBack"));
    m_readBackTimer.setSingleShot(true);
    m_readBackTimer.setInterval(7000);
    connect(&m_readBackTimer, &QTimer::timeout, this, &SetpointWriter::readBackTimedOut);
    connect(&m_line, &LineOwner::sent, this, &SetpointWriter::onSent);
    connect(&m_line, &LineOwner::ended, this, &SetpointWriter::onEnded);
    // A write still waiting must not go out on its own once the port is back,
    // minutes later.
    connect(&m_line.device(), &LineDevice::lost, this,
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
    const QString text = setpointWriteText(m_change.id.address, m_function, m_change.toTenths);
    m_exchange = m_line.enqueue({frameOf(text), Reply::WriteEcho, m_answerTimeoutMs, {}});
    return {};
}

void SetpointWriter::onSent(int id) {
    if (id == 0 || id != m_exchange || m_state != State::WaitingForLine)
        return;
    m_state = State::WaitingForAnswer;
    Q_EMIT progress(setpointChangeText(m_change) + QStringLiteral(": sent"));
}

void SetpointWriter::onEnded(const ExchangeEnd& end) {
    if (end.id == 0 || end.id != m_exchange)
        return;
    m_exchange = 0;
    switch (end.kind) {
    case ExchangeEnd::Kind::Answer:
        awaitReadBack({WriteReply::Kind::Confirmed, 0});
        return;
    case ExchangeEnd::Kind::Exception:
        awaitReadBack({WriteReply::Kind::Exception, end.code});
        return;
    case ExchangeEnd::Kind::NoAnswer:
    case ExchangeEnd::Kind::BadAnswer:
        // The answer may come late, or garbled, while the controller took the
        // value: the read-back tells.
        awaitReadBack({WriteReply::Kind::Lost, 0});
        return;
    case ExchangeEnd::Kind::Lost:
        if (m_state == State::WaitingForLine)
            finish({SetpointOutcome::Kind::NotSent, 0, 0, QStringLiteral("the port was lost")});
        else
            finish(setpointOutcome(m_change, {WriteReply::Kind::Lost, 0}, std::nullopt,
                                   QStringLiteral("the port was lost")));
        return;
    }
}

void SetpointWriter::awaitReadBack(const WriteReply& reply) {
    m_reply = reply;
    m_state = State::WaitingForReadBack;
    if (m_controller)
        m_readBack =
            connect(m_controller.data(), &Controller::answered, this, &SetpointWriter::readBack);
    m_readBackTimer.start();
    Q_EMIT progress(setpointChangeText(m_change) + QStringLiteral(": waiting for the read-back"));
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
        m_line.withdraw(std::exchange(m_exchange, 0));
        finish({SetpointOutcome::Kind::NotSent, 0, 0, why});
        return;
    case State::WaitingForAnswer:
        // Sent: whether the controller took it is not known.
        m_exchange = 0;
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

void SetpointWriter::finish(const SetpointOutcome& outcome) {
    disconnect(m_readBack);
    m_readBackTimer.stop();
    m_state = State::Idle;
    const SetpointChange change = m_change;
    Q_EMIT auditLine(setpointAuditLine(change, outcome));
    Q_EMIT finished(change, outcome);
}

} // namespace tklink
