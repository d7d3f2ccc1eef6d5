#pragma once

// Appending one line to a recording file so that a record reported as written
// is on the disk, and a record that failed leaves no trace in the file.

#include <QByteArray>
#include <QString>

#include <functional>

namespace recording {

// What an append did: the file's size before it and the bytes it wrote (the
// header included), for the seal beside the file.
struct AppendOutcome {
    bool ok = false;
    qint64 sizeBefore = 0;
    QByteArray bytes;
};

// Opens fileName for appending (creating it when absent), writes text in the
// system's encoding in one unbuffered write, flushes it to the disk and closes
// the file. A file this call creates (or finds empty) starts with newFileHeader, unless text
// starts with it already. Anything but a regular file (a named pipe, a
// device) is refused without waiting on it. Returns false on any failure; the
// file then has the size it had before the call, so no line is ever cut.
bool appendToRecordFile(const QString& fileName, const QString& text,
                        const QString& newFileHeader = QString());
// Told the file's size and the exact bytes just before they are written (for
// a seal that must cover them should the program die right after).
using BeforeWrite = std::function<void(qint64 sizeBefore, const QByteArray& bytes)>;
AppendOutcome appendRecord(const QString& fileName, const QString& text,
                           const QString& newFileHeader = QString(),
                           const BeforeWrite& beforeWrite = {});

// Takes every write permission off a finished file; true when it has none
// left (or is gone).
bool makeReadOnly(const QString& fileName);
// Gives the owner write permission back.
bool makeWritable(const QString& fileName);

} // namespace recording
