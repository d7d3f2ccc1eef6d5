#pragma once

// A small INI ("profile") file reader and writer with the behaviour the
// program relies on from the classic profile functions: section and key names
// compare without regard to case, blanks around a value are dropped, a missing
// file, section or key gives the default text, and a write replaces or adds
// one key while every other line of the file stays as it was.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace settings {

// Longest value text a read delivers; a longer value is cut.
inline constexpr int profileValueMax = 254;

// A settings file's text, read once for many lookups, with the rules of
// getProfileString.
class ProfileText {
public:
    explicit ProfileText(const QByteArray& bytes = {});
    QString value(const QString& section, const QString& key, const QString& defaultText) const;
    // The section's keys and values in file order.
    QList<std::pair<QString, QString>> entries(const QString& section) const;
    // The section's lines with their line numbers (from 1), blank lines and
    // comments left out, for a section whose every line must count; nothing
    // when the section is absent.
    QList<std::pair<int, QString>> sectionLines(const QString& section) const;
    bool hasSection(const QString& section) const;
    // The line numbers (from 1) of every header of the section, in order.
    QList<int> sectionHeaderLines(const QString& section) const;
    // The line number (from 1) of the key's value that value() gives, or 0.
    int lineOf(const QString& section, const QString& key) const;

private:
    QStringList m_lines;
};

// The value stored under key in section of the file at path, or defaultText
// when the file, the section or the key is missing, or the file cannot be
// read (see readConfFile). Never fails.
QString getProfileString(const QString& section, const QString& key, const QString& defaultText,
                         const QString& path);

// The outcome of a write: false with the system's reason when the file was not
// written.
struct ProfileWrite {
    bool written = false;
    QString reason;
    QByteArray bytes; // the file as written
    explicit operator bool() const { return written; }
};

// Stores each value under its key in section, creating the file, the section
// or a key when absent, in one replacement of the file: a failed write, or a
// program killed while writing, leaves the old file as it was. Where the
// folder takes no new file but the file itself is writable, the file is
// written in place instead, which a kill can leave cut. Lines not changed
// keep their bytes and their own line ending; a file whose last line has no
// line ending keeps it so.
ProfileWrite writeProfileStrings(const QString& section,
                                 const QList<std::pair<QString, QString>>& entries,
                                 const QString& path);

// Keys of several sections in one replacement of the file, as
// writeProfileStrings.
struct ProfileEntry {
    QString section;
    QString key;
    QString value;
};
ProfileWrite writeProfileEntries(const QList<ProfileEntry>& entries, const QString& path);

// One key, as writeProfileStrings.
bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& path);

} // namespace settings
