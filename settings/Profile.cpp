#include "Profile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <optional>

namespace settings {

namespace {

// The file's lines as they are on the disk and as text. A write changes only
// the line of its key: every other line goes back byte for byte, even where
// it is not valid in the system's encoding.
struct Lines {
    QList<QByteArray> raw;
    QStringList text;
    QByteArray newline;

    void set(qsizetype i, const QString& line) {
        raw[i] = encoded(line);
        text[i] = line;
    }
    void insert(qsizetype i, const QString& line) {
        raw.insert(i, encoded(line));
        text.insert(i, line);
    }
    static QByteArray encoded(const QString& line) {
        QStringEncoder encode(QStringConverter::System);
        return encode(line);
    }
};

QByteArray nativeNewline() {
#ifdef Q_OS_WIN
    return QByteArrayLiteral("\r\n");
#else
    return QByteArrayLiteral("\n");
#endif
}

// The file's lines; the line ending of the file is kept so that a write does
// not change it.
std::optional<Lines> readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    Lines result;
    result.newline = bytes.contains("\r\n") ? QByteArrayLiteral("\r\n") : nativeNewline();
    bytes.replace("\r\n", "\n");
    result.raw = bytes.split('\n');
    // A final line ending does not start another line.
    if (!result.raw.isEmpty() && result.raw.last().isEmpty())
        result.raw.removeLast();
    for (const QByteArray& line : std::as_const(result.raw)) {
        QStringDecoder decode(QStringConverter::System);
        result.text << decode(line);
    }
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
    const auto [first, end] = sectionBody(file->text, section);
    for (qsizetype i = first; first >= 0 && i < end; ++i) {
        const auto entry = entryOf(file->text[i]);
        if (entry && sameName(entry->key, key))
            return entry->value.left(profileValueMax);
    }
    return defaultText.left(profileValueMax);
}

bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& path) {
    Lines file;
    file.newline = nativeNewline();
    if (QFile::exists(path)) {
        auto existing = readLines(path);
        if (!existing)
            return false; // never replace a file we could not read
        file = *existing;
    }

    const QString newLine = key + QLatin1Char('=') + value;
    auto [first, end] = sectionBody(file.text, section);
    if (first < 0) {
        file.insert(file.text.size(), QLatin1Char('[') + section + QLatin1Char(']'));
        file.insert(file.text.size(), newLine);
    } else {
        qsizetype lastEntry = first - 1;
        bool replaced = false;
        for (qsizetype i = first; i < end; ++i) {
            const auto entry = entryOf(file.text[i]);
            if (!entry)
                continue;
            lastEntry = i;
            if (sameName(entry->key, key)) {
                file.set(i, newLine);
                replaced = true;
                break;
            }
        }
        if (!replaced)
            file.insert(lastEntry + 1, newLine);
    }

    // Unbuffered, so that a short write (full disk, size limit) shows in the
    // count that write() returns: a buffered QSaveFile can commit a cut file.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray bytes = file.raw.join(file.newline) + file.newline;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace settings
