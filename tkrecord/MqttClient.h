#pragma once

// A connection to an MQTT broker on a thread of its own (libmosquitto's
// client driven by our loop), so that a broker that is down, refuses the
// login or reads slowly never holds up the poll: publish() only queues.
// It reconnects with back-off (1 s doubling to 60 s) and drops what it
// cannot send: nothing while not connected, nothing beyond maxWaiting
// messages the broker has not taken. Tells its state on the Qt thread.

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "MqttMessages.h"

struct mosquitto;

namespace tkrecord {

class MqttClient : public QObject {
    Q_OBJECT

public:
    static constexpr int maxWaiting = 100;
    static constexpr int firstRetryMs = 1000;
    static constexpr int lastRetryMs = 60000;

    struct Login {
        QString host;
        quint16 port = 1883;
        bool tls = false;
        QString caFile; // empty with tls: the system's authorities
        QString user;
        QString password;
        MqttMessage will;
    };

    explicit MqttClient(Login login, QObject* parent = nullptr);
    // Stops as stop() does.
    ~MqttClient() override;

    // The thread starts connecting.
    void start();
    // Queued for the broker; false when dropped.
    bool publish(const MqttMessage& message);
    // Sends last (while connected), disconnects and ends the thread, waiting
    // at most waitMs for the broker.
    void stop(const MqttMessage& last, int waitMs);

Q_SIGNALS:
    void connected();
    // The connection failed or ended, and why; retryMs: when it is tried again.
    void notConnected(const QString& why, int retryMs);

private:
    void run();
    // Waits ms or until stop; false when stopping.
    bool pause(int ms);
    QString reason(int rc);
    void tellNotConnected(const QString& why, int retryMs);

    static void onConnect(mosquitto* client, void* self, int rc);
    static void onPublish(mosquitto* client, void* self, int mid);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    Login m_login;
    mosquitto* m_client = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_stopBy;
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_waiting{0};
    // Set in callbacks, read by the loop that called them (one thread).
    int m_connackCode = -1;
    QString m_lastError;
};

} // namespace tkrecord
