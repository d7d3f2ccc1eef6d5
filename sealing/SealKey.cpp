#include "SealKey.h"

#include "SealChain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sodium.h>

namespace sealing {

namespace {

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

} // namespace

SealKey generateKey() {
    SealKey key;
    if (!cryptoReady())
        return key;
    key.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    key.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(key.publicKey.data()),
                        reinterpret_cast<unsigned char*>(key.secretKey.data()));
    return key;
}

std::optional<SealKey> loadOrCreateKey(const QString& path, QString* error) {
    if (!cryptoReady()) {
        setError(error, QStringLiteral("libsodium could not be initialised"));
        return std::nullopt;
    }
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        const QByteArray secret = file.read(crypto_sign_SECRETKEYBYTES + 1);
        if (secret.size() != crypto_sign_SECRETKEYBYTES) {
            setError(error, QStringLiteral("%1 is not a key").arg(path));
            return std::nullopt;
        }
        return SealKey{secret.mid(crypto_sign_SECRETKEYBYTES - crypto_sign_PUBLICKEYBYTES), secret};
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        setError(error, QStringLiteral("cannot make %1").arg(folder));
        return std::nullopt;
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const SealKey key = generateKey();
    // Written whole or not at all: a half-written key would sign nothing.
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly) ||
        !save.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        save.write(key.secretKey) != key.secretKey.size() || !save.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, save.errorString()));
        return std::nullopt;
    }
    return key;
}

QString userKeyPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/tkcontrol/seal.key");
}

QString workFolderKeyPath() {
    return QDir::current().filePath(QStringLiteral(".tkrecord/seal.key"));
}

QString fingerprint(const QByteArray& publicKey) {
    if (!cryptoReady())
        return {};
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(publicKey.constData()),
                       quint64(publicKey.size()));
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex().left(16));
}

} // namespace sealing
