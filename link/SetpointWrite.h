#pragma once

// The operator's setpoint change, one at a time: it waits for the line
// between two polls (the bus or the poll cycle hands it over), sends the
// write once, checks the answer, gives the line back, and then waits for the
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
#include "SetpointOutcome.h"

namespace tklink {

class SerialPortControl;

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

class SetpointWriter : public QObject {
    Q_OBJECT

public:
    // Given the line; gives it back when the exchange is over.
    using LineRelease = std::function<void()>;

    explicit SetpointWriter(SerialPortControl& port, QObject* parent = nullptr);

    void setLineRelease(LineRelease release) { m_release = std::move(release); }
    void setAnswerTimeout(int ms) { m_answerTimer.setInterval(ms); }
    // How long an accepted write waits for the controller's next answer.
    void setReadBackTimeout(int ms) { m_readBackTimer.setInterval(ms); }
    // The function of the request: writeSingleRegister (default) or
    // writeMultipleRegisters.
    void setFunction(uint8_t function) { m_function = function; }

    // Asks for the line to write toTenths to controller. Empty when the write
    // waits for the line; otherwise why nothing is written.
    QString write(Controller& controller, int16_t toTenths, const QString& reason);
    // A write is waiting or under way.
    bool busy() const { return m_state != State::Idle; }

    // The bus's or poll cycle's offer of the line between two polls: true
    // when a write waited for it and went out.
    bool takeLine();
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

    void receive();
    void takeAnswerAtHead();
    // The write's answer is in (or given up): the line goes back, and the
    // controller's next answer tells what it took.
    void awaitReadBack(const WriteReply& reply);
    void answerTimedOut();
    void readBackTimedOut();
    void readBack();
    void releaseLine();
    void finish(const SetpointOutcome& outcome);

    SerialPortControl& m_port;
    LineRelease m_release;
    QTimer m_answerTimer;
    QTimer m_readBackTimer;
    uint8_t m_function = 6;
    State m_state = State::Idle;
    QPointer<Controller> m_controller;
    QMetaObject::Connection m_readBack;
    SetpointChange m_change;
    WriteReply m_reply;
    QByteArray m_request;
    QByteArray m_held;
};

} // namespace tklink
