#include "SetpointAction.h"

#include <QEvent>
#include <QLineEdit>

#include <cmath>

#include "ControlSection.h"
#include "ControllerSession.h"
#include "PanelArt.h"
#include "SetpointWrite.h"
#include "Setpoint_dialog.h"

namespace app {

namespace {

// Under "Mark event…" and "Run…", in the column of keys, where the
// one-controller window has nothing.
const QRect buttonPlace(0, 464, 89, 25);

} // namespace

QString refusalAuditLine(const tklink::ControllerId& id, const QString& attempt,
                         const QString& reason, const QString& why) {
    QString line = QStringLiteral("setpoint write: ") + attempt;
    if (!reason.isEmpty())
        line += QStringLiteral(", reason \"%1\"").arg(tklink::escapedReason(reason));
    line += QStringLiteral(": not written: ") + why;
    return id.name.isEmpty() ? line : id.name + QStringLiteral(": ") + line;
}

SetpointAction::SetpointAction(QWidget& window, QLineEdit& readout, QLineEdit& statusLine,
                               tklink::ControllerSession& session, Audit audit, const QFont& font)
    : QObject(&window), m_window(window), m_readout(readout), m_statusLine(statusLine),
      m_session(session), m_audit(std::move(audit)) {
    const settings::ControlRead& control = settings::configuredControl();
    if (!control.setpointWrite)
        return;
    tklink::SetpointWriter& writer = m_session.setpointWriter();
    writer.setFunction(control.setpointFunction);

    auto* button = new PanelButton(QStringLiteral("Setpoint…"), &window);
    button->setObjectName(QStringLiteral("setpointButton"));
    button->setGeometry(buttonPlace);
    button->setFont(font);
    m_button = button;
    connect(button, &QAbstractButton::clicked, this, &SetpointAction::open);
    m_readout.installEventFilter(this);
    m_readout.setToolTip(QStringLiteral("Double-click to change the setpoint"));

    connect(&writer, &tklink::SetpointWriter::auditLine, this,
            [this](const QString& line) { m_audit(line); });
    connect(&writer, &tklink::SetpointWriter::progress, this, [this](const QString& text) {
        m_statusLine.setText(QStringLiteral("Setpoint write: ") + text);
        if (m_dialog)
            m_dialog->showProgress(text);
    });
    connect(&writer, &tklink::SetpointWriter::finished, this, &SetpointAction::tellOutcome);
}

SetpointAction::~SetpointAction() {
    // The dialog has no owner but calls into the session.
    delete m_dialog;
}

void SetpointAction::open() {
    if (!m_button)
        return;
    if (!m_dialog) {
        m_dialog = new settings::Setpoint_dialog;
        connect(m_dialog, &settings::Setpoint_dialog::writeRequested, this,
                [this](const tklink::ControllerId& id, int16_t tenths, const QString& reason) {
                    const QString refused = write(id, tenths, reason);
                    if (refused.isEmpty())
                        return;
                    m_dialog->showOutcome(QStringLiteral("Nothing written: ") + refused + '.');
                    m_audit(refusalAuditLine(id, tklink::tenthsText(tenths) + QStringLiteral(" °C"),
                                             reason, refused));
                });
        // Every attempt goes into the trail, those the dialog refuses too.
        connect(
            m_dialog, &settings::Setpoint_dialog::refused, this,
            [this](const tklink::ControllerId& id, const QString& attempt, const QString& reason,
                   const QString& why) { m_audit(refusalAuditLine(id, attempt, reason, why)); });
        // Another controller shown: the dialog names it, and a confirmation
        // stated for the one before is withdrawn.
        connect(&m_session, &tklink::ControllerSession::shownControllerChanged, m_dialog,
                [this] { showController(); });
        // The current setpoint follows the controller's answers.
        for (tklink::Controller* controller : m_session.controllers())
            connect(controller, &tklink::Controller::answered, m_dialog,
                    [this] { showController(); });
    }
    const settings::ControlRead& control = settings::configuredControl();
    m_dialog->setLimits(control.setpointMin, control.setpointMax,
                        control.limitsSet()
                            ? QString()
                            : QStringLiteral("No setpoint can be written: conf.ini [Control] "
                                             "needs both SetpointMin and SetpointMax."));
    showController();
    // Reopened: nothing of an earlier attempt is offered again.
    if (!m_dialog->isVisible())
        m_dialog->start();
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

QString SetpointAction::write(const tklink::ControllerId& id, int16_t tenths,
                              const QString& reason) {
    for (tklink::Controller* controller : m_session.controllers())
        if (controller->id() == id)
            return m_session.setpointWriter().write(*controller, tenths, reason);
    return tklink::controllerLabel(id) + QStringLiteral(" is not polled any more");
}

void SetpointAction::showController() {
    if (!m_dialog)
        return;
    const tklink::Controller& shown = m_session.shownController();
    const float raw = shown.values().setpointRaw;
    std::optional<int16_t> current;
    if (shown.answering() && raw != Data::NO_DATA_RAW)
        current = static_cast<int16_t>(std::lround(raw));
    // Before the first poll nothing is known; after a missed one the
    // controller is not answering.
    const bool silent =
        !shown.answering() && (shown.lastAnswer().isValid() || shown.missedPolls() > 0);
    m_dialog->setController(shown.id(), current,
                            silent ? QStringLiteral("not answering")
                                   : QStringLiteral("not known yet"));
}

void SetpointAction::tellOutcome(const tklink::SetpointChange& change,
                                 const tklink::SetpointOutcome& outcome) {
    const QString text = tklink::setpointOutcomeLine(change, outcome);
    m_statusLine.setText(QStringLiteral("Setpoint write: ") + text);
    if (m_dialog)
        m_dialog->showOutcome(text);
}

bool SetpointAction::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_readout && event->type() == QEvent::MouseButtonDblClick) {
        open();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace app
