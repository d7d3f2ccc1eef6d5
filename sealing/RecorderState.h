#pragma once

// What the recorder last wrote, kept in its key's folder, where only the
// recorder may write: the trail's last entry and its head, and each
// recording it has open with its length and the hash of its bytes. Whoever
// may write the recording folder can put back an older copy of a recording
// with its seal, or of the whole folder; the state says what the recorder
// wrote, so that the recorder at its next start and a verification find it.
//
//   tkrecord state 1
//   folder /var/lib/tkrecord/oven1       (percent-encoded)
//   trail 57 <head after entry 57, hex>
//   open 4321 <BLAKE2b of the file's 4321 bytes, hex> REC_….csv
//   landing 4358 <the same once the last record begun lands> REC_….csv
//   check <BLAKE2b of the lines above, hex>
//
// It is rewritten in place before every record, never renamed nor synced: a
// page the disk takes at its own pace, not one more file per record. Its
// lines keep their length from one record to the next, as a shorter text
// replaces the file (a rename) rather than be cut in place. The
// check line tells a state cut short by a power cut from one that holds.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>
#include <optional>

#include "TrailCheck.h"

namespace sealing {

struct RecorderStateData {
    struct Recording {
        qint64 bytes = 0;
        QString hash; // trailHead() of the file's bytes
        // The same once the last append begun lands (0: none begun).
        qint64 landingBytes = 0;
        QString landingHash;
    };
    QString folder;
    qint64 trailEntry = 0; // 0: no entry written yet
    QString trailHead;
    std::map<QString, Recording> open; // by the name the trail gives them
};

QByteArray stateText(const RecorderStateData& state);
// Empty when text is not a whole state (cut short, or not one).
std::optional<RecorderStateData> readStateText(QByteArrayView text);

// The state at path: none when there is none (problem left empty) or when
// it is not a whole one (problem says why).
std::optional<RecorderStateData> loadRecorderState(const QString& path, QString* problem = nullptr);

// The state of the recorder of folder whose key is at keyPath: beside the
// key, named after the folder, as several folders may share one key.
QString statePathFor(const QString& keyPath, const QString& folder);
// The same in the folder stateFolder.
QString stateFileIn(const QString& stateFolder, const QString& folder);

// What a folder's trails and recordings say against the recorder's state:
// the trail's last entry missing (rolled back or rewritten), a recording the
// recorder had open missing, cut back, changed or grown. Each finding names
// the file it is about.
QStringList stateFindings(const RecorderStateData& state, const QList<TrailFile>& trails,
                          const std::map<QString, QByteArray>& recordings);
// The same for the folder on the disk; the state read from statePath.
QStringList folderStateFindings(const QString& folder, const QString& statePath);

// How one recording the recorder had open compares with what it wrote:
// empty when it begins with exactly that (with or without the record that
// was landing), else the words of the finding; in matched, the bytes that
// are the recorder's.
QString recordingAgainstState(const RecorderStateData::Recording& written,
                              const std::optional<QByteArray>& found, qint64* matched = nullptr);

// The recorder's writer of the state: thread-safe, as each controller's
// records are written on a thread of their own.
class RecorderState {
public:
    // path: statePathFor(); start: what the state begins with.
    RecorderState(QString path, RecorderStateData start);
    ~RecorderState();
    RecorderState(const RecorderState&) = delete;
    RecorderState& operator=(const RecorderState&) = delete;

    void setTrail(qint64 entry, const QString& head);
    // Before an append: what the file holds (bytes, hash) and what it holds
    // once the append lands. Not written again once it has: the landing
    // line says it, and one write a record is all the state costs.
    void setLanding(const QString& name, qint64 bytes, const QString& hash, qint64 landingBytes,
                    const QString& landingHash);
    void closeRecording(const QString& name);
    // Why the state could not be written, or empty.
    QString problem() const;
    const QString& path() const { return m_path; }

private:
    void write();

    const QString m_path;
    mutable std::mutex m_mutex;
    RecorderStateData m_data;
    int m_fd = -1;
    qint64 m_size = 0;
    QString m_problem;
};

} // namespace sealing
