#pragma once

// Keeps the seal beside each file it is told about up to date: after every
// append, NAME.seal is replaced in one rename by a seal that covers the new
// lines, so a crash at any moment leaves a seal over every whole line written
// before the last append. Not thread-safe: used from the one thread that
// writes the files.

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
    FileSealer(SealKey key, int headerLines);

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
    bool resume(const QString& path, qint64 sizeBefore, bool adoptUnsealed);

    SealKey m_key;
    int m_headerLines;
    std::map<QString, SealState> m_files;   // by absolute path
    std::map<QString, SealState> m_pending; // the same with the append under way
};

// Replaces path by bytes in one rename.
bool replaceFile(const QString& path, const QByteArray& bytes);

} // namespace sealing
