#pragma once

// The hashes over the lines of a sealed file, all bound to what is sealed (a
// recording or the audit trail), the file's name and the signer's public key,
// so that a seal cannot be moved to another file or re-signed by another key:
//  - the head: BLAKE2b-256 over the binding and every line in order, line
//    ends included; what the signature vouches for;
//  - the blocks: one BLAKE2b-256 per block of lines (the header lines, then
//    blockLines lines each), keyed from the binding and numbered, kept in a
//    side file and signed through the hash of their list. They let a
//    verifier say from which block on a file differs, and, being over many
//    lines each, give no record away.
// Both run at disk speed, which one signature per line would not.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sodium.h>

namespace sealing {

inline constexpr int headBytes = crypto_generichash_BYTES; // 32
inline constexpr int blockHashBytes = crypto_generichash_BYTES;
// Lines per block: a change is located to within 64 lines, and a block is
// far too many records to be guessed from its hash.
inline constexpr int blockLines = 64;

// Initialises libsodium once; false when it cannot be.
bool cryptoReady();

enum class Sealed { Recording, AuditTrail };

// What a file of that name holds: audit.log is a trail, the rest recordings.
Sealed sealedKindOf(const QString& fileName);
QByteArray sealedWord(Sealed kind); // "recording", "audit trail"

// Fields joined with their lengths (4 bytes each, little-endian), so that
// no choice of values can make two lists alike.
QByteArray joinedFields(const QList<QByteArray>& fields);

struct SealState {
    QString fileName; // without a folder
    QByteArray publicKey;
    int headerLines = 0;                  // lines that are not records (a recording's header)
    QByteArray blockKey;                  // from the binding
    crypto_generichash_state hashing{};   // the head so far
    crypto_generichash_state block{};     // the block under way
    crypto_generichash_state blockList{}; // the finished blocks' hashes
    QByteArray blocks;                    // those hashes, blockHashBytes each
    qint64 lines = 0;                     // whole lines
    qint64 bytes = 0;                     // in whole lines
    QByteArray partial;                   // a last line not ended yet: not covered

    qint64 records() const { return lines > headerLines ? lines - headerLines : 0; }
    qint64 blockCount() const { return blocks.size() / blockHashBytes; }
    QByteArray head() const;
    QByteArray blocksHash() const;
};

// The chain of an empty file.
SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines);

// Adds bytes written at the end of the file: every line they end is chained,
// the rest waits in partial.
void addBytes(SealState& state, QByteArrayView bytes);

// The number of lines in block index, and the line (from 0) it starts at.
qint64 blockSize(int headerLines, qint64 index);
qint64 blockStart(int headerLines, qint64 index);

// BLAKE2b-256 of a list of block hashes, as the signature covers them.
QByteArray hashOfBlocks(QByteArrayView blocks);

} // namespace sealing
