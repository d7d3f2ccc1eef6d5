#include "RunEvent.h"

#include <array>
#include <utility>

namespace sealing {

namespace {

const QString runWord = QStringLiteral("run: ");
const QString markWord = QStringLiteral("event: ");
const QString byWord = QStringLiteral("; by ");

struct Field {
    QLatin1String key;
    QString RunIdentity::*member;
};

const std::array<Field, 5> fields{{
    {QLatin1String("batch"), &RunIdentity::batch},
    {QLatin1String("part"), &RunIdentity::part},
    {QLatin1String("customer"), &RunIdentity::customer},
    {QLatin1String("operator"), &RunIdentity::operatorName},
    {QLatin1String("note"), &RunIdentity::note},
}};

const std::array<std::pair<QLatin1String, EventKind>, 8> kinds{{
    {QLatin1String("run: "), EventKind::Run},
    {QLatin1String("event: "), EventKind::Mark},
    {QLatin1String("alarm raised: "), EventKind::AlarmRaised},
    {QLatin1String("alarm acknowledged: "), EventKind::AlarmAcknowledged},
    {QLatin1String("alarm cleared: "), EventKind::AlarmCleared},
    {QLatin1String("setpoint write: "), EventKind::SetpointWrite},
    {QLatin1String("recording started: "), EventKind::RecordingStarted},
    {QLatin1String("recording stopped: "), EventKind::RecordingStopped},
}};

// As conf.ini's [Controllers] takes them: 1-32 ASCII letters, digits, '-', '_'.
bool validControllerName(QStringView name) {
    if (name.isEmpty() || name.size() > 32)
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

// Reads `"…"` at text[at], unescaping; at moves past the closing quote.
std::optional<QString> readQuoted(QStringView text, qsizetype& at) {
    if (at >= text.size() || text[at] != QLatin1Char('"'))
        return std::nullopt;
    QString value;
    for (++at; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == QLatin1Char('"')) {
            ++at;
            return value;
        }
        if (c == QLatin1Char('\\')) {
            if (++at == text.size())
                return std::nullopt;
            value += text[at];
            continue;
        }
        value += c;
    }
    return std::nullopt;
}

} // namespace

QString oneLine(const QString& text) {
    QString line;
    line.reserve(text.size());
    for (const QChar c : text)
        line += (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                 c == QChar::ParagraphSeparator)
                    ? QLatin1Char(' ')
                    : c;
    line = line.trimmed();
    if (line.size() > runValueLimit)
        line.truncate(runValueLimit);
    return line;
}

QString quotedValue(const QString& value) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : oneLine(value)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

QString runEvent(const QString& fileName, const RunIdentity& run) {
    QString event = runWord + fileName;
    for (const Field& field : fields) {
        const QString value = oneLine(run.*field.member);
        if (!value.isEmpty())
            event += QStringLiteral("; ") + field.key + QLatin1Char(' ') + quotedValue(value);
    }
    return event;
}

std::optional<RunEntry> parseRunEvent(QStringView event) {
    if (!event.startsWith(runWord))
        return std::nullopt;
    const QStringView rest = event.mid(runWord.size());
    const qsizetype end = rest.indexOf(QLatin1String("; "));
    RunEntry entry;
    entry.fileName = rest.first(end < 0 ? rest.size() : end).toString();
    if (entry.fileName.isEmpty())
        return std::nullopt;
    qsizetype at = end < 0 ? rest.size() : end;
    while (at < rest.size()) {
        if (!rest.mid(at).startsWith(QLatin1String("; ")))
            return std::nullopt;
        at += 2;
        const qsizetype space = rest.indexOf(QLatin1Char(' '), at);
        if (space < 0)
            return std::nullopt;
        const QStringView key = rest.sliced(at, space - at);
        at = space + 1;
        const std::optional<QString> value = readQuoted(rest, at);
        if (!value)
            return std::nullopt;
        // A key this program does not know is kept out, not taken as an error:
        // a later version may say more of a run.
        for (const Field& field : fields)
            if (key == field.key)
                entry.run.*field.member = *value;
    }
    return entry;
}

namespace {

// Where `; by "…"` begins when the text ends in one, or -1. Inside a quoted
// value every quote follows a backslash, so the last `; by "` begins it.
qsizetype bySuffix(QStringView text) {
    const qsizetype at = text.lastIndexOf(byWord + QLatin1Char('"'));
    if (at < 0)
        return -1;
    qsizetype end = at + byWord.size();
    return readQuoted(text, end) && end == text.size() ? at : -1;
}

} // namespace

QString markEvent(const QString& text, const QString& by) {
    const QString line = oneLine(text);
    if (by.isEmpty() && bySuffix(line) < 0)
        return markWord + line;
    return markWord + line + byWord + quotedValue(by);
}

std::optional<Mark> parseMark(QStringView event) {
    if (!event.startsWith(markWord))
        return std::nullopt;
    QStringView rest = event.mid(markWord.size());
    const qsizetype at = bySuffix(rest);
    if (at < 0)
        return Mark{rest.toString(), {}};
    qsizetype end = at + byWord.size();
    return Mark{rest.first(at).toString(), readQuoted(rest, end).value_or(QString())};
}

std::optional<QString> parseMarkEvent(QStringView event) {
    const std::optional<Mark> mark = parseMark(event);
    if (!mark)
        return std::nullopt;
    return mark->text;
}

QString controllerEvent(const QString& controller, const QString& event) {
    return controller.isEmpty() ? event : controller + QStringLiteral(": ") + event;
}

EventKind eventKind(QStringView event) {
    for (const auto& [word, kind] : kinds)
        if (event.startsWith(word))
            return kind;
    return EventKind::Other;
}

NamedEvent splitController(QStringView event) {
    // An entry that begins with the program's own words is the program's, so
    // a mark typed as "run: …" or "alarm raised: …" stays a mark; no
    // controller may be named "run" or "event" for that reason.
    if (const EventKind kind = eventKind(event); kind != EventKind::Other)
        return {QString(), event.toString(), kind};
    const qsizetype colon = event.indexOf(QLatin1String(": "));
    if (colon > 0 && validControllerName(event.first(colon))) {
        const QStringView rest = event.mid(colon + 2);
        return {event.first(colon).toString(), rest.toString(), eventKind(rest)};
    }
    return {QString(), event.toString(), EventKind::Other};
}

} // namespace sealing
