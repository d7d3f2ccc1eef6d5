#pragma once

// The recorder's protocol for its clients (windows, scripts), spoken on the
// command socket: one JSON object a line, in both directions.
//
// The recorder begins with its greeting:
//   {"greeting":"tkrecord","protocol":1,"folder":"/var/lib/tkrecord/oven1","user":"alice",
//    "controllers":["oven1","oven2"],"line":{"device":"/dev/ttyUSB0","speed":"9600"},
//    "setpoint":{"min":0,"max":300}}
// "setpoint" only where the recorder writes setpoints ([Control]
// SetpointWrite=1), with its limits (null where conf.ini sets none).
// The client's first request is its hello, naming the protocol it speaks:
//   {"request":"hello","protocol":1}
// Every request is answered, in the order sent, with its outcome; a request's
// "id" (any JSON value) comes back with its answer:
//   {"answer":"mark","id":7,"ok":true,"written":"oven2: event: Load in; by \"alice\""}
//   {"answer":"setpoint","ok":false,"reason":"alice is not in the group tkwriters"}
// A setpoint write that went out is answered with its outcome in the
// window's words too:
//   {"answer":"setpoint","ok":true,"written":"oven1: setpoint write: 150.0 → 180.0 °C: accepted",
//    "outcome":"oven1 (address 9): setpoint 150.0 → 180.0 °C: written and read back"}
// The requests, "controller" naming one of the greeting's (empty or absent:
// every controller, or the one of a recorder without [Controllers]):
//   {"request":"watch"}                       values as they come, the last hour first
//   {"request":"acknowledge","controller":"oven1","alarm":"high"}   alarm optional
//   {"request":"mark","text":"Load in","controller":"oven2"}
//   {"request":"run","run":{"batch":"L-4711","part":"","customer":"","note":""}}
//   {"request":"setpoint","controller":"oven1","value":150.5,"reason":"door fixed"}
// What a watching client is sent besides answers:
//   {"event":"history","controller":"oven1","points":[[MSECS,MEASURE,SETPOINT,POWER],...]}
//   {"event":"values","controller":"oven1","address":9,"time":MSECS,"measure":123.4,
//    "setpoint":150,"power":40,"current":true,"link":"ok","alarms":[ALARM,...]}
//   each ALARM not normal: {"alarm":"high","state":"active","text":"High temperature 312.4 °C
//    since 14:05:29","since":MSECS,"cleared":MSECS or null,"value":312.4,"setpoint":300,
//    "peak":312.4}, states "active", "acknowledged", "cleared"
//   the history's points are the polls' of the last hour, oldest first, null
//   where the values were not current.
//   {"event":"dropped","reason":"..."}        the last line before the recorder closes

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

#include "AlarmRules.h"
#include "RunEvent.h"

namespace tkrecord {

inline constexpr int protocolVersion = 1;
// Longer request lines are refused, and the client with them.
inline constexpr qsizetype requestMaxBytes = 16 * 1024;

struct ClientRequest {
    enum class Kind { Hello, Watch, Acknowledge, Mark, Run, Setpoint };
    Kind kind = Kind::Hello;
    QJsonValue id;
    int protocol = 0;
    QString controller;
    std::optional<alarms::Alarm> alarm; // Acknowledge: one alarm, else all
    QString text;                       // Mark: the words; Setpoint: the reason
    sealing::RunIdentity run;           // its operator is the sender, never the request's
    int16_t setpointTenths = 0;

    bool operator==(const ClientRequest&) const = default;
};

// Why a line is no request; name and id as far as they could be read.
struct RequestRefusal {
    QString request;
    QJsonValue id;
    QString reason;

    bool operator==(const RequestRefusal&) const = default;
};

// The request of one line (without or with its line feed), or why it is none.
std::variant<ClientRequest, RequestRefusal> parseClientRequest(const QByteArray& line);
// The request as a line, for the clients' side.
QByteArray requestLine(const ClientRequest& request);

QString requestName(ClientRequest::Kind kind);

// more: the recorder's own members of the greeting ("line", "setpoint").
QByteArray greetingLine(const QString& folder, const QString& user, const QStringList& controllers,
                        const QJsonObject& more = {});
// more: members of the answer beyond the outcome ("outcome").
QByteArray answerLine(const QString& request, const QJsonValue& id, const QString& written,
                      const QJsonObject& more = {});
QByteArray refusalLine(const RequestRefusal& refusal, const QJsonObject& more = {});
QByteArray droppedLine(const QString& reason);
// Any object as one line.
QByteArray messageLine(const QJsonObject& message);

} // namespace tkrecord
