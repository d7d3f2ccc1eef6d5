#include "RecorderClient.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include "AlarmText.h"
#include "Profile.h"

namespace attach {

namespace {

constexpr char socketName[] = ".tkrecord.sock";

std::optional<double> number(const QJsonValue& value) {
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

QDateTime timeOf(const QJsonValue& msecs) {
    return msecs.isDouble() ? QDateTime::fromMSecsSinceEpoch(qint64(msecs.toDouble()))
                            : QDateTime();
}

// One alarm of a values line into statuses.
void takeAlarm(const QJsonObject& told, alarms::AlarmStatuses& statuses) {
    const QString label = told.value(QLatin1String("alarm")).toString();
    const QString word = told.value(QLatin1String("state")).toString();
    for (const alarms::Alarm alarm : alarms::allAlarms) {
        if (alarms::metricLabel(alarm) != label)
            continue;
        for (const alarms::AlarmState state :
             {alarms::AlarmState::ActiveUnacknowledged, alarms::AlarmState::ActiveAcknowledged,
              alarms::AlarmState::ClearedUnacknowledged}) {
            if (alarms::stateWord(state) != word)
                continue;
            alarms::AlarmStatus& status = statuses[std::size_t(alarm)];
            status.state = state;
            status.since = timeOf(told.value(QLatin1String("since")));
            status.clearedAt = timeOf(told.value(QLatin1String("cleared")));
            status.value = float(told.value(QLatin1String("value")).toDouble());
            status.setpoint = float(told.value(QLatin1String("setpoint")).toDouble());
            status.peak = float(told.value(QLatin1String("peak")).toDouble());
        }
    }
}

} // namespace

std::optional<RecorderValues> parseValues(const QJsonObject& message) {
    if (message.value(QLatin1String("event")).toString() != QLatin1String("values"))
        return std::nullopt;
    RecorderValues values;
    values.controller = message.value(QLatin1String("controller")).toString();
    values.address = message.value(QLatin1String("address")).toInt();
    values.msecs = qint64(message.value(QLatin1String("time")).toDouble());
    values.measure = number(message.value(QLatin1String("measure")));
    values.setpoint = number(message.value(QLatin1String("setpoint")));
    values.power = number(message.value(QLatin1String("power")));
    values.current = message.value(QLatin1String("current")).toBool();
    values.link = message.value(QLatin1String("link")).toString();
    for (const QJsonValue alarm : message.value(QLatin1String("alarms")).toArray()) {
        values.alarms << QStringLiteral("%1 (%2)").arg(
            alarm.toObject().value(QLatin1String("text")).toString(),
            alarm.toObject().value(QLatin1String("state")).toString());
        takeAlarm(alarm.toObject(), values.statuses);
    }
    return values;
}

QString recorderFolder(const QStringList& arguments) {
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--attach"));
        at >= 0 && at + 1 < arguments.size())
        return QDir(arguments[at + 1]).absolutePath();
    const QString folder =
        settings::getProfileString(QStringLiteral("Recorder"), QStringLiteral("Folder"), QString(),
                                   QStringLiteral("conf.ini"))
            .trimmed();
    return folder.isEmpty() ? QString() : QDir(folder).absolutePath();
}

RecorderClient::RecorderClient(QObject* parent) : QObject(parent) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(retryMs);
    connect(&m_retry, &QTimer::timeout, this, &RecorderClient::connectNow);
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        tkrecord::ClientRequest hello;
        hello.protocol = tkrecord::protocolVersion;
        tkrecord::ClientRequest watch;
        watch.kind = tkrecord::ClientRequest::Kind::Watch;
        m_socket.write(tkrecord::requestLine(hello) + tkrecord::requestLine(watch));
    });
    connect(&m_socket, &QLocalSocket::readyRead, this, &RecorderClient::onReadyRead);
    connect(&m_socket, &QLocalSocket::disconnected, this, &RecorderClient::lost);
    // A connection refused may be told while the socket still says it is
    // connecting: whatever is not connected is tried again.
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] {
        if (m_socket.state() != QLocalSocket::ConnectedState)
            lost();
    });
}

RecorderClient::~RecorderClient() {
    // The socket tells its end as it goes: nothing here is to hear it.
    m_socket.disconnect(this);
    m_socket.abort();
}

void RecorderClient::attachTo(const QString& folder) {
    m_folder = folder;
    connectNow();
}

void RecorderClient::connectNow() {
    // Aborting may tell a loss, which would start the retry again.
    m_socket.abort();
    m_retry.stop();
    m_socket.connectToServer(QDir(m_folder).filePath(QLatin1String(socketName)));
}

bool recorderRuns(const QString& folder, int timeoutMs) {
    QLocalSocket probe;
    probe.connectToServer(QDir(folder).filePath(QLatin1String(socketName)));
    return probe.waitForConnected(timeoutMs);
}

void RecorderClient::send(const tkrecord::ClientRequest& request) {
    if (!m_attached) {
        Q_EMIT answered(tkrecord::requestName(request.kind), false,
                        QStringLiteral("Not connected"));
        if (request.kind == tkrecord::ClientRequest::Kind::Setpoint)
            Q_EMIT setpointEnded(QStringLiteral("Nothing written: the recorder is not connected."));
        return;
    }
    m_socket.write(tkrecord::requestLine(request));
}

void RecorderClient::onReadyRead() {
    while (m_socket.canReadLine())
        take(QJsonDocument::fromJson(m_socket.readLine()).object());
}

void RecorderClient::take(const QJsonObject& message) {
    if (message.contains(QLatin1String("greeting"))) {
        m_greeting = message;
        m_controllers.clear();
        for (const QJsonValue name : message.value(QLatin1String("controllers")).toArray())
            m_controllers << name.toString();
        return;
    }
    if (const QString event = message.value(QLatin1String("event")).toString(); !event.isEmpty()) {
        if (const auto values = parseValues(message))
            Q_EMIT this->values(*values);
        else if (event == QLatin1String("history")) {
            QList<QList<double>> points;
            for (const QJsonValue point : message.value(QLatin1String("points")).toArray()) {
                QList<double> row;
                for (const QJsonValue value : point.toArray())
                    row << (value.isDouble() ? value.toDouble() : qQNaN());
                points << row;
            }
            Q_EMIT history(message.value(QLatin1String("controller")).toString(), points);
        } else if (event == QLatin1String("dropped"))
            Q_EMIT dropped(message.value(QLatin1String("reason")).toString());
        return;
    }
    const QString request = message.value(QLatin1String("answer")).toString();
    const bool ok = message.value(QLatin1String("ok")).toBool();
    if (request == QLatin1String("watch") && ok && !m_attached) {
        m_attached = true;
        Q_EMIT attachedChanged(true);
        return;
    }
    if (request == QLatin1String("hello") || request == QLatin1String("watch"))
        return;
    const QString text = message.value(QLatin1String(ok ? "written" : "reason")).toString();
    Q_EMIT answered(request, ok, text);
    if (request != tkrecord::requestName(tkrecord::ClientRequest::Kind::Setpoint))
        return;
    // Refused before anything went out: said as the window's own dialog says it.
    const QJsonValue outcome = message.value(QLatin1String("outcome"));
    Q_EMIT setpointEnded(outcome.isString()
                             ? outcome.toString()
                             : QStringLiteral("Nothing written: ") + text + QLatin1Char('.'));
}

void RecorderClient::lost() {
    if (m_retry.isActive())
        return;
    if (std::exchange(m_attached, false))
        Q_EMIT attachedChanged(false);
    m_retry.start();
}

} // namespace attach
