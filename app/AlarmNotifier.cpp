#include "AlarmNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace app {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
// The default action: a click on the notification itself acknowledges too.
const QString acknowledgeKey = QStringLiteral("default");

} // namespace

AlarmNotifier::AlarmNotifier(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                SLOT(onClosed(uint, uint)));
}

void AlarmNotifier::notify(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // Critical urgency: servers keep it until it is acted on. A timeout of 0
    // asks the same.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}};
    call << QStringLiteral("tkcontrol") << m_id << QStringLiteral("dialog-warning") << summary
         << body << QStringList{acknowledgeKey, QStringLiteral("Acknowledge")} << hints << 0;
    // Never waited for: a server that hangs must not stop the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        if (!reply.isError())
            m_id = reply.value();
        w->deleteLater();
    });
}

void AlarmNotifier::withdraw() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || m_id == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface,
                                                       QStringLiteral("CloseNotification"));
    call << m_id;
    bus.asyncCall(call);
    m_id = 0;
}

void AlarmNotifier::onActionInvoked(uint id, const QString& action) {
    if (id == m_id && m_id != 0 && action == acknowledgeKey)
        Q_EMIT acknowledgeRequested();
}

void AlarmNotifier::onClosed(uint id, uint) {
    if (id == m_id)
        m_id = 0;
}

} // namespace app
