#pragma once

// The seal beside a sealed file (NAME.seal): a few lines of text that say what
// the file held when it was last written, signed with Ed25519:
//
//   tkcontrol seal 2
//   seals recording                      (or "audit trail")
//   file REC_2026-12-08_21-33-01.csv     (percent-encoded)
//   signer tkrecord                      (the program whose key signs)
//   lines 4321
//   records 4320
//   bytes 151234
//   head <BLAKE2b of the binding and every line, hex>
//   blocks <count> <BLAKE2b of their list, hex>
//   pending <lines> <records> <bytes> <head> <blocks> <their hash>
//   key <the public key, hex>
//   signature <over the fields above, joined with their lengths, hex>
//
// The block hashes themselves are appended to NAME.seal.blocks as their
// blocks end, so the seal keeps one size however long the file: each record
// replaces a few hundred bytes and appends at most one hash.
//
// The pending line describes the file once an append under way has landed:
// written before the append and replaced after it, so a program killed in
// between leaves its last whole record covered. With none under way it
// repeats the cover, so that the text never gets shorter from one record to
// the next; "pending none" of older seals reads the same.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#include "SealChain.h"
#include "SealKey.h"

namespace sealing {

inline constexpr QLatin1String sealSuffix{".seal"};
inline constexpr QLatin1String blocksSuffix{".seal.blocks"};
// No seal of the current format is larger; a first-format seal holds four
// characters per line, so it may be up to this large.
inline constexpr qint64 sealSizeLimit = 4096;
inline constexpr qint64 firstFormatSizeLimit = 64LL << 20;
// No sealed file is larger (a petabyte); with it, no count a seal holds can
// overflow when multiplied by a block hash's size.
inline constexpr qint64 sealedBytesLimit = 1LL << 50;

// The seal's text for state (its whole lines), and for pending once an append
// lands, signed with key.
QByteArray sealText(const SealState& state, const SealKey& key, const SealState* pending = nullptr);

// A seal of the fields' values as they are written, seals to pending (the
// key's own is added), signed with key; whatever they hold, as a crafted
// seal would.
QByteArray signedSealText(QList<QByteArray> values, const SealKey& key);

// What a seal says, when its form is right and its signature is the key's.
struct Seal {
    Sealed sealed = Sealed::Recording;
    QString fileName;
    QString signer;
    struct Cover {
        qint64 lines = 0;
        qint64 records = 0;
        qint64 bytes = 0;
        QByteArray head;
        qint64 blocks = 0;
        QByteArray blocksHash;
    };
    Cover cover;
    std::optional<Cover> pending;
    QByteArray publicKey;
};

// Why a seal was not read, and whose key signed one whose signature holds.
struct SealReading {
    enum class Problem {
        None,
        Form,      // not a seal's lines
        Signature, // not signed by the key it names
        Cover,     // signed, but counts or hashes no file can have
    };
    Problem problem = Problem::None;
    QByteArray publicKey; // with Cover
};

// The signature is checked before the counts are: a seal whose counts are
// out of bounds is told apart from one nobody signed.
std::optional<Seal> readSeal(const QByteArray& text, SealReading* reading = nullptr);

} // namespace sealing
