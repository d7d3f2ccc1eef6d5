#include "MqttClient.h"

#include <QFile>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace tkrecord {

namespace {

// Long enough for a loaded broker; a dead peer is noticed within 1.5 times it.
constexpr int keepAliveSeconds = 30;
// How long one turn of the loop waits for the socket before it looks at stop.
constexpr int loopTurnMs = 500;

void initLibrary() {
    static const int once = mosquitto_lib_init();
    Q_UNUSED(once);
}

} // namespace

MqttClient::MqttClient(Login login, QObject* parent) : QObject(parent), m_login(std::move(login)) {
    initLibrary();
    m_client = mosquitto_new(nullptr, true, this);
    // Publishing from the Qt thread only queues and wakes our loop.
    mosquitto_threaded_set(m_client, true);
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_client, &MqttClient::onConnect);
    mosquitto_publish_callback_set(m_client, &MqttClient::onPublish);
    mosquitto_log_callback_set(m_client, &MqttClient::onLog);
    const MqttMessage& will = m_login.will;
    mosquitto_will_set(m_client, will.topic.constData(), int(will.payload.size()),
                       will.payload.constData(), will.qos, will.retain);
    if (!m_login.user.isEmpty())
        mosquitto_username_pw_set(m_client, m_login.user.toUtf8().constData(),
                                  m_login.password.toUtf8().constData());
    if (m_login.tls) {
        const QByteArray caFile = QFile::encodeName(m_login.caFile);
        mosquitto_tls_set(m_client, caFile.isEmpty() ? nullptr : caFile.constData(),
                          caFile.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        mosquitto_tls_insecure_set(m_client, false);
    }
}

MqttClient::~MqttClient() {
    stop({}, 0);
    mosquitto_destroy(m_client);
}

void MqttClient::start() {
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

bool MqttClient::publish(const MqttMessage& message) {
    if (!m_connected || m_waiting >= maxWaiting)
        return false;
    if (mosquitto_publish(m_client, nullptr, message.topic.constData(), int(message.payload.size()),
                          message.payload.constData(), message.qos,
                          message.retain) != MOSQ_ERR_SUCCESS)
        return false;
    ++m_waiting;
    return true;
}

void MqttClient::stop(const MqttMessage& last, int waitMs) {
    if (!m_thread.joinable())
        return;
    if (!last.topic.isEmpty())
        publish(last);
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_stopBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    }
    m_wake.notify_all();
    // The loop sends what waits, then the disconnect, unless waitMs passes.
    if (m_connected)
        mosquitto_disconnect(m_client);
    m_thread.join();
}

bool MqttClient::pause(int ms) {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping; });
}

QString MqttClient::reason(int rc) {
    if (m_connackCode > 0)
        return QString::fromUtf8(mosquitto_connack_string(m_connackCode));
    if (!m_lastError.isEmpty())
        return m_lastError;
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

void MqttClient::tellNotConnected(const QString& why, int retryMs) {
    QMetaObject::invokeMethod(
        this, [this, why, retryMs] { Q_EMIT notConnected(why, retryMs); }, Qt::QueuedConnection);
}

void MqttClient::run() {
    int retryMs = firstRetryMs;
    const QByteArray host = m_login.host.toUtf8();
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            // cppcheck-suppress knownConditionTrueFalse ; set by stop() on another thread
            if (m_stopping)
                return;
        }
        m_connackCode = -1;
        m_lastError.clear();
        // Asynchronous: the TCP connection and the login end in the loop.
        int rc =
            mosquitto_connect_async(m_client, host.constData(), m_login.port, keepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            for (;;) {
                rc = mosquitto_loop(m_client, loopTurnMs, 1);
                if (rc != MOSQ_ERR_SUCCESS)
                    break;
                const std::lock_guard lock(m_mutex);
                // cppcheck-suppress knownConditionTrueFalse ; set by stop() on another thread
                if (m_stopping && (!m_connected || std::chrono::steady_clock::now() > m_stopBy))
                    break;
            }
        }
        const bool wasConnected = m_connected.exchange(false);
        {
            const std::lock_guard lock(m_mutex);
            // cppcheck-suppress knownConditionTrueFalse ; set by stop() on another thread
            if (m_stopping)
                return;
        }
        if (wasConnected)
            retryMs = firstRetryMs;
        tellNotConnected(reason(rc), retryMs);
        if (!pause(retryMs))
            return;
        retryMs = std::min(retryMs * 2, lastRetryMs);
    }
}

void MqttClient::onConnect(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    client->m_connackCode = rc;
    if (rc != 0)
        return; // the broker closes; the loop says why
    client->m_waiting = 0;
    client->m_connected = true;
    QMetaObject::invokeMethod(
        client, [client] { Q_EMIT client->connected(); }, Qt::QueuedConnection);
}

void MqttClient::onPublish(mosquitto*, void* self, int) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->m_waiting > 0)
        --client->m_waiting;
}

void MqttClient::onLog(mosquitto*, void* self, int level, const char* text) {
    if (level & MOSQ_LOG_ERR)
        static_cast<MqttClient*>(self)->m_lastError = QString::fromUtf8(text);
}

} // namespace tkrecord
