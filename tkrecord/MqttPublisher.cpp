#include "MqttPublisher.h"

#include <QFile>

#include "StateLog.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tkrecord {

namespace {

void setProblem(QString* problem, const QString& text) {
    if (problem)
        *problem = text;
}

} // namespace

std::optional<QString> readSecretFile(const QString& path, QString* problem) {
#ifdef Q_OS_WIN
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setProblem(problem, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return QString::fromUtf8(file.readLine(4096))
        .remove(QLatin1Char('\n'))
        .remove(QLatin1Char('\r'));
#else
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        setProblem(problem, QStringLiteral("cannot read %1: %2").arg(path, qt_error_string(errno)));
        return std::nullopt;
    }
    struct ::stat status {};
    std::optional<QString> secret;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        setProblem(problem, QStringLiteral("%1 is not a file").arg(path));
    } else if (status.st_uid != ::geteuid()) {
        setProblem(problem,
                   QStringLiteral("%1 belongs to user id %2, not to this user (%3): refused")
                       .arg(path)
                       .arg(status.st_uid)
                       .arg(::geteuid()));
    } else if ((status.st_mode & 077) != 0) {
        setProblem(problem, QStringLiteral("%1 has mode %2, open to others; it must be 0600: "
                                           "refused")
                                .arg(path)
                                .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
    } else {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly)) {
            QByteArray line = file.readLine(4096);
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            secret = QString::fromUtf8(line);
        }
    }
    ::close(fd);
    return secret;
#endif
}

MqttPublisher::MqttPublisher(const settings::MqttSettings& settings, const QString& password,
                             const SharedValues& values, Clock now, Say say, QObject* parent)
    : QObject(parent), m_settings(settings), m_values(values), m_now(std::move(now)),
      m_say(std::move(say)),
      m_client({settings.host, settings.port, settings.tls, settings.caFile, settings.user,
                password, statusMessage(settings.topic, false)}) {
    connect(&m_client, &MqttClient::connected, this, &MqttPublisher::onConnected);
    connect(&m_client, &MqttClient::notConnected, this, &MqttPublisher::onNotConnected);
    connect(&values, &SharedValues::changed, this, &MqttPublisher::onChanged);
    connect(&values, &SharedValues::alarmEvent, this, &MqttPublisher::onAlarmEvent);
}

void MqttPublisher::start() {
    m_published.fill(std::nullopt, m_values.controllers().size());
    m_client.start();
}

void MqttPublisher::stop(int waitMs) {
    // A clean disconnect sends no last will: the recorder says it itself.
    m_client.stop(statusMessage(m_settings.topic, false), waitMs);
    m_connected = false;
}

QByteArray MqttPublisher::metricsText() const {
    return QByteArray("# HELP tk_mqtt_connected Whether the recorder is connected to its MQTT "
                      "broker.\n# TYPE tk_mqtt_connected gauge\ntk_mqtt_connected ") +
           (m_connected ? "1" : "0") + "\n";
}

void MqttPublisher::onConnected() {
    m_connected = true;
    m_said.clear();
    say(QStringLiteral("MQTT connected to %1, publishing under %2/")
            .arg(m_settings.brokerText(), m_settings.topic));
    m_client.publish(statusMessage(m_settings.topic, true));
    const QList<SharedController>& controllers = m_values.controllers();
    m_published.fill(std::nullopt, controllers.size());
    for (const SharedController& c : controllers)
        if (!m_settings.discovery.isEmpty())
            for (const MqttMessage& message :
                 discoveryMessages(m_settings.discovery, m_settings.topic, c))
                m_client.publish(message);
    for (int index = 0; index < controllers.size(); ++index)
        onChanged(index);
}

void MqttPublisher::onNotConnected(const QString& why, int retryMs) {
    const bool was = std::exchange(m_connected, false);
    if (!was && why == m_said)
        return;
    m_said = why;
    say(QStringLiteral("MQTT not connected to %1 (%2); trying again in %3 s, then less often")
            .arg(m_settings.brokerText(), why)
            .arg(retryMs / 1000));
}

void MqttPublisher::onChanged(int index) {
    if (!m_connected || index >= m_published.size())
        return;
    const SharedController& now = m_values.controllers().at(index);
    std::optional<SharedController>& published = m_published[index];
    if (published && published->sameState(now))
        return;
    // Dropped: the next poll tries again, since nothing was published.
    if (m_client.publish(stateMessage(m_settings.topic, now)))
        published = now;
    else
        published.reset();
}

void MqttPublisher::onAlarmEvent(int index, const SharedAlarmEvent& event) {
    if (m_connected)
        m_client.publish(eventMessage(m_settings.topic, m_values.controllers().at(index), event));
}

void MqttPublisher::say(const QString& text) {
    if (m_say)
        m_say(stampedLine(m_now(), text));
}

} // namespace tkrecord
