#pragma once

// The key pair that signs this installation's seals: Ed25519 from libsodium,
// one per installation and user, made at the first start and kept in a file
// only its owner can read. The secret half lives in locked memory that is
// wiped when the last copy of the key goes.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace sealing {

// Bytes libsodium keeps out of swap and wipes when freed; copies share them.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(qsizetype size);

    const char* constData() const { return reinterpret_cast<const char*>(m_bytes.get()); }
    unsigned char* data() { return m_bytes.get(); }
    qsizetype size() const { return m_bytes ? m_size : 0; }

private:
    std::shared_ptr<unsigned char> m_bytes;
    qsizetype m_size = 0;
};

struct SealKey {
    QByteArray publicKey;                         // 32 bytes
    SecretBytes secretKey;                        // 64 bytes, the public key in its second half
    QString signer = QStringLiteral("tkcontrol"); // the program whose key it is
};

// A fresh key pair, kept nowhere.
SealKey generateKey();

// The key pair kept at path, made there first when the file is absent (its
// folder, when made here, for the user alone; the file mode 0600); *made
// tells whether it was. Empty, with the reason in error, when the file cannot
// be read, is not a key pair, is not the running user's, others may read or
// write it, or its folder is one others may write.
std::optional<SealKey> loadOrCreateKey(const QString& path, QString* error = nullptr,
                                       bool* made = nullptr);

// tkcontrol's key file: under the user's data folder, ~/.local/share/tkcontrol/.
QString userKeyPath();
// tkrecord's key file when none is named: TKRECORD_KEY, else under the
// user's data folder (~/.local/share/tkrecord/seal.key), never in the folder
// of the recordings, whose backups would carry it.
QString recorderKeyPath();

// The first 16 hex digits of the public key's SHA-256.
QString fingerprint(const QByteArray& publicKey);

} // namespace sealing
