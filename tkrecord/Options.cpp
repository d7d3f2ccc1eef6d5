#include "Options.h"

#include <QHostAddress>

#include "AppInfo.h"

#include <optional>

namespace tkrecord {

namespace {

struct Endpoint {
    QString host;
    quint16 port = 0;
};

// "HOST:PORT", ":PORT", "PORT" or "[IPv6]:PORT"; the host must be an address
// or "localhost", so that nothing is looked up in a name service at start.
std::optional<Endpoint> parseEndpoint(const QString& text) {
    QString host;
    QString port = text;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host == QLatin1String("localhost"))
            host = QStringLiteral("127.0.0.1");
        if (!host.isEmpty() && QHostAddress(host).protocol() != QAbstractSocket::IPv4Protocol)
            return std::nullopt;
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number > 65535 || port.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return Endpoint{host.isEmpty() ? QStringLiteral("127.0.0.1") : host, quint16(number)};
}

// The run field an option sets, or none.
QString* runField(sealing::RunIdentity& run, const QString& name) {
    if (name == QLatin1String("--batch"))
        return &run.batch;
    if (name == QLatin1String("--part"))
        return &run.part;
    if (name == QLatin1String("--customer"))
        return &run.customer;
    if (name == QLatin1String("--operator"))
        return &run.operatorName;
    if (name == QLatin1String("--note"))
        return &run.note;
    return nullptr;
}

} // namespace

std::variant<Options, QString> parseOptions(const QStringList& arguments) {
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('='));
            name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (value)
                return value;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };

        const bool flag = name == QLatin1String("--help") || name == QLatin1String("-h") ||
                          name == QLatin1String("--version") || name == QLatin1String("--probe") ||
                          name == QLatin1String("--key-fingerprint") ||
                          name == QLatin1String("--no-seal") || name == QLatin1String("--run");
        if (flag && value)
            return QStringLiteral("%1 takes no value").arg(name);
        if (name == QLatin1String("--version")) {
            options.version = true;
        } else if (name == QLatin1String("--probe")) {
            options.probe = true;
        } else if (name == QLatin1String("--key-fingerprint")) {
            options.keyFingerprint = true;
        } else if (name == QLatin1String("--no-seal")) {
            options.noSeal = true;
        } else if (name == QLatin1String("--run")) {
            options.newRun = true;
        } else if (flag) {
            options.help = true;
        } else if (name == QLatin1String("--dir")) {
            const std::optional<QString> dir = takeValue();
            if (!dir || dir->isEmpty())
                return QStringLiteral("--dir needs a folder");
            options.dir = *dir;
        } else if (name == QLatin1String("--key")) {
            const std::optional<QString> key = takeValue();
            if (!key || key->isEmpty())
                return QStringLiteral("--key needs a file");
            options.key = *key;
        } else if (QString* field = runField(options.run, name)) {
            const std::optional<QString> text = takeValue();
            if (!text)
                return QStringLiteral("%1 needs a value").arg(name);
            *field = sealing::oneLine(*text);
        } else if (name == QLatin1String("--mark")) {
            options.mark = takeValue();
            if (!options.mark || sealing::oneLine(*options.mark).isEmpty())
                return QStringLiteral("--mark needs the event's words");
        } else if (name == QLatin1String("--controller")) {
            const std::optional<QString> controller = takeValue();
            if (!controller || controller->isEmpty())
                return QStringLiteral("--controller needs a name of [Controllers]");
            options.controller = *controller;
        } else if (name == QLatin1String("--metrics")) {
            const std::optional<QString> text = takeValue();
            if (!text)
                return QStringLiteral("--metrics needs HOST:PORT");
            const std::optional<Endpoint> endpoint = parseEndpoint(*text);
            if (!endpoint)
                return QStringLiteral("--metrics needs HOST:PORT with an IP address and a port "
                                      "from 0 to 65535, not \"%1\"")
                    .arg(*text);
            options.metrics = true;
            options.metricsHost = endpoint->host;
            options.metricsPort = endpoint->port;
        } else if (name == QLatin1String("--addresses")) {
            const std::optional<QString> text = takeValue();
            bool ok = false;
            const int last = text ? text->toInt(&ok) : 0;
            if (!ok || last < 1 || last > 247 || text->startsWith(QLatin1Char('+')))
                return QStringLiteral("--addresses needs the last address to probe, 1 to 247");
            options.lastProbedAddress = last;
        } else if (name.startsWith(QLatin1Char('-'))) {
            return QStringLiteral("unknown option \"%1\"").arg(name);
        } else {
            return QStringLiteral("unexpected argument \"%1\"").arg(name);
        }
    }
    if (options.noSeal && options.keyFingerprint)
        return QStringLiteral("--no-seal has no key to show");
    if (options.noSeal && !options.key.isEmpty())
        return QStringLiteral("--no-seal records without a key: --key goes without it");
    const bool command = options.mark || options.newRun;
    if (options.mark && options.newRun)
        return QStringLiteral("--mark and --run go one at a time");
    if (!command && !options.controller.isEmpty())
        return QStringLiteral("--controller goes with --mark or --run");
    if (options.mark && options.run != sealing::RunIdentity{})
        return QStringLiteral("--mark takes no run fields: send them with --run");
    // The recorder writes who sent it, as the system knows the sender.
    if (command && !options.run.operatorName.isEmpty())
        return QStringLiteral("--operator is the user who sends --run or --mark");
    if (command && (options.probe || options.keyFingerprint || options.metrics || options.noSeal ||
                    !options.key.isEmpty()))
        return QStringLiteral("--mark and --run go to the running recorder, with --dir and "
                              "--controller only");
    return options;
}

QString usageText() {
    return QStringLiteral(
        "Usage: tkrecord [--dir DIR] [--key FILE|--no-seal] [--metrics HOST:PORT]\n"
        "                [--batch B] [--part P] [--customer C] [--operator O] [--note N]\n"
        "       tkrecord [--dir DIR] --mark TEXT [--controller NAME]\n"
        "       tkrecord [--dir DIR] --run [--batch B] [--part P] [--customer C]\n"
        "                [--note N] [--controller NAME]\n"
        "       tkrecord [--dir DIR] --probe [--addresses N]\n"
        "       tkrecord [--dir DIR] [--key FILE] --key-fingerprint\n"
        "Records a TK840/TK960 controller, or each of a [Controllers] bus in its\n"
        "own sub-folder, without a display: polls it every 2 s as tkcontrol does\n"
        "and appends a record every interv_record seconds to\n"
        "REC_yyyy-mm-dd_hh-mm-ss.csv, beginning a new file at each midnight.\n"
        "Settings come from conf.ini in the folder, which is never written.\n"
        "\n"
        "  --dir DIR            work in DIR instead of the working directory\n"
        "  --metrics HOST:PORT  serve live values in the Prometheus text format\n"
        "                       at http://HOST:PORT/metrics (HOST defaults to\n"
        "                       127.0.0.1; port 0 takes a free port)\n"
        "  --probe              find the controller: try every serial port at\n"
        "                       every usual speed at address 9, then, if none\n"
        "                       answers, at the others; print the conf.ini\n"
        "                       lines for the one that answers (exit 0; 1:\n"
        "                       none), then the addresses answering there and\n"
        "                       their [Controllers] lines\n"
        "  --addresses N        the last address --probe asks (default 32)\n"
        "  --batch, --part, --customer, --operator, --note TEXT\n"
        "                       what the run is, written into audit.log after\n"
        "                       each file's start (the operator defaults to\n"
        "                       the user running tkrecord)\n"
        "  --mark TEXT          write the event TEXT into the trail of the\n"
        "                       recorder running in the folder, with the\n"
        "                       sending user; exit 1 when none runs there\n"
        "  --run                give the running recorder's files, from now\n"
        "                       on, the run fields given (operator: the user\n"
        "                       sending it)\n"
        "  --controller NAME    with --mark or --run: for this controller of\n"
        "                       the bus only\n"
        "  --key FILE           the key that seals the recordings and audit.log\n"
        "                       (default $TKRECORD_KEY, else\n"
        "                       ~/.local/share/tkrecord/seal.key; made if\n"
        "                       absent, refused unless yours and mode 0600);\n"
        "                       without a key tkrecord does not start\n"
        "  --no-seal            record without seals\n"
        "  --key-fingerprint    show the key's fingerprint (made if absent)\n"
        "                       and the line that makes tkview trust it\n"
        "  --help               show this text\n"
        "  --version            show the version\n"
        "\n"
        "Stops cleanly on SIGTERM, SIGINT or SIGHUP. Exits 1 when conf.ini\n"
        "cannot be read, has a bad [Controllers] line or a value of its [Alarms]\n"
        "that cannot be a limit, when the key cannot seal, and when a folder is\n"
        "removed while recording. See tkrecord(1).\n");
}

QString versionNumber() {
    return QString::fromLatin1(versionText).section(QLatin1Char(' '), -1);
}

} // namespace tkrecord
