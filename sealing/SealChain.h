#pragma once

// The hash chain over the lines of a sealed file. Each line (its line end
// included) is hashed with the link before it (BLAKE2b-256), so the last link
// stands for every byte in order; the first link binds the file's name and
// the signer's public key, so a chain cannot be moved to another file or
// re-signed by another key. A short tag of every link is kept so that a
// verifier can name the first line that differs.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace sealing {

// Bytes of each link kept per line: one chance in 16 million that an altered
// line is named one line late.
inline constexpr int tagBytes = 3;

// Initialises libsodium once; false when it cannot be.
bool cryptoReady();

struct SealState {
    QString fileName; // without a folder
    QByteArray publicKey;
    QByteArray head;     // the last link
    QByteArray tags;     // tagBytes per whole line
    qint64 bytes = 0;    // in whole lines
    QByteArray partial;  // a last line not ended yet: not covered
    int headerLines = 0; // lines that are not records (a recording's header)

    qint64 lines() const { return tags.size() / tagBytes; }
    qint64 records() const { return lines() > headerLines ? lines() - headerLines : 0; }
};

// The chain of an empty file.
SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines);

inline constexpr int linkBytes = 32;

// The link after head for one line (its line end included).
QByteArray nextLink(const QByteArray& head, QByteArrayView line);
// The same into out (which may be head), with no allocation: for verifying.
void nextLink(unsigned char* out, const unsigned char* head, QByteArrayView line);

// Adds bytes written at the end of the file: every line they end is chained,
// the rest waits in partial.
void addBytes(SealState& state, QByteArrayView bytes);

} // namespace sealing
