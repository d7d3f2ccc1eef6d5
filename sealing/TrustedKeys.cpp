#include "TrustedKeys.h"

#include <QFile>
#include <QRegularExpression>

#include <sodium.h>

#include "SealKey.h"

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sealing {

namespace {

// The longest trusted-keys file read: some thousands of keys.
constexpr qint64 fileSizeLimit = 1 << 20;

// "HEX LABEL": the key and its label, when the line is one.
std::optional<std::pair<QByteArray, QString>> keyLine(const QString& line) {
    static const QRegularExpression pattern(QStringLiteral("^\\s*([0-9a-fA-F]{64})(?:\\s+(.*))?$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    return std::pair(QByteArray::fromHex(match.captured(1).toLatin1()),
                     match.captured(2).trimmed());
}

// Why the file at path may not be trusted, or nothing.
QString ownershipProblem(const QString& path) {
#ifndef Q_OS_WIN
    struct ::stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    if (status.st_uid != 0 && status.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to user id %2, neither root nor you: not used")
            .arg(path)
            .arg(status.st_uid);
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("%1 may be written by others than its owner (mode %2): not used")
            .arg(path)
            .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
#else
    Q_UNUSED(path)
#endif
    return {};
}

} // namespace

QString TrustedKeys::systemPath() {
    const QString named = qEnvironmentVariable("TKCONTROL_TRUSTED_KEYS");
    return named.isEmpty() ? QStringLiteral("/etc/tkcontrol/trusted-keys") : named;
}

TrustedKeys TrustedKeys::fromFile(const QString& path, QString* problem) {
    TrustedKeys keys;
    QFile file(path);
    if (!file.exists())
        return keys;
    QString refusal = ownershipProblem(path);
    if (refusal.isEmpty() && !file.open(QIODevice::ReadOnly))
        refusal = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    if (refusal.isEmpty() && file.size() > fileSizeLimit)
        refusal = QStringLiteral("%1 is too large for a list of keys: not used").arg(path);
    if (!refusal.isEmpty()) {
        if (problem)
            *problem = refusal;
        return keys;
    }
    QStringList bad;
    int number = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (const auto key = keyLine(line))
            keys.m_keys.push_back(*key);
        else
            bad << QString::number(number);
    }
    if (!bad.isEmpty() && problem)
        *problem = QStringLiteral("%1: line %2 not a key").arg(path, bad.join(QLatin1String(", ")));
    return keys;
}

const TrustedKeys& TrustedKeys::system() {
    static const TrustedKeys keys = fromFile(systemPath(), nullptr);
    return keys;
}

bool TrustedKeys::add(const QString& keyOrFile, const QString& label, QString* problem) {
    static const QRegularExpression print(QStringLiteral("^[0-9a-fA-F]{16}$"));
    if (print.match(keyOrFile).hasMatch()) {
        m_fingerprints.emplace_back(keyOrFile.toLower(), label);
        return true;
    }
    if (const auto key = keyLine(keyOrFile)) {
        m_keys.emplace_back(key->first, key->second.isEmpty() ? label : key->second);
        return true;
    }
    QFile file(keyOrFile);
    if (!file.open(QIODevice::ReadOnly)) {
        if (problem)
            *problem = QStringLiteral("%1 is neither a key, a fingerprint nor a readable file")
                           .arg(keyOrFile);
        return false;
    }
    const QByteArray bytes = file.read(fileSizeLimit);
    if (const auto key = keyLine(QString::fromUtf8(bytes).section(QLatin1Char('\n'), 0, 0))) {
        m_keys.emplace_back(key->first, key->second.isEmpty() ? label : key->second);
        return true;
    }
    // A seal.key: the public key is its second half. Its bytes are random, so
    // any of them may be a newline; a key line was tried first.
    if (bytes.size() == crypto_sign_SECRETKEYBYTES) {
        m_keys.emplace_back(bytes.mid(crypto_sign_SEEDBYTES), label);
        return true;
    }
    if (problem)
        *problem = QStringLiteral("%1 holds no key").arg(keyOrFile);
    return false;
}

std::optional<QString> TrustedKeys::labelOf(const QByteArray& publicKey) const {
    for (const auto& [key, label] : m_keys) {
        if (key == publicKey)
            return label;
    }
    const QString print = fingerprint(publicKey);
    for (const auto& [trusted, label] : m_fingerprints) {
        if (trusted == print)
            return label;
    }
    return std::nullopt;
}

QString TrustedKeys::lineFor(const QByteArray& publicKey, const QString& label) {
    return QString::fromLatin1(publicKey.toHex()) + QLatin1Char(' ') + label;
}

} // namespace sealing
