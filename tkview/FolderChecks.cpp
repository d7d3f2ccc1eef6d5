#include "FolderChecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AuditTrail.h"
#include "RecorderState.h"
#include "TrailCheck.h"

#ifndef Q_OS_WIN
#include <pwd.h>
#endif

namespace tkview {

namespace {

// The service account whose lines the journal vouches for.
QString trustedUid() {
#ifndef Q_OS_WIN
    if (const passwd* entry = ::getpwnam("tkrecord"))
        return QString::number(entry->pw_uid);
#endif
    return {};
}

} // namespace

QStringList folderChecks(const Options& options) {
    QStringList findings;
    QByteArray journal;
    if (!options.journal.isEmpty()) {
        QFile file(options.journal);
        if (!file.open(QIODevice::ReadOnly))
            return {options.journal + QStringLiteral(": cannot be read: ") + file.errorString()};
        journal = file.readAll();
    }
    const QString uid = trustedUid();
    bool folders = false;
    for (const QString& path : options.paths) {
        if (!QFileInfo(path).isDir())
            continue;
        folders = true;
        const QDir folder(path);
        for (const QString& finding : sealing::folderFindings(path))
            findings << folder.filePath(finding);
        if (!options.state.isEmpty())
            findings << sealing::folderStateFindings(
                path, QFileInfo(options.state).isDir() ? sealing::stateFileIn(options.state, path)
                                                       : options.state);
        if (options.journal.isEmpty())
            continue;
        const QStringList against =
            uid.isEmpty() ? QStringList{QStringLiteral("no tkrecord account to trust in the "
                                                       "journal")}
                          : sealing::journalFindings(journal, uid, sealing::folderTrails(path));
        for (const QString& finding : against)
            findings << options.journal + QStringLiteral(": ") + finding;
    }
    if (!options.journal.isEmpty() && !folders)
        findings << options.journal + QStringLiteral(": --journal needs a recording folder");
    if (!options.state.isEmpty() && !folders)
        findings << options.state + QStringLiteral(": --state needs a recording folder");
    return findings;
}

QString folderLimits(const Options& options) {
    if (!options.journal.isEmpty() || !options.state.isEmpty())
        return {};
    for (const QString& path : options.paths) {
        if (QFileInfo(path).isDir())
            return QStringLiteral(
                "not checked: without --journal or --state, a rollback of a whole folder "
                "(recordings, seals and trail put back together) is not "
                "excluded");
    }
    return {};
}

} // namespace tkview
