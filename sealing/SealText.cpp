#include "SealText.h"

#include <QList>

#include <sodium.h>

namespace sealing {

namespace {

constexpr QByteArrayView firstLine = "tkcontrol seal 1";

std::optional<qint64> number(const QByteArray& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

} // namespace

QByteArray sealText(const SealState& state, const SealKey& key, const SealState* pending) {
    cryptoReady();
    QByteArray text;
    text.reserve(state.tagsText.size() + 600);
    text += firstLine.toByteArray() + '\n';
    text += "file " + state.fileName.toUtf8() + '\n';
    text += "records " + QByteArray::number(state.records()) + '\n';
    text += "bytes " + QByteArray::number(state.bytes) + '\n';
    text += "head " + state.head().toHex() + '\n';
    text += "key " + key.publicKey.toHex() + '\n';
    text += pending ? "pending " + QByteArray::number(pending->records()) + ' ' +
                          QByteArray::number(pending->bytes) + ' ' + pending->head().toHex() + '\n'
                    : QByteArray("pending none\n");
    text += "tags " + state.tagsHash().toHex() + '\n';
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(
        signature, nullptr, reinterpret_cast<const unsigned char*>(text.constData()),
        quint64(text.size()), reinterpret_cast<const unsigned char*>(key.secretKey.constData()));
    text += "signature " +
            QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toHex() + '\n';
    text += "lines " + state.tagsText + '\n';
    return text;
}

std::optional<Seal> readSeal(const QByteArray& text) {
    if (!cryptoReady() || !text.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> lines = text.split('\n');
    // Ten lines and the empty piece after the last line end.
    if (lines.size() != 11 || lines[0] != firstLine)
        return std::nullopt;
    const auto field = [&lines](int i, QByteArrayView name) -> std::optional<QByteArray> {
        if (!lines[i].startsWith(name.toByteArray() + ' '))
            return std::nullopt;
        return lines[i].mid(name.size() + 1);
    };
    const auto file = field(1, "file");
    const auto records = field(2, "records");
    const auto bytes = field(3, "bytes");
    const auto head = field(4, "head");
    const auto key = field(5, "key");
    const auto pending = field(6, "pending");
    const auto tagsHash = field(7, "tags");
    const auto signature = field(8, "signature");
    const auto tags = field(9, "lines");
    if (!file || !records || !bytes || !head || !key || !pending || !tagsHash || !signature ||
        !tags)
        return std::nullopt;
    Seal seal;
    seal.fileName = QString::fromUtf8(*file);
    const auto recordCount = number(*records);
    const auto byteCount = number(*bytes);
    seal.head = QByteArray::fromHex(*head);
    seal.publicKey = QByteArray::fromHex(*key);
    const QByteArray signatureBytes = QByteArray::fromHex(*signature);
    const auto decoded =
        QByteArray::fromBase64Encoding(*tags, QByteArray::AbortOnBase64DecodingErrors);
    if (!recordCount || !byteCount || seal.head.size() != headBytes ||
        seal.publicKey.size() != crypto_sign_PUBLICKEYBYTES ||
        signatureBytes.size() != crypto_sign_BYTES || !decoded ||
        decoded.decoded.size() % tagBytes != 0)
        return std::nullopt;
    seal.records = *recordCount;
    seal.bytes = *byteCount;
    seal.tags = decoded.decoded;
    if (*pending != "none") {
        const QList<QByteArray> parts = pending->split(' ');
        if (parts.size() != 3)
            return std::nullopt;
        const auto pendingRecords = number(parts[0]);
        const auto pendingBytes = number(parts[1]);
        Seal::Pending landed;
        landed.head = QByteArray::fromHex(parts[2]);
        if (!pendingRecords || !pendingBytes || landed.head.size() != headBytes)
            return std::nullopt;
        landed.records = *pendingRecords;
        landed.bytes = *pendingBytes;
        seal.pending = landed;
    }
    // What is signed: every line up to the tags' hash, which must be theirs.
    const qsizetype signedSize = text.indexOf("\nsignature ") + 1;
    if (QByteArray::fromHex(*tagsHash) != hashOfTags(seal.tags) ||
        crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char*>(signatureBytes.constData()),
            reinterpret_cast<const unsigned char*>(text.constData()), quint64(signedSize),
            reinterpret_cast<const unsigned char*>(seal.publicKey.constData())) != 0)
        return std::nullopt;
    return seal;
}

} // namespace sealing
