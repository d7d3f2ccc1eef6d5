#include "RecorderState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AuditTrail.h"
#include "RegularFile.h"
#include "SealChain.h"
#include "Verification.h"

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sealing {

namespace {

constexpr QByteArrayView firstLine = "tkrecord state 1";
// No state of a recorder is larger: a few lines per controller.
constexpr qint64 stateSizeLimit = 1 << 20;

std::optional<qint64> count(const QByteArray& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 && !text.startsWith('+') ? std::optional(value) : std::nullopt;
}

bool isHead(const QByteArray& hex) {
    return hex.size() == qsizetype(2) * headBytes && QByteArray::fromHex(hex).toHex() == hex;
}

QString shortHead(const QString& head) {
    return head.left(16);
}

// The folder as the recorder knows it, its working folder: with every
// symbolic link resolved, as the system gives a working folder, so that a
// folder named through a link finds the same state.
QString canonicalFolder(const QString& folder) {
    const QDir dir(folder);
    const QString canonical = dir.canonicalPath();
    return canonical.isEmpty() ? dir.absolutePath() : canonical;
}

} // namespace

QByteArray stateText(const RecorderStateData& state) {
    QByteArray text = firstLine.toByteArray() + '\n';
    text += "folder " + state.folder.toUtf8().toPercentEncoding("/") + '\n';
    text += "trail " + QByteArray::number(state.trailEntry) + ' ' +
            (state.trailHead.isEmpty() ? QByteArray("none") : state.trailHead.toLatin1()) + '\n';
    for (const auto& [name, recording] : state.open) {
        const QByteArray encoded = name.toUtf8().toPercentEncoding("/");
        text += "open " + QByteArray::number(recording.bytes) + ' ' + recording.hash.toLatin1() +
                ' ' + encoded + '\n';
        if (recording.landingBytes > 0)
            text += "landing " + QByteArray::number(recording.landingBytes) + ' ' +
                    recording.landingHash.toLatin1() + ' ' + encoded + '\n';
    }
    return text + "check " + trailHead(text).toLatin1() + '\n';
}

std::optional<RecorderStateData> readStateText(QByteArrayView text) {
    const qsizetype checkAt = text.lastIndexOf("check ");
    if (!text.startsWith(firstLine) || checkAt < 0 || !text.endsWith('\n') ||
        (checkAt > 0 && text[checkAt - 1] != '\n') ||
        text.sliced(checkAt + 6).chopped(1) != trailHead(text.first(checkAt)).toLatin1())
        return std::nullopt;
    RecorderStateData state;
    const QList<QByteArray> lines = text.first(checkAt).toByteArray().split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2 && parts[0] == "folder") {
            state.folder = QString::fromUtf8(QByteArray::fromPercentEncoding(parts[1]));
        } else if (parts.size() == 3 && parts[0] == "trail") {
            const std::optional<qint64> entry = count(parts[1]);
            if (!entry || (parts[2] != "none" && !isHead(parts[2])))
                return std::nullopt;
            state.trailEntry = *entry;
            state.trailHead = parts[2] == "none" ? QString() : QString::fromLatin1(parts[2]);
        } else if (parts.size() == 4 && parts[0] == "open") {
            const std::optional<qint64> bytes = count(parts[1]);
            if (!bytes || !isHead(parts[2]))
                return std::nullopt;
            state.open[QString::fromUtf8(QByteArray::fromPercentEncoding(parts[3]))] = {
                *bytes, QString::fromLatin1(parts[2]), 0, {}};
        } else if (parts.size() == 4 && parts[0] == "landing") {
            const std::optional<qint64> bytes = count(parts[1]);
            const auto open =
                state.open.find(QString::fromUtf8(QByteArray::fromPercentEncoding(parts[3])));
            if (!bytes || !isHead(parts[2]) || open == state.open.end())
                return std::nullopt;
            open->second.landingBytes = *bytes;
            open->second.landingHash = QString::fromLatin1(parts[2]);
        } else if (!line.isEmpty()) {
            return std::nullopt;
        }
    }
    return state;
}

QString stateFileIn(const QString& stateFolder, const QString& folder) {
    return QDir(stateFolder)
        .filePath(QStringLiteral("recorder-%1.state")
                      .arg(trailHead(canonicalFolder(folder).toUtf8()).left(16)));
}

QString statePathFor(const QString& keyPath, const QString& folder) {
    return stateFileIn(QFileInfo(keyPath).absolutePath(), folder);
}

QString recordingAgainstState(const RecorderStateData::Recording& written,
                              const std::optional<QByteArray>& found, qint64* matched) {
    // Killed between the record and the state: the record landed.
    if (found && written.landingBytes > 0 && found->size() >= written.landingBytes &&
        trailHead(QByteArrayView(*found).first(written.landingBytes)) == written.landingHash) {
        if (matched)
            *matched = written.landingBytes;
        return {};
    }
    if (matched)
        *matched = written.bytes;
    // Begun, and killed before its first byte landed.
    if (!found && written.bytes == 0)
        return {};
    QString wrote = QStringLiteral("the recorder had written %1 bytes, hash %2")
                        .arg(written.bytes)
                        .arg(shortHead(written.hash));
    if (written.landingBytes > 0 && written.landingBytes != written.bytes)
        wrote += QStringLiteral(", or %1 with the last record it began").arg(written.landingBytes);
    if (!found)
        return QStringLiteral("missing (%1)").arg(wrote);
    if (found->size() < written.bytes)
        return QStringLiteral("cut back to %1 bytes (%2)").arg(found->size()).arg(wrote);
    if (trailHead(QByteArrayView(*found).first(written.bytes)) != written.hash)
        return QStringLiteral("not as the recorder wrote it (%1)").arg(wrote);
    return {};
}

QStringList stateFindings(const RecorderStateData& state, const QList<TrailFile>& trails,
                          const std::map<QString, QByteArray>& recordings) {
    QStringList findings;
    if (state.trailEntry > 0 && !entryHeads(trails).contains({state.trailEntry, state.trailHead}))
        findings << QStringLiteral("%1: the recorder's last entry %2, head %3, is in no audit "
                                   "trail: rolled back or rewritten")
                        .arg(auditFileName)
                        .arg(state.trailEntry)
                        .arg(shortHead(state.trailHead));
    for (const auto& [name, written] : state.open) {
        const auto file = recordings.find(name);
        const QString found = recordingAgainstState(
            written, file == recordings.end() ? std::nullopt : std::optional(file->second));
        if (!found.isEmpty())
            findings << name + QStringLiteral(": ") + found;
    }
    return findings;
}

QStringList folderStateFindings(const QString& folder, const QString& statePath) {
    const RegularFile read = readRegularFile(statePath, stateSizeLimit);
    if (!read.ok())
        return {statePath + QStringLiteral(": cannot be read")};
    const std::optional<RecorderStateData> state = readStateText(read.bytes);
    if (!state)
        return {statePath + QStringLiteral(": not a whole recorder's state")};
    if (canonicalFolder(state->folder) != canonicalFolder(folder))
        return {statePath + QStringLiteral(": the state of another folder, ") + state->folder};
    // The state first, the files after: a recorder that writes meanwhile
    // only lengthens them past what the state says.
    const QDir dir(folder);
    std::map<QString, QByteArray> recordings;
    for (const QString& name : recordingsIn(folder))
        recordings[name] = readRegularFile(dir.filePath(name)).bytes;
    QStringList findings;
    for (const QString& finding : stateFindings(*state, folderTrails(folder), recordings))
        findings << dir.filePath(finding);
    return findings;
}

RecorderState::RecorderState(QString path, RecorderStateData start)
    : m_path(std::move(path)), m_data(std::move(start)) {
    const std::lock_guard lock(m_mutex);
    write();
}

RecorderState::~RecorderState() {
#ifndef Q_OS_WIN
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

void RecorderState::setTrail(qint64 entry, const QString& head) {
    const std::lock_guard lock(m_mutex);
    m_data.trailEntry = entry;
    m_data.trailHead = head;
    write();
}

void RecorderState::setLanding(const QString& name, qint64 bytes, const QString& hash,
                               qint64 landingBytes, const QString& landingHash) {
    const std::lock_guard lock(m_mutex);
    m_data.open[name] = {bytes, hash, landingBytes, landingHash};
    write();
}

void RecorderState::closeRecording(const QString& name) {
    const std::lock_guard lock(m_mutex);
    if (m_data.open.erase(name) > 0)
        write();
}

QString RecorderState::problem() const {
    const std::lock_guard lock(m_mutex);
    return m_problem;
}

#ifdef Q_OS_WIN

void RecorderState::write() {
    QFile file(m_path);
    const QByteArray text = stateText(m_data);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        m_problem = QStringLiteral("cannot write %1: %2").arg(m_path, file.errorString());
}

#else

void RecorderState::write() {
    if (m_fd < 0) {
        // Made anew at each start: the folder is the recorder's alone.
        const QByteArray name = QFile::encodeName(m_path);
        ::unlink(name.constData());
        m_fd = ::open(name.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0600);
        if (m_fd < 0) {
            m_problem = QStringLiteral("cannot write %1: %2").arg(m_path, qt_error_string(errno));
            return;
        }
    }
    const QByteArray text = stateText(m_data);
    bool ok = false;
    if (text.size() < m_size) {
        // Cut in place, a kill between the write and the cut would leave the
        // new text with the old one's tail: a shorter state replaces the file.
        const QByteArray name = QFile::encodeName(m_path);
        const QByteArray temporary = name + ".new";
        ::unlink(temporary.constData());
        const int fd =
            ::open(temporary.constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0600);
        ok = fd >= 0 && ::write(fd, text.constData(), std::size_t(text.size())) == text.size() &&
             std::rename(temporary.constData(), name.constData()) == 0;
        if (ok) {
            ::close(m_fd);
            m_fd = fd;
        } else if (fd >= 0) {
            ::close(fd);
            ::unlink(temporary.constData());
        }
    } else {
        ok = ::pwrite(m_fd, text.constData(), std::size_t(text.size()), 0) == text.size();
    }
    if (ok)
        m_size = text.size();
    m_problem =
        ok ? QString() : QStringLiteral("cannot write %1: %2").arg(m_path, qt_error_string(errno));
}

#endif

std::optional<RecorderStateData> loadRecorderState(const QString& path, QString* problem) {
    const RegularFile read = readRegularFile(path, stateSizeLimit);
    if (read.problem == RegularFile::Problem::Absent)
        return std::nullopt;
    std::optional<RecorderStateData> state = read.ok() ? readStateText(read.bytes) : std::nullopt;
    if (!state && problem)
        *problem = read.ok() ? QStringLiteral("not a whole recorder's state")
                             : QStringLiteral("cannot be read");
    return state;
}

} // namespace sealing
