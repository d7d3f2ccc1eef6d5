// The settings file's profile functions on arbitrary file contents.
//
// Input: file contents, section, key and value, separated by NUL bytes and
// counted from the end, so the contents may hold NULs themselves; missing
// parts take the program's own section and key and a plain value. Names and
// value are read as UTF-8.
//
// Judged: reads and writes never fail on any contents; after a write the
// value reads back (where the file format can hold it); and the file's lines
// are the old ones, each byte for byte, with exactly the key's line replaced
// or added (and the section line, when the section was missing).

#include "FuzzTarget.h"
#include "Profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>

namespace {

QString textOf(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

// The lines of a file as the line ending of the old file cuts them: CR LF
// when the old file had one, otherwise LF; a final line ending starts no line.
QList<QByteArray> linesOf(QByteArray bytes, bool crlf) {
    QList<QByteArray> lines;
    // With CR LF, the old file's lone LFs end lines as well.
    if (crlf)
        bytes.replace("\r\n", "\n");
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype next = bytes.indexOf('\n', start);
        if (next < 0)
            next = bytes.size();
        lines << bytes.mid(start, next - start);
        start = next + 1;
    }
    return lines;
}

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// A write can only be read back when the names and the value survive the
// file format: no line breaks, no blanks at their ends (they are dropped on
// reading), a key that is neither a comment nor a section line and holds no
// "=", a section name without "]".
bool readsBack(const QString& section, const QString& key, const QString& value) {
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    if (section.trimmed() != section || section.contains(QLatin1Char(']')))
        return false;
    if (key.trimmed() != key || key.contains(QLatin1Char('=')) ||
        key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('[')))
        return false;
    return value.trimmed() == value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // Every write ends in a sync to the disk; in memory it costs nothing.
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/tk-fuzz-profile-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/tk-fuzz-profile-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("conf.ini"));

    QByteArray contents(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QByteArray> parts;
    for (int i = 0; i < 3; ++i) {
        const qsizetype nul = contents.lastIndexOf('\0');
        if (nul < 0)
            break;
        parts.prepend(contents.mid(nul + 1));
        contents.truncate(nul);
    }
    const QString section =
        !parts.isEmpty() ? textOf(parts[0]) : QStringLiteral("TK840 TK960 PC control");
    const QString key = parts.size() > 1 ? textOf(parts[1]) : QStringLiteral("ComPortNum");
    const QString value = parts.size() > 2 ? textOf(parts[2]) : QStringLiteral("3");

    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(contents) == contents.size());
    }

    const QString dflt = QStringLiteral("\x01missing");
    const QString before = settings::getProfileString(section, key, dflt, path);
    FUZZ_CHECK(before.size() <= settings::profileValueMax);

    FUZZ_CHECK(settings::writeProfileString(section, key, value, path));

    QByteArray written;
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        written = file.readAll();
    }

    const bool crlf = contents.contains("\r\n");
    const QList<QByteArray> oldLines = linesOf(contents, crlf);
    const QList<QByteArray> newLines = linesOf(written, crlf);
    const bool breaksInText = hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value);
    FUZZ_CHECK(written.endsWith(crlf ? "\r\n" : "\n"));
    if (crlf && !breaksInText) {
        // Every line break of the new file is the old file's CR LF.
        FUZZ_CHECK(written.count("\r\n") == newLines.size());
        FUZZ_CHECK(written.count('\n') == newLines.size());
    }

    // Lines kept at the top and at the bottom; what lies between changed.
    qsizetype top = 0;
    while (top < oldLines.size() && top < newLines.size() && oldLines[top] == newLines[top])
        ++top;
    qsizetype bottom = 0;
    while (bottom < oldLines.size() - top && bottom < newLines.size() - top &&
           oldLines[oldLines.size() - 1 - bottom] == newLines[newLines.size() - 1 - bottom])
        ++bottom;
    const qsizetype oldChanged = oldLines.size() - top - bottom;
    const qsizetype newChanged = newLines.size() - top - bottom;
    const QByteArray keyLine = (key + QLatin1Char('=') + value).toUtf8();
    const QByteArray sectionLine = (QLatin1Char('[') + section + QLatin1Char(']')).toUtf8();

    if (breaksInText) {
        // The written text spreads over lines of its own; the old lines
        // other than the key's must still all be there, in order.
        FUZZ_CHECK(oldChanged == 0 || (oldChanged == 1 && oldLines[top].contains('=')));
    } else if (oldChanged == 0 && newChanged == 0) {
        // The key's line was already exactly what the write makes of it.
        FUZZ_CHECK(oldLines.contains(keyLine));
    } else if (oldChanged == 0 && newChanged == 1) {
        FUZZ_CHECK(newLines[top] == keyLine);
    } else if (oldChanged == 0 && newChanged == 2) {
        FUZZ_CHECK(bottom == 0);
        FUZZ_CHECK(newLines[top] == sectionLine && newLines[top + 1] == keyLine);
    } else {
        FUZZ_CHECK(oldChanged == 1 && newChanged == 1);
        FUZZ_CHECK(newLines[top] == keyLine);
        FUZZ_CHECK(oldLines[top].contains('='));
    }

    if (readsBack(section, key, value)) {
        const QString after = settings::getProfileString(section, key, dflt, path);
        if (after != value.left(settings::profileValueMax)) {
            std::fprintf(stderr, "wrote \"%s\", read \"%s\"\n", qPrintable(value),
                         qPrintable(after));
            FUZZ_CHECK(after == value.left(settings::profileValueMax));
        }
    }
    return 0;
}
