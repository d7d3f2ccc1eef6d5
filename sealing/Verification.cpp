#include "Verification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cstring>

#include "SealChain.h"
#include "SealText.h"

namespace sealing {

namespace {

std::array<unsigned char, tagBytes> tagAt(const QByteArray& tags, qint64 line) {
    std::array<unsigned char, tagBytes> tag{};
    std::memcpy(tag.data(), tags.constData() + line * tagBytes, tagBytes);
    return tag;
}

Verdict verdictOf(Verdict::Kind kind, qint64 line = 0, qint64 count = 0) {
    Verdict verdict;
    verdict.kind = kind;
    verdict.line = line;
    verdict.count = count;
    return verdict;
}

} // namespace

Verdict verify(QByteArrayView fileBytes, const std::optional<QByteArray>& sealText) {
    if (!sealText)
        return verdictOf(Verdict::Kind::NoSeal);
    const std::optional<Seal> seal = readSeal(*sealText);
    if (!seal)
        return verdictOf(Verdict::Kind::SignatureInvalid);
    const QString keyPrint = fingerprint(seal->publicKey);
    const auto named = [&keyPrint](Verdict verdict) {
        verdict.fingerprint = keyPrint;
        return verdict;
    };
    const qint64 sealedLines = seal->tags.size() / tagBytes;

    const SealState start = chainStart(seal->fileName, seal->publicKey, 0);
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
            if (tagOf(link) != tagAt(seal->tags, wholeLines - 1))
                return named(verdictOf(Verdict::Kind::Altered, wholeLines));
            if (wholeLines == sealedLines)
                sealedBytes = next;
        }
        from = next;
    }
    const bool unfinished = from < size;
    if (wholeLines < sealedLines)
        return named(verdictOf(Verdict::Kind::Truncated, wholeLines));
    // Every tag matched; the head decides, also in the one case in 16 million
    // where a change slipped past the tags.
    SealState sealed = start;
    crypto_generichash_update(&sealed.hashing, reinterpret_cast<const unsigned char*>(data),
                              quint64(sealedBytes));
    if (sealedBytes != seal->bytes || sealed.head() != seal->head)
        return named(verdictOf(Verdict::Kind::Altered, sealedLines));
    // The append the seal says was under way, when it landed whole.
    if (seal->pending && !unfinished && wholeLines > sealedLines && size == seal->pending->bytes) {
        crypto_generichash_update(&sealed.hashing,
                                  reinterpret_cast<const unsigned char*>(data + sealedBytes),
                                  quint64(size - sealedBytes));
        if (sealed.head() == seal->pending->head)
            return named(verdictOf(Verdict::Kind::Intact, wholeLines, seal->pending->records));
    }
    if (wholeLines > sealedLines)
        return named(verdictOf(Verdict::Kind::Added, sealedLines,
                               wholeLines - sealedLines + (unfinished ? 1 : 0)));
    if (unfinished)
        return named(verdictOf(Verdict::Kind::HalfLine, sealedLines));
    return named(verdictOf(Verdict::Kind::Intact, sealedLines, seal->records));
}

Verdict verifyFile(const QString& path) {
    QFile seal(path + sealSuffix);
    if (!seal.open(QIODevice::ReadOnly))
        return verify({}, std::nullopt);
    const QByteArray sealText = seal.readAll();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return verify({}, sealText);
    // Mapped rather than read: a recording of a month is checked without
    // copying it.
    const qint64 size = file.size();
    if (size > 0) {
        if (const uchar* mapped = file.map(0, size))
            return verify(QByteArrayView(reinterpret_cast<const char*>(mapped), size), sealText);
    }
    return verify(file.readAll(), sealText);
}

Verdict verifyAgainstSeal(const QString& path, QByteArrayView fileBytes) {
    QFile seal(path + sealSuffix);
    return verify(fileBytes,
                  seal.open(QIODevice::ReadOnly) ? std::optional(seal.readAll()) : std::nullopt);
}

QStringList filesToVerify(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        const QDir folder(path);
        for (const QString& name :
             folder.entryList({QStringLiteral("REC_*.csv"), QStringLiteral("audit.log"),
                               QStringLiteral("audit-*.log")},
                              QDir::Files, QDir::Name))
            files << folder.filePath(name);
    }
    return files;
}

QString verdictText(const Verdict& verdict) {
    switch (verdict.kind) {
    case Verdict::Kind::Intact:
        return verdict.count == 1
                   ? QStringLiteral("sealed: 1 record intact, key %1").arg(verdict.fingerprint)
                   : QStringLiteral("sealed: %1 records intact, key %2")
                         .arg(verdict.count)
                         .arg(verdict.fingerprint);
    case Verdict::Kind::Altered:
        return QStringLiteral("altered at line %1").arg(verdict.line);
    case Verdict::Kind::Truncated:
        return QStringLiteral("truncated after line %1").arg(verdict.line);
    case Verdict::Kind::Added:
        return verdict.count == 1 ? QStringLiteral("1 line added after line %1").arg(verdict.line)
                                  : QStringLiteral("%1 lines added after line %2")
                                        .arg(verdict.count)
                                        .arg(verdict.line);
    case Verdict::Kind::HalfLine:
        return QStringLiteral("half a line at the end (the program stopped while writing)");
    case Verdict::Kind::NoSeal:
        return QStringLiteral("no seal");
    case Verdict::Kind::SignatureInvalid:
        return QStringLiteral("seal signature invalid");
    }
    return {};
}

} // namespace sealing
