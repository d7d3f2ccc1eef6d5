#pragma once

// The folder tkrecord works in: conf.ini is read there and the recordings
// are written there, by names without a directory, as the program does.

#include <QString>
#include <QtGlobal>

namespace tkrecord {

// Makes dir (or, when empty, the working directory) the working directory
// and, when writing, checks that a file can be created in it. Returns the
// message for the user on failure, an empty text on success.
QString enterWorkFolder(const QString& dir, bool writing = true);

// The working directory as entered, to find out later whether it is still
// there: a folder removed (or removed and made again) under a running
// recorder takes every record with it, the new one included, since the
// process still works in the removed one.
class WorkFolderWatch {
public:
    // The working directory, or its sub-folder of that name (a controller's
    // on a bus).
    explicit WorkFolderWatch(const QString& subFolder = QString());
    // Why the folder is no longer the one entered, or an empty text.
    QString lost() const;

private:
    QString m_subFolder;
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};

} // namespace tkrecord
