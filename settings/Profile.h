#pragma once

// A small INI ("profile") file reader and writer with the behaviour the
// program relies on from the classic profile functions: section and key names
// compare without regard to case, blanks around a value are dropped, a missing
// file, section or key gives the default text, and a write replaces or adds
// one key while every other line of the file stays as it was.

#include <QString>

namespace settings {

// Longest value text a read delivers; a longer value is cut.
inline constexpr int profileValueMax = 254;

// The value stored under key in section of the file at path, or defaultText
// when the file, the section or the key is missing. Never fails.
QString getProfileString(const QString& section, const QString& key, const QString& defaultText,
                         const QString& path);

// Stores value under key in section, creating the file, the section or the key
// when absent. The file is replaced whole and atomically, so a failed write
// leaves the old file untouched. Returns false when the file could not be
// written.
bool writeProfileString(const QString& section, const QString& key, const QString& value,
                        const QString& path);

} // namespace settings
