#include "Profile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <optional>

#include "ConfFile.h"

namespace settings {

namespace {

// The file's lines as they are on the disk and as text. A write changes only
// the lines of its keys: every other line goes back byte for byte, with its
// own line ending, even where it is not valid in the system's encoding.
struct Lines {
    QList<QByteArray> raw;
    QList<QByteArray> ending; // "\r\n", "\n", or empty for a last line without one
    QStringList text;
    QByteArray newline; // for lines added: the file's first line ending

    void set(qsizetype i, const QString& line) {
        raw[i] = encoded(line);
        text[i] = line;
    }
    void insert(qsizetype i, const QString& line) {
        QByteArray end = newline;
        // A line added after a last line without a line ending ends the
        // file in its place, and in the same way.
        if (i == raw.size() && i > 0 && ending[i - 1].isEmpty()) {
            // A CR at its end would join an LF into a CR LF: the line would
            // lose its CR. It gets a CR LF of its own.
            ending[i - 1] = raw[i - 1].endsWith('\r') ? QByteArrayLiteral("\r\n") : newline;
            end.clear();
        }
        raw.insert(i, encoded(line));
        ending.insert(i, end);
        text.insert(i, line);
    }
    QByteArray bytes() const {
        QByteArray all;
        for (qsizetype i = 0; i < raw.size(); ++i)
            all += raw[i] + ending[i];
        return all;
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

Lines splitLines(const QByteArray& bytes) {
    Lines result;
    qsizetype from = 0;
    while (from < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', from);
        if (lf < 0) {
            result.raw << bytes.mid(from);
            result.ending << QByteArray();
            break;
        }
        const bool cr = lf > from && bytes[lf - 1] == '\r';
        result.raw << bytes.mid(from, lf - from - (cr ? 1 : 0));
        result.ending << (cr ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n"));
        from = lf + 1;
    }
    result.newline = nativeNewline();
    for (const QByteArray& end : std::as_const(result.ending)) {
        if (!end.isEmpty()) {
            result.newline = end;
            break;
        }
    }
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

void setKey(Lines& file, const QString& section, const QString& key, const QString& value) {
    const QString newLine = key + QLatin1Char('=') + value;
    auto [first, end] = sectionBody(file.text, section);
    if (first < 0) {
        file.insert(file.text.size(), QLatin1Char('[') + section + QLatin1Char(']'));
        file.insert(file.text.size(), newLine);
        return;
    }
    qsizetype lastEntry = first - 1;
    for (qsizetype i = first; i < end; ++i) {
        const auto entry = entryOf(file.text[i]);
        if (!entry)
            continue;
        lastEntry = i;
        if (sameName(entry->key, key)) {
            file.set(i, newLine);
            return;
        }
    }
    file.insert(lastEntry + 1, newLine);
}

// The reason names the file once: Qt's own words sometimes name it already.
ProfileWrite failed(const QString& path, const QString& why) {
    const QString file = QDir::toNativeSeparators(path);
    return {false, why.contains(file) ? why : file + QStringLiteral(": ") + why, {}};
}

} // namespace

ProfileText::ProfileText(const QByteArray& bytes) : m_lines(splitLines(bytes).text) {}

QString ProfileText::value(const QString& section, const QString& key,
                           const QString& defaultText) const {
    for (const auto& [name, value] : entries(section)) {
        if (sameName(name, key))
            return value;
    }
    return defaultText.left(profileValueMax);
}

QList<std::pair<QString, QString>> ProfileText::entries(const QString& section) const {
    QList<std::pair<QString, QString>> found;
    const auto [first, end] = sectionBody(m_lines, section);
    for (qsizetype i = first; first >= 0 && i < end; ++i) {
        if (const auto entry = entryOf(m_lines[i]))
            found.emplace_back(entry->key, entry->value.left(profileValueMax));
    }
    return found;
}

int ProfileText::lineOf(const QString& section, const QString& key) const {
    const auto [first, end] = sectionBody(m_lines, section);
    for (qsizetype i = first; first >= 0 && i < end; ++i) {
        const auto entry = entryOf(m_lines[i]);
        if (entry && sameName(entry->key, key))
            return int(i) + 1;
    }
    return 0;
}

QString getProfileString(const QString& section, const QString& key, const QString& defaultText,
                         const QString& path) {
    const ConfFileRead read = readConfFile(path);
    return ProfileText(read.status == ConfFileRead::Status::Read ? read.bytes : QByteArray())
        .value(section, key, defaultText);
}

QList<std::pair<int, QString>> ProfileText::sectionLines(const QString& section) const {
    QList<std::pair<int, QString>> found;
    const auto [first, end] = sectionBody(m_lines, section);
    for (qsizetype i = first; first >= 0 && i < end; ++i) {
        const QString line = m_lines[i].trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char(';')))
            found.emplace_back(int(i + 1), line);
    }
    return found;
}

QList<int> ProfileText::sectionHeaderLines(const QString& section) const {
    QList<int> found;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const auto name = sectionName(m_lines[i]);
        if (name && sameName(*name, section))
            found.append(int(i + 1));
    }
    return found;
}

bool ProfileText::hasSection(const QString& section) const {
    return sectionBody(m_lines, section).first >= 0;
}

ProfileWrite writeProfileStrings(const QString& section,
                                 const QList<std::pair<QString, QString>>& entries,
                                 const QString& path) {
    QList<ProfileEntry> all;
    for (const auto& [key, value] : entries)
        all.append({section, key, value});
    return writeProfileEntries(all, path);
}

ProfileWrite writeProfileEntries(const QList<ProfileEntry>& entries, const QString& path) {
    Lines file;
    file.newline = nativeNewline();
    const ConfFileRead read = readConfFile(path);
    if (read.status == ConfFileRead::Status::Unreadable)
        return {false, read.reason, {}}; // never replace a file we could not read
    if (read.status == ConfFileRead::Status::Read)
        file = splitLines(read.bytes);
    for (const ProfileEntry& entry : entries)
        setKey(file, entry.section, entry.key, entry.value);

    // Unbuffered, so that a short write (full disk, size limit) shows in the
    // count that write() returns: a buffered QSaveFile can commit a cut file.
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failed(path, out.errorString());
    const QByteArray bytes = file.bytes();
    if (out.write(bytes) != bytes.size()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return failed(path, why);
    }
    if (!out.commit())
        return failed(path, out.errorString());
    return {true, {}, bytes};
}

bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& path) {
    return writeProfileStrings(section, {{key, value}}, path).written;
}

} // namespace settings
