#pragma once

// Keeps the seal beside each file it is told about up to date: after every
// append, NAME.seal is replaced in one rename by a seal that covers the new
// lines, so a crash at any moment leaves a seal over every whole line written
// before the last append; the hash of each finished block of lines is
// appended to NAME.seal.blocks. What this sealer wrote itself is remembered,
// so a seal that could not be written (a full disk) is made good at the next
// append. Not thread-safe: used from the one thread that writes the files.

#include <QByteArray>
#include <QString>

#include <map>

#include "RecordWriter.h"
#include "SealChain.h"
#include "SealKey.h"

namespace sealing {

class FileSealer : public recording::FileCompanion {
public:
    // headerLines: the lines at the top of each file that are not records.
    // With a controller (on a bus, whose files lie in a sub-folder named
    // after it), each seal binds "CONTROLLER/NAME", not the name alone, so
    // that one controller's files do not verify in another's folder.
    FileSealer(SealKey key, int headerLines, QString controller = {});

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
        qint64 blocksOnDisk = -1; // hashes in the side file; -1: not known
    };
    bool resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed);
    // Says when sealing begins to fail and when it works again.
    void tell(const QString& fileName, bool sealed);
    // Writes the seal of sealing (and of pending), the side file first.
    bool writeSeal(const QString& path, Sealing& sealing, const SealState* pending);

    SealKey m_key;
    int m_headerLines;
    QString m_controller;
    bool m_failing = false;
    std::map<QString, Sealing> m_files;     // by absolute path
    std::map<QString, SealState> m_pending; // the same with the append under way
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
