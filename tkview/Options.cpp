#include "Options.h"

#include <QDateTime>
#include <QRegularExpression>

#include "AppInfo.h"

namespace tkview {

namespace {

// An ISO 8601 date and time, with "T" or a blank between them; local to
// `zone` without an offset.
std::optional<std::int64_t> parseTime(QString text, const QTimeZone& zone) {
    if (text.size() > 10 && text[10] == QLatin1Char(' '))
        text[10] = QLatin1Char('T');
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    if (!parsed.isValid())
        return std::nullopt;
    if (parsed.timeSpec() != Qt::LocalTime)
        return parsed.toMSecsSinceEpoch();
    const QDateTime local(parsed.date(), parsed.time(), zone);
    return local.isValid() ? std::optional(local.toMSecsSinceEpoch()) : std::nullopt;
}

} // namespace

std::variant<Options, QString> parseOptions(const QStringList& arguments, const QTimeZone& zone) {
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
            continue;
        }
        if (argument == QLatin1String("--version")) {
            options.version = true;
            continue;
        }
        if (argument == QLatin1String("--verify")) {
            options.verify = true;
            continue;
        }
        if (argument == QLatin1String("--compare")) {
            options.compare = true;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            options.paths << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            options.paths << arguments.mid(i + 1);
            break;
        }
        // "--name VALUE" or "--name=VALUE".
        QString value;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals > 0) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
        }
        static const QStringList withValue{
            QStringLiteral("--csv"),    QStringLiteral("--spreadsheet"),
            QStringLiteral("--report"), QStringLiteral("--png"),
            QStringLiteral("--svg"),    QStringLiteral("--size"),
            QStringLiteral("--from"),   QStringLiteral("--to"),
            QStringLiteral("--trust"),  QStringLiteral("--journal"),
            QStringLiteral("--align"),  QStringLiteral("--state")};
        if (!withValue.contains(argument))
            return QStringLiteral("unknown option %1").arg(argument);
        if (equals < 0) {
            if (i + 1 == arguments.size())
                return QStringLiteral("%1 needs a value").arg(argument);
            value = arguments[++i];
        }
        if (value.isEmpty())
            return QStringLiteral("%1 needs a value").arg(argument);
        if (argument == QLatin1String("--trust")) {
            options.trust << value;
        } else if (argument == QLatin1String("--csv")) {
            options.csvOut = value;
        } else if (argument == QLatin1String("--spreadsheet")) {
            options.spreadsheetOut = value;
        } else if (argument == QLatin1String("--report")) {
            options.reportOut = value;
        } else if (argument == QLatin1String("--png")) {
            options.pngOut = value;
        } else if (argument == QLatin1String("--align")) {
            if (value != QLatin1String("start") && value != QLatin1String("setpoint"))
                return QStringLiteral("--align: \"%1\" is neither start nor setpoint").arg(value);
            options.alignAtSetpoint = value == QLatin1String("setpoint");
            options.alignGiven = true;
        } else if (argument == QLatin1String("--journal")) {
            options.journal = value;
        } else if (argument == QLatin1String("--state")) {
            options.state = value;
        } else if (argument == QLatin1String("--svg")) {
            options.svgOut = value;
        } else if (argument == QLatin1String("--size")) {
            static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const QRegularExpressionMatch match = pattern.match(value);
            const QSize size = match.hasMatch()
                                   ? QSize(match.captured(1).toInt(), match.captured(2).toInt())
                                   : QSize();
            if (size.width() < 1 || size.height() < 1 || size.width() > 20000 ||
                size.height() > 20000)
                return QStringLiteral(
                           "--size: \"%1\" is not WIDTHxHEIGHT in pixels, e.g. 1920x1080")
                    .arg(value);
            options.size = size;
        } else {
            const std::optional<std::int64_t> time = parseTime(value, zone);
            if (!time)
                return QStringLiteral("%1: \"%2\" is not a date and time such as 2026-12-08T21:33")
                    .arg(argument, value);
            (argument == QLatin1String("--from") ? options.fromMs : options.toMs) = time;
        }
    }
    if (!options.trust.isEmpty() && !options.verify)
        return QStringLiteral("--trust goes with --verify");
    if (options.fromMs && options.toMs && *options.fromMs > *options.toMs)
        return QStringLiteral("--from is after --to");
    if (!options.journal.isEmpty() && !options.verify)
        return QStringLiteral("--journal goes with --verify");
    if (!options.state.isEmpty() && !options.verify)
        return QStringLiteral("--state goes with --verify");
    if (options.alignGiven && !options.compare)
        return QStringLiteral("--align goes with --compare");
    if (options.compare && options.verify)
        return QStringLiteral("--compare and --verify do not go together");
    if (options.compare && options.paths.size() < 2)
        return QStringLiteral("--compare needs two runs or more");
    if (options.compare && (!options.csvOut.isEmpty() || !options.spreadsheetOut.isEmpty() ||
                            !options.svgOut.isEmpty() || options.fromMs || options.toMs))
        return QStringLiteral("--compare makes a window, a --report or a --png");
    if (options.headless() && options.paths.isEmpty() && !options.help && !options.version)
        return QStringLiteral("no recording given to read");
    return options;
}

QString usageText() {
    return QStringLiteral(
        "Usage: tkview [OPTION]... [FILE|FOLDER]...\n"
        "       tkview --compare [--align start|setpoint] [OPTION]... RUN RUN...\n"
        "Shows recordings of a TK840/TK960 controller (REC_*.csv, as tkcontrol and\n"
        "tkrecord write them in any language, or as a spreadsheet saved them again).\n"
        "The audit trail beside them (audit.log; on a bus, in the folder above a\n"
        "controller's) gives the run's batch, and its events, alarms and setpoint\n"
        "writes, marked on the chart and listed in the report.\n"
        "A folder stands for every REC_*.csv in it; several files make one timeline.\n"
        "With an output option, makes it without a window and exits.\n"
        "\n"
        "  --csv OUT.csv      one merged file for scripts and any spreadsheet: local\n"
        "                     times (2026-12-08 21:33:00) and their UTC offset,\n"
        "                     degrees with a decimal point, power; records without\n"
        "                     data keep their row with empty fields\n"
        "  --spreadsheet OUT.csv  the same for this computer's spreadsheet: its decimal\n"
        "                     sign, and semicolons where that is a comma\n"
        "  --report OUT.pdf   a report on A4: files, period, summary and chart\n"
        "  --png OUT.png      the chart as a picture\n"
        "  --svg OUT.svg      the chart as vector graphics\n"
        "  --size WxH         the size of --png and --svg (default 1920x1080)\n"
        "  --from TIME        start at TIME (ISO 8601, e.g. 2026-12-08T21:33 or\n"
        "                     2026-12-08 21:33:01+01:00; local time without an offset)\n"
        "  --to TIME          end at TIME\n"
        "  --compare RUN RUN...  lay runs over each other, each labelled with its\n"
        "                     batch (or its first file's name), with their summaries\n"
        "                     side by side, in the window, a --report or a --png; a\n"
        "                     RUN is a recording, a folder of one run's recordings or\n"
        "                     files joined by commas (a.csv,b.csv)\n"
        "  --align start|setpoint  with --compare: lay the runs' starts (default) or\n"
        "                     the moments they first reached their setpoint at zero\n"
        "  --verify           check each recording or audit.log against its seal and\n"
        "                     print its verdict; a seal counts only when signed by a\n"
        "                     key of /etc/tkcontrol/trusted-keys (or the file named by\n"
        "                     TKCONTROL_TRUSTED_KEYS) or of --trust; a folder's\n"
        "                     recordings are also checked against its audit trail:\n"
        "                     missing, rolled back, changed or unknown to it\n"
        "  --trust KEY        with --verify, also trust KEY: a key file (a trusted-keys\n"
        "                     line or a seal.key), a public key in hex or a 16-digit\n"
        "                     fingerprint; may be repeated\n"
        "  --journal FILE     with --verify: the audit trail's last head that tkrecord\n"
        "                     left in the journal, as saved by\n"
        "                     journalctl -o json -u tkrecord@NAME >FILE; only lines\n"
        "                     the journal marks as the tkrecord account's count\n"
        "  --state PATH       with --verify: what tkrecord noted it wrote, kept beside\n"
        "                     its key (the key's folder, or the file in it): a trail\n"
        "                     or a recording it had open put back to an older copy,\n"
        "                     cut or removed is a finding, even without --journal\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "Exit status: 0 done, 1 a file or some of its lines could not be read, files\n"
        "overlap, no record lies in the range, a seal is not verified (--report is still\n"
        "written), or an output could not be written (the outputs are made from the\n"
        "rest), 2 a bad option.\n"
        "With --verify: 0 every file intact under a trusted key and every check passed,\n"
        "1 a file not intact (or without a seal) or a check failed, 2 a bad option, 3 all\n"
        "intact but some signed by a key that is not trusted.\n");
}

QString versionNumber() {
    return QString::fromLatin1(versionText).section(QLatin1Char(' '), -1);
}

} // namespace tkview
