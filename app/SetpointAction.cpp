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

// Under "Mark event…", in the column of keys, where the one-controller
// window has nothing.
const QRect buttonPlace(0, 432, 89, 25);

} // namespace

SetpointAction::SetpointAction(QWidget& window, QLineEdit& readout, QLineEdit& statusLine,
                               tklink::ControllerSession& session, Audit audit, const QFont& font)
    : QObject(&window), m_window(window), m_readout(readout), m_statusLine(statusLine),
      m_session(session) {
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

    connect(&writer, &tklink::SetpointWriter::auditLine, this, std::move(audit));
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
                    if (!refused.isEmpty())
                        m_dialog->showOutcome(QStringLiteral("Nothing written: ") + refused + '.');
                });
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
    m_dialog->setController(shown.id(), current);
}

void SetpointAction::tellOutcome(const tklink::SetpointChange& change,
                                 const tklink::SetpointOutcome& outcome) {
    using Kind = tklink::SetpointOutcome::Kind;
    QString text = tklink::setpointChangeText(change) + QStringLiteral(": ");
    switch (outcome.kind) {
    case Kind::Accepted:
        text += QStringLiteral("written and read back");
        break;
    case Kind::NotReadBack:
        if (!outcome.why.isEmpty()) {
            text += tklink::setpointOutcomeText(outcome);
            break;
        }
        text += QStringLiteral("the controller did not take it, it shows %1 °C")
                    .arg(tklink::tenthsText(outcome.shownTenths));
        break;
    default:
        text += tklink::setpointOutcomeText(outcome);
        break;
    }
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
