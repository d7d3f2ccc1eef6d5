#include "RunActions.h"

#include <utility>

#include "AuditTrail.h"
#include "RunDialogs.h"

namespace app {

RunAsks dialogAsks(QWidget* window) {
    RunAsks asks;
    asks.identity = [window](const sealing::RunIdentity& last) {
        RunDialog dialog(last, window);
        return dialog.exec() == QDialog::Accepted ? std::optional(dialog.identity()) : std::nullopt;
    };
    asks.mark = [window](const QStringList& events, const QString& controller) {
        MarkDialog dialog(events, controller, window);
        return dialog.exec() == QDialog::Accepted ? std::optional(dialog.text()) : std::nullopt;
    };
    return asks;
}

RunActions::RunActions(RunAsks asks, Trail trail)
    : m_asks(std::move(asks)), m_trail(std::move(trail)) {
    // Who starts the first run, unless they say otherwise.
    m_identity.operatorName = sealing::systemUserName();
}

bool RunActions::askIdentity() {
    if (!m_askBeforeStart) {
        m_identity = {};
        m_identity.operatorName = sealing::systemUserName();
        return true;
    }
    const std::optional<sealing::RunIdentity> asked = m_asks.identity(m_identity);
    if (!asked)
        return false;
    m_identity = *asked;
    return true;
}

void RunActions::recordingStarted(const QString& fileName) {
    m_files << fileName;
    m_trail(sealing::runEvent(fileName, m_identity));
}

void RunActions::recordingStopped() {
    m_files.clear();
}

void RunActions::amend() {
    if (m_files.isEmpty())
        return;
    const std::optional<sealing::RunIdentity> asked = m_asks.identity(m_identity);
    if (!asked)
        return;
    m_identity = *asked;
    for (const QString& file : std::as_const(m_files))
        m_trail(sealing::runEvent(file, m_identity));
}

void RunActions::mark(const QStringList& events, const QString& controller) {
    const std::optional<QString> text = m_asks.mark(events, controller);
    if (!text || sealing::oneLine(*text).isEmpty())
        return;
    m_trail(sealing::controllerEvent(controller, sealing::markEvent(*text)));
}

} // namespace app
