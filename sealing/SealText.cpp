#include "SealText.h"

#include <QList>

#include <sodium.h>

namespace sealing {

namespace {

constexpr QByteArrayView firstLine = "tkcontrol seal 2";
// The names of the lines, in their order; the signature follows them.
const QList<QByteArray> fieldNames = {"seals", "file", "signer", "lines",   "records",
                                      "bytes", "head", "blocks", "pending", "key"};

std::optional<qint64> number(const QByteArray& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 && !text.startsWith('+') ? std::optional(value) : std::nullopt;
}

QByteArray coverText(const SealState& state) {
    return QByteArray::number(state.lines) + ' ' + QByteArray::number(state.records()) + ' ' +
           QByteArray::number(state.bytes) + ' ' + state.head().toHex() + ' ' +
           QByteArray::number(state.blockCount()) + ' ' + state.blocksHash().toHex();
}

std::optional<Seal::Cover> readCover(const QList<QByteArray>& parts) {
    if (parts.size() != 6)
        return std::nullopt;
    const auto lines = number(parts[0]);
    const auto records = number(parts[1]);
    const auto bytes = number(parts[2]);
    const auto blocks = number(parts[4]);
    Seal::Cover cover;
    cover.head = QByteArray::fromHex(parts[3]);
    cover.blocksHash = QByteArray::fromHex(parts[5]);
    // Every count is bounded by the next before any arithmetic is done with
    // it: a block holds at least one line and a line at least one byte.
    if (!lines || !records || !bytes || !blocks || cover.head.size() != headBytes ||
        cover.blocksHash.size() != headBytes || *bytes > sealedBytesLimit || *lines > *bytes ||
        *records > *lines || *blocks > *lines)
        return std::nullopt;
    cover.lines = *lines;
    cover.records = *records;
    cover.bytes = *bytes;
    cover.blocks = *blocks;
    return cover;
}

// What the signature covers: the first line and every field, with lengths.
QByteArray signedBytes(const QList<QByteArray>& values) {
    QList<QByteArray> fields{firstLine.toByteArray()};
    for (qsizetype i = 0; i < fieldNames.size(); ++i)
        fields << fieldNames[i] << values[i];
    return joinedFields(fields);
}

} // namespace

QByteArray sealText(const SealState& state, const SealKey& key, const SealState* pending) {
    return signedSealText(
        {
            sealedWord(sealedKindOf(state.fileName)),
            state.fileName.toUtf8().toPercentEncoding(),
            key.signer.toUtf8().toPercentEncoding(),
            QByteArray::number(state.lines),
            QByteArray::number(state.records()),
            QByteArray::number(state.bytes),
            state.head().toHex(),
            QByteArray::number(state.blockCount()) + ' ' + state.blocksHash().toHex(),
            // With no append under way, what the file holds once none lands:
            // the seal keeps its length from one record to the next, and is
            // written over in place rather than replaced.
            coverText(pending ? *pending : state),
        },
        key);
}

QByteArray signedSealText(QList<QByteArray> values, const SealKey& key) {
    cryptoReady();
    values.resize(fieldNames.size() - 1);
    values << key.publicKey.toHex();
    const QByteArray message = signedBytes(values);
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(
        signature, nullptr, reinterpret_cast<const unsigned char*>(message.constData()),
        quint64(message.size()), reinterpret_cast<const unsigned char*>(key.secretKey.constData()));
    QByteArray text = firstLine.toByteArray() + '\n';
    for (qsizetype i = 0; i < fieldNames.size(); ++i)
        text += fieldNames[i] + ' ' + values[i] + '\n';
    text += "signature " +
            QByteArray(reinterpret_cast<const char*>(signature), sizeof signature).toHex() + '\n';
    return text;
}

std::optional<Seal> readSeal(const QByteArray& text, SealReading* reading) {
    const auto refused = [reading](SealReading::Problem problem) -> std::optional<Seal> {
        if (reading)
            reading->problem = problem;
        return std::nullopt;
    };
    using Problem = SealReading::Problem;
    if (!cryptoReady() || !text.endsWith('\n') || text.size() > sealSizeLimit)
        return refused(Problem::Form);
    const QList<QByteArray> lines = text.split('\n');
    // The first line, the fields, the signature, and the empty piece after
    // the last line end.
    if (lines.size() != fieldNames.size() + 3 || lines[0] != firstLine)
        return refused(Problem::Form);
    QList<QByteArray> values;
    for (qsizetype i = 0; i < fieldNames.size(); ++i) {
        const QByteArray& line = lines[i + 1];
        if (!line.startsWith(fieldNames[i] + ' '))
            return refused(Problem::Form);
        values << line.mid(fieldNames[i].size() + 1);
    }
    const QByteArray& signatureLine = lines[fieldNames.size() + 1];
    if (!signatureLine.startsWith("signature "))
        return refused(Problem::Form);
    const QByteArray signature = QByteArray::fromHex(signatureLine.mid(10));

    Seal seal;
    if (values[0] != sealedWord(Sealed::Recording) && values[0] != sealedWord(Sealed::AuditTrail))
        return refused(Problem::Form);
    seal.sealed =
        values[0] == sealedWord(Sealed::AuditTrail) ? Sealed::AuditTrail : Sealed::Recording;
    seal.fileName = QString::fromUtf8(QByteArray::fromPercentEncoding(values[1]));
    seal.signer = QString::fromUtf8(QByteArray::fromPercentEncoding(values[2]));
    const QList<QByteArray> blocks = values[7].split(' ');
    seal.publicKey = QByteArray::fromHex(values[9]);
    if (blocks.size() != 2 || seal.publicKey.size() != crypto_sign_PUBLICKEYBYTES ||
        signature.size() != crypto_sign_BYTES)
        return refused(Problem::Form);
    // The signature covers the fields as text: nothing is counted yet.
    const QByteArray message = signedBytes(values);
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char*>(signature.constData()),
            reinterpret_cast<const unsigned char*>(message.constData()), quint64(message.size()),
            reinterpret_cast<const unsigned char*>(seal.publicKey.constData())) != 0)
        return refused(Problem::Signature);
    if (reading)
        reading->publicKey = seal.publicKey;
    const auto cover =
        readCover({values[3], values[4], values[5], values[6], blocks[0], blocks[1]});
    if (!cover)
        return refused(Problem::Cover);
    seal.cover = *cover;
    if (values[8] != "none") {
        seal.pending = readCover(values[8].split(' '));
        if (!seal.pending)
            return refused(Problem::Cover);
    }
    if (reading)
        reading->problem = Problem::None;
    return seal;
}

} // namespace sealing
