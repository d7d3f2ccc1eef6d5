#include "Sharing.h"

#include <QDir>
#include <QHostAddress>

#include "ConfFile.h"
#include "Profile.h"
#include "Settings.h"
#include "StateLog.h"

namespace tkrecord {

namespace {

QDateTime systemNow() {
    return QDateTime::currentDateTime();
}

} // namespace

Sharing::Sharing(Say say) : m_say(std::move(say)), m_values(systemNow) {}

Sharing::~Sharing() = default;

QString Sharing::readSettings() {
    const settings::ConfFileRead file =
        settings::readConfFile(QLatin1String(settings::settingsFileName));
    if (file.status != settings::ConfFileRead::Status::Read)
        return {}; // said by the recorder's own reading
    const settings::ProfileText text(file.bytes);
    const settings::MqttRead mqtt = settings::readMqttSection(text, QDir::current().dirName());
    const settings::ShareRead share = settings::readShareSection(text);
    // Unattended, a share left off by a typo would be missed only when needed.
    const QStringList refused = mqtt.refused + share.refused;
    if (!refused.isEmpty())
        return refused.join(QLatin1Char('\n'));
    m_mqttSettings = mqtt.settings;
    m_shareSettings = share.settings;
    if (m_mqttSettings.enabled && !m_mqttSettings.passwordFile.isEmpty()) {
        QString problem;
        const std::optional<QString> password =
            readSecretFile(m_mqttSettings.passwordFile, &problem);
        if (!password)
            return QStringLiteral("[MQTT] PasswordFile: ") + problem;
        m_password = *password;
    }
    return {};
}

QString Sharing::start(const QList<tklink::Controller*>& controllers) {
    for (tklink::Controller* controller : controllers)
        m_values.watch(*controller);
    if (m_shareSettings.enabled) {
        m_share = std::make_unique<ModbusShare>(
            [this](uint8_t unit) { return m_values.registers(unit); });
        if (!m_share->listen(QHostAddress(m_shareSettings.host), m_shareSettings.port))
            return QStringLiteral("cannot share on %1:%2: %3")
                .arg(m_shareSettings.host)
                .arg(m_shareSettings.port)
                .arg(m_share->errorString());
        const QString host = m_shareSettings.host.contains(QLatin1Char(':'))
                                 ? QLatin1Char('[') + m_shareSettings.host + QLatin1Char(']')
                                 : m_shareSettings.host;
        m_say(stampedLine(
            QDateTime::currentDateTime(),
            QStringLiteral("Modbus TCP share at %1:%2").arg(host).arg(m_share->port())));
    }
    if (m_mqttSettings.enabled) {
        m_mqtt =
            std::make_unique<MqttPublisher>(m_mqttSettings, m_password, m_values, systemNow, m_say);
        m_mqtt->start();
    }
    return {};
}

void Sharing::stop(int waitMs) {
    if (m_mqtt)
        m_mqtt->stop(waitMs);
}

QByteArray Sharing::metricsText() const {
    return m_mqtt ? m_mqtt->metricsText() : QByteArray();
}

} // namespace tkrecord
