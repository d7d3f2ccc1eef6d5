#pragma once

// The operator's setpoint change, one at a time: an exchange in the line
// owner's queue, so it goes out between two polls; it is sent once, its
// answer judged by the line's receive step, and then it waits for the
// controller's next answer to the poll to read the new setpoint back, which
// decides the outcome whatever the answer was (setpointOutcome). It
// never writes again by itself, and never writes the value the controller
// already has: each write wears the controller's memory. Every attempt ends
// in one outcome and one line for the audit trail.

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

#include "Controller.h"
#include "LineOwner.h"
#include "SetpointOutcome.h"

namespace tklink {

// "oven2 (address 10)"; "address 9" for the one controller without a name.
QString controllerLabel(const ControllerId& id);
// "oven2 (address 10): setpoint 150.0 → 200.0 °C".
QString setpointChangeText(const SetpointChange& change);
// The reason as one quoted-safe line: quotes and backslashes escaped with a
// backslash, control characters as spaces.
QString escapedReason(const QString& reason);
// "oven2: setpoint write: 150.0 → 200.0 °C, reason \"door fixed\": accepted";
// without a name and without a reason the prefix and the reason part go.
QString setpointAuditLine(const SetpointChange& change, const SetpointOutcome& outcome);
// What the window tells the operator: "oven2 (address 10): setpoint 150.0 →
// 200.0 °C: written and read back", or the outcome's words after the colon.
QString setpointOutcomeLine(const SetpointChange& change, const SetpointOutcome& outcome);

class SetpointWriter : public QObject {
    Q_OBJECT

public:
    explicit SetpointWriter(LineOwner& line, QObject* parent = nullptr);

    void setAnswerTimeout(int ms) { m_answerTimeoutMs = ms; }
    // How long an accepted write waits for the controller's next answer.
    void setReadBackTimeout(int ms) { m_readBackTimer.setInterval(ms); }
    // The function of the request: writeSingleRegister (default) or
    // writeMultipleRegisters.
    void setFunction(uint8_t function) { m_function = function; }

    // Queues the write of toTenths to controller. Empty when the write is
    // queued; otherwise why nothing is written.
    QString write(Controller& controller, int16_t toTenths, const QString& reason);
    // A write is waiting or under way.
    bool busy() const { return m_state != State::Idle; }

    // Ends a write waiting or under way, so that it neither goes out later nor
    // waits for good, and its outcome reaches the trail: why says what ended it.
    void abandon(const QString& why);

Q_SIGNALS:
    // How the write stands, for the dialog and the status line.
    void progress(const QString& text);
    void finished(const tklink::SetpointChange& change, const tklink::SetpointOutcome& outcome);
    // The line for the audit trail, once per attempt.
    void auditLine(const QString& text);

private:
    enum class State { Idle, WaitingForLine, WaitingForAnswer, WaitingForReadBack };

    void onSent(int id);
    void onEnded(const tklink::ExchangeEnd& end);
    // The write's answer is in (or given up): the controller's next answer
    // tells what it took.
    void awaitReadBack(const WriteReply& reply);
    void readBackTimedOut();
    void readBack();
    void finish(const SetpointOutcome& outcome);

    LineOwner& m_line;
    int m_answerTimeoutMs = 1000;
    // The write's exchange while it waits for the line or its answer.
    int m_exchange = 0;
    QTimer m_readBackTimer;
    uint8_t m_function = 6;
    State m_state = State::Idle;
    QPointer<Controller> m_controller;
    QMetaObject::Connection m_readBack;
    SetpointChange m_change;
    WriteReply m_reply;
};

} // namespace tklink
