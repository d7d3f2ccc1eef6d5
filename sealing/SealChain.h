#pragma once

// The hash chain over the lines of a sealed file, in two strands that both
// start from a binding of the file's name and the signer's public key (so a
// seal cannot be moved to another file or re-signed by another key):
//  - the head: BLAKE2b-256 over the binding and every line in order, line
//    ends included; what the signature vouches for;
//  - the links: each line hashed with the link before it (SipHash-2-4, keyed
//    from the binding), of which a short tag per line is kept so that a
//    verifier can name the first line that differs. They only point; the
//    head decides.
// Both run at disk speed, which one cryptographic hash per line would not.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <sodium.h>

#include <array>

namespace sealing {

// Bytes of each link kept per line: one chance in 16 million that an altered
// line is named one line late.
inline constexpr int tagBytes = 3;
inline constexpr int headBytes = crypto_generichash_BYTES; // 32

// Initialises libsodium once; false when it cannot be.
bool cryptoReady();

struct SealState {
    QString fileName; // without a folder
    QByteArray publicKey;
    crypto_generichash_state hashing{}; // the head so far
    std::array<unsigned char, crypto_shorthash_KEYBYTES> linkKey{};
    quint64 link = 0;
    QByteArray tags;     // tagBytes per whole line
    QByteArray tagsText; // the same in base64, grown with them (3 bytes, 4 characters)
    crypto_generichash_state tagsHashing{}; // what the signature covers of them
    qint64 bytes = 0;                       // in whole lines
    QByteArray partial;                     // a last line not ended yet: not covered
    int headerLines = 0;                    // lines that are not records (a recording's header)

    qint64 lines() const { return tags.size() / tagBytes; }
    qint64 records() const { return lines() > headerLines ? lines() - headerLines : 0; }
    QByteArray head() const;
    QByteArray tagsHash() const;
};

// BLAKE2b-256 of tags, as a seal's signature covers them.
QByteArray hashOfTags(const QByteArray& tags);

// The chain of an empty file.
SealState chainStart(const QString& fileName, const QByteArray& publicKey, int headerLines);

// The link after link for one line (its line end included).
quint64 nextLink(const SealState& state, quint64 link, QByteArrayView line);
// A link's tag, as kept in the seal.
std::array<unsigned char, tagBytes> tagOf(quint64 link);

// Adds bytes written at the end of the file: every line they end is chained,
// the rest waits in partial.
void addBytes(SealState& state, QByteArrayView bytes);

} // namespace sealing
