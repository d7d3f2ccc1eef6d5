#pragma once

// The seal beside a sealed file (NAME.seal): a few lines of text that say what
// the file held when it was last written, signed with Ed25519:
//
//   tkcontrol seal 1
//   file REC_2026-12-08_21-33-01.csv
//   records 4320
//   bytes 151234
//   head <BLAKE2b of the binding and every line, hex>
//   key <the public key, hex>
//   pending <records> <bytes> <head> (or "pending none")
//   tags <BLAKE2b of the line tags, hex>
//   signature <over every byte above, hex>
//   lines <the tag of each line's link, base64>
//
// The pending line describes the file once an append under way has landed:
// written before the append and replaced after it, so a program killed in
// between leaves its last whole record covered. The tags come last and are
// signed through their hash, so a seal beside a day of one-second records is
// signed in microseconds.

#include <QByteArray>
#include <QString>

#include <optional>

#include "SealChain.h"
#include "SealKey.h"

namespace sealing {

inline constexpr QLatin1String sealSuffix{".seal"};

// The seal's text for state (its whole lines), and for pending once an append
// lands, signed with key.
QByteArray sealText(const SealState& state, const SealKey& key, const SealState* pending = nullptr);

// What a seal says, when its form is right and its signature is the key's.
struct Seal {
    QString fileName;
    qint64 records = 0;
    qint64 bytes = 0;
    QByteArray head;
    QByteArray publicKey;
    QByteArray tags;
    struct Pending {
        qint64 records = 0;
        qint64 bytes = 0;
        QByteArray head;
    };
    std::optional<Pending> pending;
};

std::optional<Seal> readSeal(const QByteArray& text);

} // namespace sealing
