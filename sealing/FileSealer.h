#pragma once

// Keeps the seal beside each file it is told about up to date: before every
// append NAME.seal says what the file holds and what it will hold once the
// append lands, and after it what it holds, so a crash at any moment leaves
// a seal over every whole line written before the last append; the hash of
// each finished block of lines is appended to NAME.seal.blocks. The seal is
// made once with a rename and then rewritten in place through the sealer's
// own descriptor: a record costs no new file, and a seal put back or
// removed by someone else is told by its inode. What this sealer wrote
// itself is remembered, so a seal that could not be written (a full disk)
// is made good at the next append. Thread-safe: the writer's thread seals,
// the recorder's asks whether a file is still as sealed.

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "RecordWriter.h"
#include "SealChain.h"
#include "SealKey.h"

namespace sealing {

class RecorderState;

class FileSealer : public recording::FileCompanion {
public:
    // headerLines: the lines at the top of each file that are not records.
    // With a controller (on a bus, whose files lie in a sub-folder named
    // after it), each seal binds "CONTROLLER/NAME", not the name alone, so
    // that one controller's files do not verify in another's folder.
    FileSealer(SealKey key, int headerLines, QString controller = {});
    ~FileSealer() override;
    FileSealer(const FileSealer&) = delete;
    FileSealer& operator=(const FileSealer&) = delete;

    // The recorder's way: a file this sealer did not begin is never sealed
    // (not resumed from a seal found beside it), and each file's length and
    // hash go to state after every append.
    void keepStateIn(std::shared_ptr<RecorderState> state);
    // With keepStateIn: how path differs from what this sealer wrote and
    // sealed (removed, replaced, cut, grown, changed; its seal or block list
    // removed or replaced), in words, or empty. A path it never wrote is
    // taken as its own only when absent. Not while an append to path is
    // under way.
    QString changedSince(const QString& path) const;
    // Seals path no more: it is closed as it was found.
    void forget(const QString& path);

    // bytes are about to be appended to path, whose size is sizeBefore: the
    // seal covers the lines so far and, should they land, these. False when
    // the seal could not be written, or when the file holds lines that no
    // valid seal of this key covers (they stay unsealed, and so do the new).
    // With adoptUnsealed, such lines are chained as they are instead.
    bool prepare(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                 bool adoptUnsealed = false);
    // The append prepared for path is done: when written, the seal covers it
    // alone (the last line cannot be taken away unseen).
    bool commit(const QString& path, bool written);
    // Both, after the bytes were written.
    bool appended(const QString& path, qint64 sizeBefore, const QByteArray& bytes,
                  bool adoptUnsealed = false);

    // A record writer's companion: seals what it wrote, and makes the seal
    // of a finished file read-only as the file was.
    void aboutToWrite(const QString& fileName, qint64 sizeBefore, const QByteArray& bytes) override;
    void written(const QString& fileName, const recording::AppendOutcome& outcome) override;
    void finished(const QString& fileName) override;

    const SealKey& key() const { return m_key; }

private:
    struct Sealing {
        SealState state;
        QString name;             // the name a trail gives it (CONTROLLER/NAME on a bus)
        qint64 blocksOnDisk = -1; // hashes in the side file; -1: not known
        crypto_generichash_state bytesHash{}; // of every byte written, the last line's too
        int sealFd = -1;                      // the seal, rewritten in place
        quint64 sealInode = 0;
        qint64 sealSize = 0;
        quint64 fileInode = 0;  // the file after this sealer's last append
        qint64 fileChanged = 0; // its ctime then, in ns
        quint64 blocksInode = 0;
        bool foreign = false; // found not as written: sealed no more
    };
    bool resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed);
    // Says when sealing begins to fail and when it works again.
    void tell(const QString& fileName, bool sealed);
    // Writes the seal of sealing (and of pending), the side file first.
    bool writeSeal(const QString& path, Sealing& sealing, const SealState* pending);
    void drop(const QString& absolute);
    static void noteFile(const QString& absolute, Sealing& sealing);

    SealKey m_key;
    int m_headerLines;
    QString m_controller;
    bool m_failing = false;
    std::shared_ptr<RecorderState> m_state;
    mutable std::mutex m_mutex;
    std::map<QString, Sealing> m_files; // by absolute path
    // The same with the append under way, and its bytes.
    std::map<QString, std::pair<SealState, QByteArray>> m_pending;
};

// Why the last seal or block list could not be written.
QString lastSealProblem();

// Replaces path by bytes in one rename.
bool replaceFile(const QString& path, const QByteArray& bytes);

// Makes the side file at path hold the first `keep` hashes of blocks (whose
// first `onDisk` are there already; -1: not known, rewritten), appended
// and synced. False when it could not be.
bool writeBlockHashes(const QString& path, const QByteArray& blocks, qint64 keep, qint64 onDisk);

} // namespace sealing
