#include "Profile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <optional>

namespace settings {

namespace {

struct Lines {
    QStringList lines;
    QString newline;
};

// The file's text in the system's 8-bit encoding, split into lines; the line
// ending of the file is kept so that a write does not change it.
std::optional<Lines> readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QStringDecoder decode(QStringConverter::System);
    QString text = decode(bytes);
    Lines result;
#ifdef Q_OS_WIN
    result.newline = QStringLiteral("\r\n");
#else
    result.newline =
        text.contains(QLatin1String("\r\n")) ? QStringLiteral("\r\n") : QStringLiteral("\n");
#endif
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.lines = text.split(QLatin1Char('\n'));
    // A final line ending does not start another line.
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    return result;
}

// The name inside "[name]", or nothing when the line is not a section line.
std::optional<QString> sectionName(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

struct Entry {
    QString key;
    QString value;
};

std::optional<Entry> entryOf(const QString& line) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || line.trimmed().startsWith(QLatin1Char(';')))
        return std::nullopt;
    return Entry{line.left(eq).trimmed(), line.mid(eq + 1).trimmed()};
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index range [first, last) of the lines that belong to section, the section
// line itself excluded; first is -1 when the section is absent.
std::pair<qsizetype, qsizetype> sectionBody(const QStringList& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i]);
        if (!name || !sameName(*name, section))
            continue;
        qsizetype end = i + 1;
        while (end < lines.size() && !sectionName(lines[end]))
            ++end;
        return {i + 1, end};
    }
    return {-1, -1};
}

} // namespace

QString getProfileString(const QString& section, const QString& key, const QString& defaultText,
                         const QString& path) {
    const auto file = readLines(path);
    if (!file)
        return defaultText.left(profileValueMax);
    const auto [first, end] = sectionBody(file->lines, section);
    for (qsizetype i = first; first >= 0 && i < end; ++i) {
        const auto entry = entryOf(file->lines[i]);
        if (entry && sameName(entry->key, key))
            return entry->value.left(profileValueMax);
    }
    return defaultText.left(profileValueMax);
}

bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& path) {
    Lines file;
    if (QFile::exists(path)) {
        auto existing = readLines(path);
        if (!existing)
            return false; // never replace a file we could not read
        file = *existing;
    } else {
#ifdef Q_OS_WIN
        file.newline = QStringLiteral("\r\n");
#else
        file.newline = QStringLiteral("\n");
#endif
    }

    const QString newLine = key + QLatin1Char('=') + value;
    auto [first, end] = sectionBody(file.lines, section);
    if (first < 0) {
        file.lines << QLatin1Char('[') + section + QLatin1Char(']') << newLine;
    } else {
        qsizetype lastEntry = first - 1;
        bool replaced = false;
        for (qsizetype i = first; i < end; ++i) {
            const auto entry = entryOf(file.lines[i]);
            if (!entry)
                continue;
            lastEntry = i;
            if (sameName(entry->key, key)) {
                file.lines[i] = newLine;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            file.lines.insert(lastEntry + 1, newLine);
    }

    // Unbuffered, so that a short write (full disk, size limit) shows in the
    // count that write() returns: a buffered QSaveFile can commit a cut file.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    QStringEncoder encode(QStringConverter::System);
    const QByteArray bytes = encode(file.lines.join(file.newline) + file.newline);
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace settings
