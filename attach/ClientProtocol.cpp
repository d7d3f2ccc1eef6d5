#include "ClientProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <array>
#include <cmath>

#include "AlarmText.h"

namespace tkrecord {

namespace {

struct KindName {
    ClientRequest::Kind kind;
    QLatin1String name;
};

const std::array<KindName, 6> kindNames{{
    {ClientRequest::Kind::Hello, QLatin1String("hello")},
    {ClientRequest::Kind::Watch, QLatin1String("watch")},
    {ClientRequest::Kind::Acknowledge, QLatin1String("acknowledge")},
    {ClientRequest::Kind::Mark, QLatin1String("mark")},
    {ClientRequest::Kind::Run, QLatin1String("run")},
    {ClientRequest::Kind::Setpoint, QLatin1String("setpoint")},
}};

struct RunField {
    QLatin1String key;
    QString sealing::RunIdentity::*member;
};

// The operator is no field of a request: the recorder knows the sender.
const std::array<RunField, 4> runFields{{
    {QLatin1String("batch"), &sealing::RunIdentity::batch},
    {QLatin1String("part"), &sealing::RunIdentity::part},
    {QLatin1String("customer"), &sealing::RunIdentity::customer},
    {QLatin1String("note"), &sealing::RunIdentity::note},
}};

// The register holds tenths of a degree in 16 signed bits.
constexpr double lowestTenths = -32768;
constexpr double highestTenths = 32767;

std::optional<QString> textField(const QJsonObject& request, QLatin1String key, QString& out) {
    const QJsonValue value = request.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        return QStringLiteral("\"%1\" is not a text").arg(key);
    out = value.toString();
    return std::nullopt;
}

} // namespace

QString requestName(ClientRequest::Kind kind) {
    for (const KindName& entry : kindNames)
        if (entry.kind == kind)
            return entry.name;
    return {};
}

std::variant<ClientRequest, RequestRefusal> parseClientRequest(const QByteArray& line) {
    RequestRefusal refusal;
    if (line.size() > requestMaxBytes) {
        refusal.reason = QStringLiteral("request longer than %1 bytes").arg(requestMaxBytes);
        return refusal;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        refusal.reason = QStringLiteral("not a JSON object");
        return refusal;
    }
    const QJsonObject request = document.object();
    refusal.id = request.value(QLatin1String("id"));
    if (refusal.id.isUndefined())
        refusal.id = QJsonValue();
    const QJsonValue nameValue = request.value(QLatin1String("request"));
    if (!nameValue.isString()) {
        refusal.reason = QStringLiteral("no \"request\" named");
        return refusal;
    }
    refusal.request = nameValue.toString().left(64);
    ClientRequest parsed;
    parsed.id = refusal.id;
    const auto* const found =
        std::find_if(kindNames.begin(), kindNames.end(),
                     [&](const KindName& k) { return k.name == nameValue.toString(); });
    if (found == kindNames.end()) {
        refusal.reason = QStringLiteral("unknown request");
        return refusal;
    }
    parsed.kind = found->kind;
    const auto refuse = [&refusal](const QString& why) {
        refusal.reason = why;
        return refusal;
    };
    if (const auto bad = textField(request, QLatin1String("controller"), parsed.controller))
        return refuse(*bad);

    switch (parsed.kind) {
    case ClientRequest::Kind::Hello: {
        const QJsonValue protocol = request.value(QLatin1String("protocol"));
        const double number = protocol.toDouble(-1);
        if (!protocol.isDouble() || number < 0 || number > 1e6 || number != std::floor(number))
            return refuse(QStringLiteral("hello names no protocol"));
        parsed.protocol = int(number);
        break;
    }
    case ClientRequest::Kind::Watch:
        break;
    case ClientRequest::Kind::Acknowledge: {
        QString alarm;
        if (const auto bad = textField(request, QLatin1String("alarm"), alarm))
            return refuse(*bad);
        if (!alarm.isEmpty()) {
            for (alarms::Alarm a : alarms::allAlarms)
                if (alarms::metricLabel(a) == alarm)
                    parsed.alarm = a;
            if (!parsed.alarm)
                return refuse(QStringLiteral("no alarm \"%1\"").arg(alarm.left(64)));
        }
        break;
    }
    case ClientRequest::Kind::Mark:
        if (const auto bad = textField(request, QLatin1String("text"), parsed.text))
            return refuse(*bad);
        if (parsed.text.trimmed().isEmpty())
            return refuse(QStringLiteral("an event needs words"));
        break;
    case ClientRequest::Kind::Run: {
        const QJsonValue run = request.value(QLatin1String("run"));
        if (!run.isUndefined() && !run.isObject())
            return refuse(QStringLiteral("\"run\" is not an object"));
        const QJsonObject fields = run.toObject();
        for (const RunField& field : runFields)
            if (const auto bad = textField(fields, field.key, parsed.run.*field.member))
                return refuse(*bad);
        break;
    }
    case ClientRequest::Kind::Setpoint: {
        const QJsonValue value = request.value(QLatin1String("value"));
        if (!value.isDouble())
            return refuse(QStringLiteral("a setpoint needs a \"value\" in °C"));
        // Ties go to the even neighbour, as every conversion to a register does.
        const double tenths = std::nearbyint(value.toDouble() * 10);
        if (!(tenths >= lowestTenths && tenths <= highestTenths))
            return refuse(QStringLiteral("setpoint out of range, -3276.8 to 3276.7 °C"));
        parsed.setpointTenths = int16_t(tenths);
        if (const auto bad = textField(request, QLatin1String("reason"), parsed.text))
            return refuse(*bad);
        break;
    }
    }
    return parsed;
}

QByteArray requestLine(const ClientRequest& request) {
    QJsonObject line{{QStringLiteral("request"), requestName(request.kind)}};
    if (!request.id.isNull() && !request.id.isUndefined())
        line.insert(QStringLiteral("id"), request.id);
    if (!request.controller.isEmpty())
        line.insert(QStringLiteral("controller"), request.controller);
    switch (request.kind) {
    case ClientRequest::Kind::Hello:
        line.insert(QStringLiteral("protocol"), request.protocol);
        break;
    case ClientRequest::Kind::Watch:
        break;
    case ClientRequest::Kind::Acknowledge:
        if (request.alarm)
            line.insert(QStringLiteral("alarm"), alarms::metricLabel(*request.alarm));
        break;
    case ClientRequest::Kind::Mark:
        line.insert(QStringLiteral("text"), request.text);
        break;
    case ClientRequest::Kind::Run: {
        QJsonObject run;
        for (const RunField& field : runFields)
            if (!(request.run.*field.member).isEmpty())
                run.insert(field.key, request.run.*field.member);
        line.insert(QStringLiteral("run"), run);
        break;
    }
    case ClientRequest::Kind::Setpoint:
        line.insert(QStringLiteral("value"), request.setpointTenths / 10.0);
        if (!request.text.isEmpty())
            line.insert(QStringLiteral("reason"), request.text);
        break;
    }
    return messageLine(line);
}

QByteArray messageLine(const QJsonObject& message) {
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray greetingLine(const QString& folder, const QString& user, const QStringList& controllers,
                        const QJsonObject& more) {
    QJsonObject greeting = more;
    greeting.insert(QStringLiteral("greeting"), QStringLiteral("tkrecord"));
    greeting.insert(QStringLiteral("protocol"), protocolVersion);
    greeting.insert(QStringLiteral("folder"), folder);
    greeting.insert(QStringLiteral("user"), user);
    greeting.insert(QStringLiteral("controllers"), QJsonArray::fromStringList(controllers));
    return messageLine(greeting);
}

QByteArray answerLine(const QString& request, const QJsonValue& id, const QString& written,
                      const QJsonObject& more) {
    QJsonObject answer = more;
    answer.insert(QStringLiteral("answer"), request);
    answer.insert(QStringLiteral("ok"), true);
    if (!id.isNull() && !id.isUndefined())
        answer.insert(QStringLiteral("id"), id);
    if (!written.isEmpty())
        answer.insert(QStringLiteral("written"), written);
    return messageLine(answer);
}

QByteArray refusalLine(const RequestRefusal& refusal, const QJsonObject& more) {
    QJsonObject answer = more;
    answer.insert(QStringLiteral("answer"), refusal.request);
    answer.insert(QStringLiteral("ok"), false);
    answer.insert(QStringLiteral("reason"), refusal.reason);
    if (!refusal.id.isNull() && !refusal.id.isUndefined())
        answer.insert(QStringLiteral("id"), refusal.id);
    return messageLine(answer);
}

QByteArray droppedLine(const QString& reason) {
    return messageLine(
        {{QStringLiteral("event"), QStringLiteral("dropped")}, {QStringLiteral("reason"), reason}});
}

} // namespace tkrecord
