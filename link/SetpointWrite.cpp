#include "SetpointWrite.h"

#include "AnswerFrame.h"
#include "Data.h"
#include "LinkLog.h"
#include "LineDevice.h"
#include "ReceiveStep.h"
#include "SetpointFrame.h"

#include <cmath>
#include <span>
#include <utility>

namespace tklink {

QString tenthsText(int tenths) {
    const QString digits = QString::number(std::abs(tenths) / 10) + QLatin1Char('.') +
                           QString::number(std::abs(tenths) % 10);
    return tenths < 0 ? QLatin1Char('-') + digits : digits;
}

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

QString setpointOutcomeText(const SetpointOutcome& outcome) {
    switch (outcome.kind) {
    case SetpointOutcome::Kind::Accepted:
        return QStringLiteral("accepted");
    case SetpointOutcome::Kind::Refused:
        return QStringLiteral("refused: ") + writeExceptionText(outcome.exceptionCode);
    case SetpointOutcome::Kind::NoAnswer:
        return QStringLiteral("no answer");
    case SetpointOutcome::Kind::NotSent:
        return QStringLiteral("not sent: ") + outcome.why;
    case SetpointOutcome::Kind::NotReadBack:
        if (!outcome.why.isEmpty())
            return QStringLiteral("not read back: ") + outcome.why;
        return QStringLiteral("not read back: the controller shows %1 °C")
            .arg(tenthsText(outcome.shownTenths));
    }
    return {};
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
    line += QStringLiteral(": ") + setpointOutcomeText(outcome);
    // The prefix tkrecord gives every controller's events.
    return change.id.name.isEmpty() ? line : change.id.name + QStringLiteral(": ") + line;
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
        m_state = State::WaitingForReadBack;
        if (m_controller)
            m_readBack =
                connect(m_controller.data(), &Controller::answered, this, &SetpointWriter::readBack);
        m_readBackTimer.start();
        Q_EMIT progress(setpointChangeText(m_change) +
                        QStringLiteral(": written, waiting for the read-back"));
        return;
    case ExchangeEnd::Kind::Exception:
        finish({SetpointOutcome::Kind::Refused, end.code, 0, {}});
        return;
    case ExchangeEnd::Kind::NoAnswer:
    case ExchangeEnd::Kind::BadAnswer:
        finish({SetpointOutcome::Kind::NoAnswer, 0, 0, {}});
        return;
    case ExchangeEnd::Kind::Lost:
        if (m_state == State::WaitingForLine)
            finish({SetpointOutcome::Kind::NotSent, 0, 0, QStringLiteral("the port was lost")});
        else
            finish({SetpointOutcome::Kind::NoAnswer, 0, 0, {}});
        return;
    }
}

void SetpointWriter::readBackTimedOut() {
    if (m_state == State::WaitingForReadBack)
        finish({SetpointOutcome::Kind::NotReadBack, 0, 0,
                QStringLiteral("the controller did not answer in time")});
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
        finish({SetpointOutcome::Kind::NoAnswer, 0, 0, {}});
        return;
    case State::WaitingForReadBack:
        finish({SetpointOutcome::Kind::NotReadBack, 0, 0, why});
        return;
    }
}

void SetpointWriter::readBack() {
    if (m_state != State::WaitingForReadBack || !m_controller)
        return;
    const auto shown = static_cast<int16_t>(std::lround(m_controller->values().setpointRaw));
    if (shown == m_change.toTenths)
        finish({SetpointOutcome::Kind::Accepted, 0, 0, {}});
    else
        finish({SetpointOutcome::Kind::NotReadBack, 0, shown, {}});
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
