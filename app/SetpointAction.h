#pragma once

// "Setpoint…" in the main window, when conf.ini [Control] allows writes: a
// button in the free space under "Exit" and a double-click on the setpoint
// read-out open the setpoint dialog for the shown controller; the session's
// writer does the write, and its outcome goes to the dialog, the status line
// and the audit trail.

#include <QObject>
#include <QPointer>

#include <functional>

#include "Setpoint_dialog.h"

class QAbstractButton;
class QFont;
class QLineEdit;
class QWidget;

namespace tklink {
class ControllerSession;
struct SetpointChange;
struct SetpointOutcome;
} // namespace tklink

namespace app {

// "oven2: setpoint write: 150.0 → 500.0 °C, reason \"x\": not written: 500.0 °C
// is outside the limits, 0.0 to 400.0 °C": an attempt refused before it went out.
QString refusalAuditLine(const tklink::ControllerId& id, const QString& attempt,
                         const QString& reason, const QString& why);

class SetpointAction : public QObject {
    Q_OBJECT

public:
    using Audit = std::function<void(const QString& line)>;

    // Does nothing unless writes are allowed: then the button goes on window
    // and the double-click on readout.
    SetpointAction(QWidget& window, QLineEdit& readout, QLineEdit& statusLine,
                   tklink::ControllerSession& session, Audit audit, const QFont& font);
    ~SetpointAction() override;

    // Null when writes are not allowed.
    QAbstractButton* button() const { return m_button; }
    settings::Setpoint_dialog* dialog() const { return m_dialog.data(); }
    // Opens the dialog for the shown controller.
    void open();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Writes to the controller id names; otherwise why nothing is written.
    QString write(const tklink::ControllerId& id, int16_t tenths, const QString& reason);
    void showController();
    void tellOutcome(const tklink::SetpointChange& change, const tklink::SetpointOutcome& outcome);

    QWidget& m_window;
    QLineEdit& m_readout;
    QLineEdit& m_statusLine;
    tklink::ControllerSession& m_session;
    Audit m_audit;
    QAbstractButton* m_button = nullptr;
    QPointer<settings::Setpoint_dialog> m_dialog;
};

} // namespace app
