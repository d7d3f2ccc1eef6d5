#pragma once

// What reaches the running recorder from the command line: a marked event
// or a new run's fields, through a Unix-domain socket in the working folder
// (the folder's permissions and lock guard it, as they guard the records).
// The recorder takes the sender's user from the socket's peer credentials,
// never from what the sender says.
//
// One request line (JSON), and the answer:
//   {"mark":"Load in","controller":"oven2"}  ->  ok: oven2: event: Load in; by "alice"
// (one "ok: " line per entry written), closed by the recorder.
//   {"run":{"batch":"L-4711"}}              ->  error: …

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

#include "RunEvent.h"

class QLocalServer;
class QLocalSocket;

namespace tkrecord {

// The socket's name in the working folder.
inline constexpr char commandSocketName[] = ".tkrecord.sock";
// Longer requests are no request of tkrecord's.
inline constexpr qsizetype commandMaxBytes = 16 * 1024;

struct RecorderCommand {
    std::optional<QString> mark; // else a new run
    sealing::RunIdentity run;    // its operator is the sender, not this
    QString controller;          // empty: every controller of the recorder

    bool operator==(const RecorderCommand&) const = default;
};

// What a command wrote into the trail, or why it wrote nothing.
struct CommandOutcome {
    QString written;
    QString error;
};

QByteArray commandLine(const RecorderCommand& command);
// The command of a request line, or why it is none.
std::variant<RecorderCommand, QString> parseCommandLine(const QByteArray& line);

// Sends command to the recorder in the working folder; what it wrote into
// the trail, or why it did not (none running there included).
CommandOutcome sendCommand(const RecorderCommand& command, int timeoutMs = 5000);

class CommandServer : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<CommandOutcome(const RecorderCommand&, const QString& user)>;

    explicit CommandServer(Handler handler, QObject* parent = nullptr);
    ~CommandServer() override;

    // Listens on commandSocketName in the working folder, replacing a socket
    // a recorder that ended left there; why it cannot, or an empty text.
    QString listen();

private:
    void serve(QLocalSocket* client);

    Handler m_handler;
    QLocalServer* m_server;
    bool m_listening = false;
};

} // namespace tkrecord
