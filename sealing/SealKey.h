#pragma once

// The key pair that signs this installation's seals: Ed25519 from libsodium,
// one per installation and user, made at the first start and kept in a file
// only its owner can read.

#include <QByteArray>
#include <QString>

#include <optional>

namespace sealing {

struct SealKey {
    QByteArray publicKey; // 32 bytes
    QByteArray secretKey; // 64 bytes, the public key in its second half
};

// A fresh key pair, kept nowhere.
SealKey generateKey();

// The key pair kept at path, made there first when the file is absent (its
// folder made for the user alone, the file mode 0600). Empty, with the reason
// in error, when the file cannot be read, is not a key, or cannot be written.
std::optional<SealKey> loadOrCreateKey(const QString& path, QString* error = nullptr);

// tkcontrol's key file: under the user's data folder, ~/.local/share/tkcontrol/.
QString userKeyPath();
// tkrecord's key file: .tkrecord/ in the folder it works in.
QString workFolderKeyPath();

// The first 16 hex digits of the public key's SHA-256.
QString fingerprint(const QByteArray& publicKey);

} // namespace sealing
