#include "SealKey.h"

#include "SealChain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sodium.h>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sealing {

namespace {

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

// The public half must be the one the secret half makes: a file whose halves
// were swapped or pasted together would sign under a key it does not hold.
bool halvesMatch(const SealKey& key) {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    SecretBytes again(crypto_sign_SECRETKEYBYTES);
    crypto_sign_seed_keypair(publicKey, again.data(),
                             reinterpret_cast<const unsigned char*>(key.secretKey.constData()));
    return sodium_memcmp(publicKey, key.publicKey.constData(), sizeof publicKey) == 0 &&
           sodium_memcmp(again.constData(), key.secretKey.constData(),
                         crypto_sign_SECRETKEYBYTES) == 0;
}

#ifndef Q_OS_WIN

// "a folder others may write (mode 0777)" when the group or others may
// write folder; empty otherwise.
QString openFolderProblem(const QString& folder) {
    struct ::stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0 || (status.st_mode & 022) == 0)
        return {};
    return QStringLiteral("%1, a folder others may write (mode %2)")
        .arg(folder)
        .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

// Reads the key file at path straight into locked memory, refusing one that
// another user owns or that others may read or write, and a link.
std::optional<SealKey> readKeyFile(const QString& path, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    // Not waited on when a fifo stands in the key's place.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, qt_error_string(errno)));
        return std::nullopt;
    }
    struct ::stat status {};
    std::optional<SealKey> key;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        setError(error, QStringLiteral("%1 is not a key file").arg(path));
    } else if (status.st_uid != ::geteuid()) {
        setError(error, QStringLiteral("%1 belongs to user id %2, not to this user (%3): refused")
                            .arg(path)
                            .arg(status.st_uid)
                            .arg(::geteuid()));
    } else if ((status.st_mode & 077) != 0) {
        setError(error, QStringLiteral("%1 has mode %2, open to others; it must be 0600: refused")
                            .arg(path)
                            .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
    } else if (status.st_size != crypto_sign_SECRETKEYBYTES) {
        setError(error, QStringLiteral("%1 is not a key").arg(path));
    } else {
        SealKey read{QByteArray(), SecretBytes(crypto_sign_SECRETKEYBYTES)};
        if (::read(fd, read.secretKey.data(), crypto_sign_SECRETKEYBYTES) !=
            crypto_sign_SECRETKEYBYTES) {
            setError(error, QStringLiteral("cannot read %1").arg(path));
        } else {
            read.publicKey = QByteArray(read.secretKey.constData() + crypto_sign_SEEDBYTES,
                                        crypto_sign_PUBLICKEYBYTES);
            if (halvesMatch(read))
                key = std::move(read);
            else
                setError(error, QStringLiteral("%1: its two halves do not make one key pair: "
                                               "refused")
                                    .arg(path));
        }
    }
    ::close(fd);
    return key;
}

#else

QString openFolderProblem(const QString&) {
    return {};
}

std::optional<SealKey> readKeyFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    SealKey key{QByteArray(), SecretBytes(crypto_sign_SECRETKEYBYTES)};
    if (file.size() != crypto_sign_SECRETKEYBYTES ||
        file.read(reinterpret_cast<char*>(key.secretKey.data()), crypto_sign_SECRETKEYBYTES) !=
            crypto_sign_SECRETKEYBYTES) {
        setError(error, QStringLiteral("%1 is not a key").arg(path));
        return std::nullopt;
    }
    key.publicKey =
        QByteArray(key.secretKey.constData() + crypto_sign_SEEDBYTES, crypto_sign_PUBLICKEYBYTES);
    if (!halvesMatch(key)) {
        setError(error,
                 QStringLiteral("%1: its two halves do not make one key pair: refused").arg(path));
        return std::nullopt;
    }
    return key;
}

#endif

} // namespace

SecretBytes::SecretBytes(qsizetype size)
    : m_bytes(cryptoReady() ? static_cast<unsigned char*>(sodium_malloc(std::size_t(size)))
                            : nullptr,
              [](unsigned char* bytes) { sodium_free(bytes); }),
      m_size(size) {}

SealKey generateKey() {
    SealKey key;
    if (!cryptoReady())
        return key;
    key.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    key.secretKey = SecretBytes(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(key.publicKey.data()),
                        key.secretKey.data());
    return key;
}

std::optional<SealKey> loadOrCreateKey(const QString& path, QString* error, bool* made) {
    if (made)
        *made = false;
    if (!cryptoReady()) {
        setError(error, QStringLiteral("libsodium could not be initialised"));
        return std::nullopt;
    }
    const QString folder = QFileInfo(path).absolutePath();
    const bool folderThere = QFileInfo(folder).isDir();
    // Whoever may write the folder may put another key in the file's place.
    if (folderThere) {
        if (const QString open = openFolderProblem(folder); !open.isEmpty()) {
            setError(error, QStringLiteral("%1 is in %2: refused").arg(path, open));
            return std::nullopt;
        }
    }
    if (QFileInfo(path).isSymLink() || QFileInfo::exists(path))
        return readKeyFile(path, error);
    if (!QDir().mkpath(folder)) {
        setError(error, QStringLiteral("cannot make %1").arg(folder));
        return std::nullopt;
    }
    // Only a folder made here is closed to others: one that was there may be
    // shared, and is not this program's to lock.
    if (!folderThere)
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    const SealKey key = generateKey();
    // Written whole or not at all: a half-written key would sign nothing.
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        !save.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        save.write(key.secretKey.constData(), key.secretKey.size()) != key.secretKey.size() ||
        !save.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, save.errorString()));
        return std::nullopt;
    }
    if (made)
        *made = true;
    return key;
}

QString userKeyPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/tkcontrol/seal.key");
}

QString recorderKeyPath() {
    QString named = qEnvironmentVariable("TKRECORD_KEY");
    if (!named.isEmpty())
        return named;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/tkrecord/seal.key");
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
