#include "FirstFormat.h"

#include <QList>

#include <sodium.h>

#include <array>
#include <cstring>
#include <optional>

#include "SealChain.h"
#include "SealKey.h"

namespace sealing {

namespace {

// Three bytes of a SipHash link per line, keyed from the file's name and key.
constexpr int tagBytes = 3;

const unsigned char* bytesOf(const char* data) {
    return reinterpret_cast<const unsigned char*>(data);
}

struct FirstSeal {
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

struct Chain {
    crypto_generichash_state hashing{};
    std::array<unsigned char, crypto_shorthash_KEYBYTES> linkKey{};
    quint64 link = 0;
};

QByteArray finalOf(const crypto_generichash_state& state) {
    crypto_generichash_state copy = state;
    QByteArray out(headBytes, Qt::Uninitialized);
    crypto_generichash_final(&copy, reinterpret_cast<unsigned char*>(out.data()), headBytes);
    return out;
}

std::optional<qint64> number(const QByteArray& text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 ? std::optional(value) : std::nullopt;
}

Chain chainStart(const QString& fileName, const QByteArray& publicKey) {
    Chain chain;
    const QByteArray binding =
        QByteArrayLiteral("tkcontrol seal 1\nfile ") + fileName.toUtf8() + '\n' + publicKey;
    crypto_generichash_init(&chain.hashing, nullptr, 0, headBytes);
    crypto_generichash_update(&chain.hashing, bytesOf(binding.constData()),
                              quint64(binding.size()));
    unsigned char bound[crypto_generichash_BYTES];
    crypto_generichash(bound, sizeof bound, bytesOf(binding.constData()), quint64(binding.size()),
                       nullptr, 0);
    std::memcpy(chain.linkKey.data(), bound, chain.linkKey.size());
    std::memcpy(&chain.link, bound + chain.linkKey.size(), sizeof chain.link);
    return chain;
}

quint64 nextLink(const Chain& chain, quint64 link, QByteArrayView line) {
    unsigned char buffer[256];
    unsigned char out[crypto_shorthash_BYTES];
    std::memcpy(buffer, &link, sizeof link);
    if (line.size() <= qsizetype(sizeof buffer - sizeof link)) {
        std::memcpy(buffer + sizeof link, line.data(), std::size_t(line.size()));
        crypto_shorthash(out, buffer, sizeof link + quint64(line.size()), chain.linkKey.data());
    } else {
        crypto_shorthash(buffer + sizeof link, bytesOf(line.data()), quint64(line.size()),
                         chain.linkKey.data());
        crypto_shorthash(out, buffer, sizeof link + crypto_shorthash_BYTES, chain.linkKey.data());
    }
    quint64 next = 0;
    std::memcpy(&next, out, sizeof next);
    return next;
}

bool tagMatches(quint64 link, const QByteArray& tags, qint64 line) {
    for (int i = 0; i < tagBytes; ++i) {
        if (static_cast<unsigned char>(tags[line * tagBytes + i]) !=
            static_cast<unsigned char>(link >> (8 * i)))
            return false;
    }
    return true;
}

QByteArray hashOf(const QByteArray& bytes) {
    QByteArray out(headBytes, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), headBytes,
                       bytesOf(bytes.constData()), quint64(bytes.size()), nullptr, 0);
    return out;
}

std::optional<FirstSeal> readFirstSeal(const QByteArray& text) {
    if (!cryptoReady() || !text.endsWith('\n'))
        return std::nullopt;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 11 || lines[0] != firstFormatLine)
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
    FirstSeal seal;
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
        FirstSeal::Pending landed;
        landed.head = QByteArray::fromHex(parts[2]);
        if (!pendingRecords || !pendingBytes || landed.head.size() != headBytes)
            return std::nullopt;
        landed.records = *pendingRecords;
        landed.bytes = *pendingBytes;
        seal.pending = landed;
    }
    const qsizetype signedSize = text.indexOf("\nsignature ") + 1;
    if (QByteArray::fromHex(*tagsHash) != hashOf(seal.tags) ||
        crypto_sign_verify_detached(bytesOf(signatureBytes.constData()), bytesOf(text.constData()),
                                    quint64(signedSize), bytesOf(seal.publicKey.constData())) != 0)
        return std::nullopt;
    return seal;
}

Verdict verdictOf(Verdict::Kind kind, qint64 line = 0, qint64 count = 0) {
    Verdict verdict;
    verdict.kind = kind;
    verdict.line = line;
    verdict.count = count;
    verdict.format = 1;
    return verdict;
}

} // namespace

Verdict verifyFirstFormat(QByteArrayView fileBytes, const QByteArray& sealText,
                          QByteArray* publicKey) {
    const std::optional<FirstSeal> seal = readFirstSeal(sealText);
    if (!seal)
        return verdictOf(Verdict::Kind::SignatureInvalid);
    *publicKey = seal->publicKey;
    const QString keyPrint = fingerprint(seal->publicKey);
    const auto named = [&keyPrint](Verdict verdict) {
        verdict.fingerprint = keyPrint;
        return verdict;
    };
    const qint64 sealedLines = seal->tags.size() / tagBytes;
    const Chain start = chainStart(seal->fileName, seal->publicKey);
    quint64 link = start.link;
    qint64 sealedBytes = sealedLines == 0 ? 0 : -1;
    qint64 wholeLines = 0;
    qsizetype from = 0;
    const qsizetype size = fileBytes.size();
    const char* data = fileBytes.data();
    while (from < size) {
        const auto* end =
            static_cast<const char*>(std::memchr(data + from, '\n', std::size_t(size - from)));
        if (!end)
            break;
        const qsizetype next = end - data + 1;
        ++wholeLines;
        if (wholeLines <= sealedLines) {
            link = nextLink(start, link, fileBytes.sliced(from, next - from));
            if (!tagMatches(link, seal->tags, wholeLines - 1))
                return named(verdictOf(Verdict::Kind::Altered, wholeLines));
            if (wholeLines == sealedLines)
                sealedBytes = next;
        }
        from = next;
    }
    const bool unfinished = from < size;
    if (wholeLines < sealedLines)
        return named(verdictOf(Verdict::Kind::Truncated, wholeLines));
    crypto_generichash_state sealed = start.hashing;
    crypto_generichash_update(&sealed, bytesOf(data), quint64(sealedBytes));
    if (sealedBytes != seal->bytes || finalOf(sealed) != seal->head)
        return named(verdictOf(Verdict::Kind::Altered, sealedLines));
    if (seal->pending && !unfinished && wholeLines > sealedLines && size == seal->pending->bytes) {
        crypto_generichash_update(&sealed, bytesOf(data + sealedBytes),
                                  quint64(size - sealedBytes));
        if (finalOf(sealed) == seal->pending->head)
            return named(verdictOf(Verdict::Kind::Intact, wholeLines, seal->pending->records));
    }
    if (wholeLines > sealedLines)
        return named(verdictOf(Verdict::Kind::Added, sealedLines,
                               wholeLines - sealedLines + (unfinished ? 1 : 0)));
    if (unfinished)
        return named(verdictOf(Verdict::Kind::HalfLine, sealedLines));
    return named(verdictOf(Verdict::Kind::Intact, sealedLines, seal->records));
}

} // namespace sealing
