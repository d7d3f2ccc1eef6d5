#include "SealText.h"

#include <QList>

#include <sodium.h>

namespace sealing {

namespace {

constexpr QByteArrayView firstLine = "tkcontrol seal 1";
constexpr QByteArrayView signatureField = "signature ";

} // namespace

QByteArray sealText(const SealState& state, const SealKey& key, const SealState* pending) {
    cryptoReady();
    QByteArray text;
    text.reserve(state.tags.size() * 4 / 3 + 400);
    text += firstLine.toByteArray() + '\n';
    text += "file " + state.fileName.toUtf8() + '\n';
    text += "records " + QByteArray::number(state.records()) + '\n';
    text += "bytes " + QByteArray::number(state.bytes) + '\n';
    text += "head " + state.head.toHex() + '\n';
    text += "key " + key.publicKey.toHex() + '\n';
    text += "lines " + state.tags.toBase64() + '\n';
    text += pending ? "pending " + QByteArray::number(pending->records()) + ' ' +
                          QByteArray::number(pending->bytes) + ' ' + pending->head.toHex() + '\n'
                    : QByteArray("pending none\n");
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(
        signature, nullptr, reinterpret_cast<const unsigned char*>(text.constData()),
        quint64(text.size()), reinterpret_cast<const unsigned char*>(key.secretKey.constData()));
    text += signatureField.toByteArray() +
            QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toHex() + '\n';
    return text;
}

std::optional<Seal> readSeal(const QByteArray& text) {
    if (!cryptoReady())
        return std::nullopt;
    const qsizetype signatureAt = text.lastIndexOf("\n" + signatureField.toByteArray());
    if (signatureAt < 0 || !text.endsWith('\n'))
        return std::nullopt;
    const QByteArrayView signedPart = QByteArrayView(text).first(signatureAt + 1);
    const QByteArray signature =
        QByteArray::fromHex(text.mid(signatureAt + 1 + signatureField.size()).trimmed());
    const QList<QByteArray> lines = signedPart.toByteArray().split('\n');
    // The eight signed lines and the empty piece after the last line end.
    if (signature.size() != crypto_sign_BYTES || lines.size() != 9 || lines[0] != firstLine)
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
    const auto tags = field(6, "lines");
    const auto pending = field(7, "pending");
    if (!file || !records || !bytes || !head || !key || !tags || !pending)
        return std::nullopt;
    Seal seal;
    seal.fileName = QString::fromUtf8(*file);
    bool recordsOk = false;
    bool bytesOk = false;
    seal.records = records->toLongLong(&recordsOk);
    seal.bytes = bytes->toLongLong(&bytesOk);
    seal.head = QByteArray::fromHex(*head);
    seal.publicKey = QByteArray::fromHex(*key);
    const auto decoded =
        QByteArray::fromBase64Encoding(*tags, QByteArray::AbortOnBase64DecodingErrors);
    if (!recordsOk || !bytesOk || seal.head.size() != crypto_generichash_BYTES ||
        seal.publicKey.size() != crypto_sign_PUBLICKEYBYTES || !decoded ||
        decoded.decoded.size() % tagBytes != 0)
        return std::nullopt;
    seal.tags = decoded.decoded;
    if (*pending != "none") {
        const QList<QByteArray> parts = pending->split(' ');
        if (parts.size() != 3)
            return std::nullopt;
        Seal::Pending landed;
        bool pendingRecordsOk = false;
        bool pendingBytesOk = false;
        landed.records = parts[0].toLongLong(&pendingRecordsOk);
        landed.bytes = parts[1].toLongLong(&pendingBytesOk);
        landed.head = QByteArray::fromHex(parts[2]);
        if (!pendingRecordsOk || !pendingBytesOk || landed.head.size() != linkBytes)
            return std::nullopt;
        seal.pending = landed;
    }
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char*>(signature.constData()),
            reinterpret_cast<const unsigned char*>(signedPart.data()), quint64(signedPart.size()),
            reinterpret_cast<const unsigned char*>(seal.publicKey.constData())) != 0)
        return std::nullopt;
    return seal;
}

} // namespace sealing
