// The settings file's profile functions on arbitrary file contents.
//
// Input: file contents, section, key and value, separated by NUL bytes and
// counted from the end, so the contents may hold NULs themselves; missing
// parts take the program's own section and key and a plain value. Names and
// value are read as UTF-8.
//
// Judged: reads and writes never fail on any contents; after a write the
// value reads back (where the file format can hold it); the file's lines are
// the old ones, each byte for byte and with its own line ending, with exactly
// the key's line replaced or added (and the section line, when the section
// was missing); a file without a final line ending keeps lacking one.

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

// The lines of a file, each with its own line ending (LF or CR LF; empty for
// a last line without one).
struct Lines {
    QList<QByteArray> text;
    QList<QByteArray> end;
};

Lines linesOf(const QByteArray& bytes) {
    Lines lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', start);
        if (lf < 0) {
            lines.text << bytes.mid(start);
            lines.end << QByteArray();
            break;
        }
        const bool cr = lf > start && bytes[lf - 1] == '\r';
        lines.text << bytes.mid(start, lf - start - (cr ? 1 : 0));
        lines.end << (cr ? QByteArray("\r\n") : QByteArray("\n"));
        start = lf + 1;
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

    const Lines oldFile = linesOf(contents);
    const Lines newFile = linesOf(written);
    const QList<QByteArray>& oldLines = oldFile.text;
    const QList<QByteArray>& newLines = newFile.text;
    const bool breaksInText = hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value);
    // A final line ending is there when the old file had one (a new file
    // gets one), unless the written text brought it.
    FUZZ_CHECK(breaksInText ||
               written.endsWith('\n') == (contents.isEmpty() || contents.endsWith('\n')));
    // No kind of line ending that the old file did not have (the system's own
    // for a file that had none), unless the written text brought it.
    // The old last line may take a CR LF: its own CR would make one anyway.
    const qsizetype oldLast = oldLines.size() - 1;
    for (qsizetype i = 0; !breaksInText && i < newFile.end.size(); ++i) {
        const QByteArray& end = newFile.end[i];
        FUZZ_CHECK(end.isEmpty() || oldFile.end.contains(end) ||
                   (i == oldLast && oldLines[oldLast].endsWith('\r')) ||
                   (!oldFile.end.contains("\n") && !oldFile.end.contains("\r\n") && end == "\n"));
    }

    // Lines kept at the top and at the bottom; what lies between changed.
    qsizetype top = 0;
    while (top < oldLines.size() && top < newLines.size() && oldLines[top] == newLines[top])
        ++top;
    qsizetype bottom = 0;
    while (bottom < oldLines.size() - top && bottom < newLines.size() - top &&
           oldLines[oldLines.size() - 1 - bottom] == newLines[newLines.size() - 1 - bottom])
        ++bottom;
    // Kept lines keep their own line ending; only a last line without one
    // takes one when a line is added after it.
    for (qsizetype i = 0; !breaksInText && i < top; ++i) {
        FUZZ_CHECK(newFile.end[i] == oldFile.end[i] ||
                   (i == oldLines.size() - 1 && oldFile.end[i].isEmpty()));
    }
    for (qsizetype j = 1; !breaksInText && j <= bottom; ++j)
        FUZZ_CHECK(newFile.end[newLines.size() - j] == oldFile.end[oldLines.size() - j]);
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
