#include "Verification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "FirstFormat.h"
#include "SealChain.h"
#include "SealText.h"

namespace sealing {

namespace {

// Further altered blocks named in one verdict.
constexpr int alsoAlteredLimit = 10;

Verdict verdictOf(Verdict::Kind kind, qint64 line = 0, qint64 count = 0) {
    Verdict verdict;
    verdict.kind = kind;
    verdict.line = line;
    verdict.count = count;
    return verdict;
}

qint64 wholeLinesIn(QByteArrayView bytes) {
    return qint64(std::count(bytes.begin(), bytes.end(), '\n'));
}

QByteArray headOf(const SealState& start, QByteArrayView bytes) {
    SealState state = start;
    crypto_generichash_update(&state.hashing, reinterpret_cast<const unsigned char*>(bytes.data()),
                              quint64(bytes.size()));
    return state.head();
}

// Where a file whose sealed lines do not hash to the seal's head first
// differs: the first block whose hash is not the one beside the seal (when
// that list is the signed one), else the block after the last that matched.
Verdict located(QByteArrayView fileBytes, const Seal& seal, QByteArrayView blockHashes,
                const SealState& start) {
    const Seal::Cover& cover = seal.cover;
    const qint64 listed = cover.blocks * blockHashBytes;
    const bool listHolds =
        blockHashes.size() >= listed && hashOfBlocks(blockHashes.first(listed)) == cover.blocksHash;
    SealState read = start;
    addBytes(read, fileBytes);
    const qint64 comparable = listHolds ? std::min(cover.blocks, read.blockCount()) : 0;
    const auto differs = [&](qint64 index) {
        return std::memcmp(read.blocks.constData() + index * blockHashBytes,
                           blockHashes.data() + index * blockHashBytes, blockHashBytes) != 0;
    };
    qint64 first = 0;
    while (first < comparable && !differs(first))
        ++first;
    Verdict verdict = verdictOf(Verdict::Kind::Altered, blockStart(start.headerLines, first) + 1);
    // Later blocks are named only where lines kept their places.
    if (read.lines == cover.lines) {
        for (qint64 index = first + 1;
             index < comparable && verdict.alsoAltered.size() < alsoAlteredLimit; ++index) {
            if (differs(index))
                verdict.alsoAltered << blockStart(start.headerLines, index) + 1;
        }
    }
    verdict.headerChanged = verdict.line == 1 && start.headerLines > 0;
    if (read.lines < cover.lines) {
        verdict.kind = Verdict::Kind::Truncated;
        verdict.count = read.lines;
        verdict.sealedLines = cover.lines;
        verdict.alsoAltered.clear();
    }
    return verdict;
}

Verdict verifySealed(QByteArrayView fileBytes, const Seal& seal, QByteArrayView blockHashes,
                     const QString& fileName) {
    if (seal.fileName != fileName || seal.sealed != sealedKindOf(fileName)) {
        Verdict verdict = verdictOf(Verdict::Kind::OtherFile);
        verdict.sealedFor = QStringLiteral("the %1 %2")
                                .arg(QString::fromLatin1(sealedWord(seal.sealed)), seal.fileName);
        return verdict;
    }
    const Seal::Cover& cover = seal.cover;
    const int headerLines = seal.sealed == Sealed::Recording ? 1 : 0;
    const SealState start = chainStart(seal.fileName, seal.publicKey, headerLines);
    const qsizetype size = fileBytes.size();
    const bool prefixWhole =
        size >= cover.bytes && (cover.bytes == 0 || fileBytes[cover.bytes - 1] == '\n');
    if (!prefixWhole || headOf(start, fileBytes.first(cover.bytes)) != cover.head)
        return located(fileBytes, seal, blockHashes, start);

    // The sealer lists no block beyond its last seal's: more, and a seal
    // was put back over a file cut to its length.
    const qint64 lastListed = std::max(cover.blocks, seal.pending ? seal.pending->blocks : 0);
    if (blockHashes.size() > lastListed * blockHashBytes)
        return verdictOf(Verdict::Kind::RolledBack, cover.lines,
                         blockHashes.size() / blockHashBytes - lastListed);
    const QByteArrayView tail = fileBytes.sliced(cover.bytes);
    if (tail.isEmpty())
        return verdictOf(Verdict::Kind::Intact, cover.lines, cover.records);
    // The append the seal says was under way, when it landed whole.
    if (seal.pending && size == seal.pending->bytes && tail.endsWith('\n') &&
        headOf(start, fileBytes) == seal.pending->head)
        return verdictOf(Verdict::Kind::Intact, seal.pending->lines, seal.pending->records);
    const qint64 added = wholeLinesIn(tail);
    const bool unfinished = !tail.endsWith('\n');
    if (added > 0)
        return verdictOf(Verdict::Kind::Added, cover.lines, added + (unfinished ? 1 : 0));
    return verdictOf(Verdict::Kind::HalfLine, cover.lines);
}

struct ReadFile {
    std::optional<QByteArray> seal;
    QByteArray blocks;
    QByteArray bytes;
    qint64 sealSize = 0; // when too large to read
};

std::optional<QByteArray> readSealFile(const QString& path, qint64* tooLarge) {
    QFile seal(path + sealSuffix);
    if (!seal.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only so much is read: a seal the size of a disk is not one.
    if (seal.size() > firstFormatSizeLimit) {
        *tooLarge = seal.size();
        return std::nullopt;
    }
    const QByteArray text = seal.read(firstFormatSizeLimit + 1);
    if (text.size() > firstFormatSizeLimit ||
        (text.size() > sealSizeLimit && !text.startsWith(firstFormatLine.toByteArray() + '\n')))
        *tooLarge = std::max<qint64>(text.size(), seal.size());
    return text;
}

// The whole file, read into a buffer of its size: no copy as it grows.
QByteArray readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    QByteArray bytes(file.size(), Qt::Uninitialized);
    qint64 got = 0;
    while (got < bytes.size()) {
        const qint64 read = file.read(bytes.data() + got, bytes.size() - got);
        if (read <= 0)
            break;
        got += read;
    }
    bytes.truncate(got);
    // Grown meanwhile: the rest too.
    if (got == file.size())
        bytes += file.readAll();
    return bytes;
}

ReadFile readConsistently(const QString& path) {
    ReadFile read;
    // Read, not mapped: a file cut short meanwhile is then read short, where
    // a mapping would end the program.
    for (int attempt = 0; attempt < 5; ++attempt) {
        read.sealSize = 0;
        read.seal = readSealFile(path, &read.sealSize);
        read.bytes = readWhole(path);
        QFile blocks(path + blocksSuffix);
        // Each block holds at least one byte a line.
        const qint64 mostBlocks = read.bytes.size() / blockLines + 2;
        read.blocks = blocks.open(QIODevice::ReadOnly) ? blocks.read(mostBlocks * blockHashBytes)
                                                       : QByteArray();
        qint64 ignored = 0;
        if (readSealFile(path, &ignored) == read.seal)
            break;
    }
    return read;
}

} // namespace

Verdict verify(QByteArrayView fileBytes, const std::optional<QByteArray>& sealText,
               QByteArrayView blockHashes, const QString& fileName, const TrustedKeys& trusted) {
    if (!sealText)
        return verdictOf(Verdict::Kind::NoSeal);
    QByteArray publicKey;
    Verdict verdict;
    if (sealText->startsWith(firstFormatLine.toByteArray() + '\n')) {
        verdict = verifyFirstFormat(fileBytes, *sealText, &publicKey);
    } else {
        const std::optional<Seal> seal = readSeal(*sealText);
        if (!seal)
            return verdictOf(Verdict::Kind::SignatureInvalid);
        verdict = verifySealed(fileBytes, *seal, blockHashes, fileName);
        verdict.signer = seal->signer;
        publicKey = seal->publicKey;
    }
    if (verdict.kind == Verdict::Kind::SignatureInvalid)
        return verdict;
    verdict.fingerprint = fingerprint(publicKey);
    verdict.trustedAs = trusted.labelOf(publicKey);
    return verdict;
}

Verdict verifyFile(const QString& path) {
    return verifyFile(path, TrustedKeys::system());
}

Verdict verifyFile(const QString& path, const TrustedKeys& trusted) {
    const ReadFile read = readConsistently(path);
    if (read.sealSize > 0)
        return verdictOf(Verdict::Kind::SealTooLarge, 0, read.sealSize);
    return verify(read.bytes, read.seal, read.blocks, QFileInfo(path).fileName(), trusted);
}

Verdict verifyAgainstSeal(const QString& path, QByteArrayView fileBytes) {
    qint64 tooLarge = 0;
    const std::optional<QByteArray> seal = readSealFile(path, &tooLarge);
    if (tooLarge > 0)
        return verdictOf(Verdict::Kind::SealTooLarge, 0, tooLarge);
    QFile blocks(path + blocksSuffix);
    const qint64 mostBlocks = fileBytes.size() / blockLines + 2;
    const QByteArray blockHashes =
        blocks.open(QIODevice::ReadOnly) ? blocks.read(mostBlocks * blockHashBytes) : QByteArray();
    return verify(fileBytes, seal, blockHashes, QFileInfo(path).fileName());
}

SealSnapshot takeSealSnapshot(const QString& path) {
    SealSnapshot snapshot;
    snapshot.seal = readSealFile(path, &snapshot.tooLarge);
    QFile blocks(path + blocksSuffix);
    // Each block holds at least one byte a line; the file may grow by a
    // record or two before it is read.
    const qint64 mostBlocks = QFileInfo(path).size() / blockLines + 4;
    if (blocks.open(QIODevice::ReadOnly))
        snapshot.blocks = blocks.read(mostBlocks * blockHashBytes);
    return snapshot;
}

Verdict verifySnapshot(const SealSnapshot& snapshot, const QString& path, QByteArrayView fileBytes,
                       const TrustedKeys& trusted) {
    if (snapshot.tooLarge > 0)
        return verdictOf(Verdict::Kind::SealTooLarge, 0, snapshot.tooLarge);
    return verify(fileBytes, snapshot.seal, snapshot.blocks, QFileInfo(path).fileName(), trusted);
}

QStringList recordingsIn(const QString& folder) {
    const QDir dir(folder);
    const QStringList recordings{QStringLiteral("REC_*.csv")};
    QStringList names = dir.entryList(recordings, QDir::Files, QDir::Name);
    for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        for (const QString& name :
             QDir(dir.filePath(sub)).entryList(recordings, QDir::Files, QDir::Name))
            names << sub + QLatin1Char('/') + name;
    }
    return names;
}

QStringList filesToVerify(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        const QDir folder(path);
        for (const QString& name : recordingsIn(path))
            files << folder.filePath(name);
        for (const QString& name :
             folder.entryList({QStringLiteral("audit.log"), QStringLiteral("audit-*.log")},
                              QDir::Files, QDir::Name))
            files << folder.filePath(name);
    }
    return files;
}

QString escapedText(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0) || code == u'\\')
            escaped += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

namespace {

QString signedBy(const Verdict& verdict) {
    QString text = verdict.trusted()
                       ? QStringLiteral("signed by %1 (key %2)")
                             .arg(escapedText(*verdict.trustedAs), verdict.fingerprint)
                       : QStringLiteral("signed by an untrusted key ") + verdict.fingerprint;
    if (verdict.operatorKey())
        text += QStringLiteral(", the operator's own key");
    return text;
}

QString bodyText(const Verdict& verdict) {
    const bool first = verdict.format == 1;
    switch (verdict.kind) {
    case Verdict::Kind::Intact: {
        if (!verdict.trusted())
            return QStringLiteral("intact, but ") + signedBy(verdict);
        const QString records = verdict.count == 1
                                    ? QStringLiteral("1 record")
                                    : QStringLiteral("%1 records").arg(verdict.count);
        return QStringLiteral("sealed: %1 intact, %2").arg(records, signedBy(verdict));
    }
    case Verdict::Kind::Altered: {
        if (first)
            return QStringLiteral("altered at line %1").arg(verdict.line);
        QString text =
            QStringLiteral("differs from line %1 on; nothing after it verified").arg(verdict.line);
        if (!verdict.alsoAltered.isEmpty()) {
            QStringList lines;
            for (const qint64 line : verdict.alsoAltered)
                lines << QString::number(line);
            text += QStringLiteral("; the blocks from lines %1 differ too")
                        .arg(lines.join(QLatin1String(", ")));
        }
        if (verdict.headerChanged)
            text += QStringLiteral(" (a spreadsheet save changes line 1: verify the file as "
                                   "recorded, not a copy saved again)");
        return text;
    }
    case Verdict::Kind::Truncated:
        if (first)
            return QStringLiteral("truncated after line %1").arg(verdict.line);
        return QStringLiteral("%1 of %2 sealed lines left; nothing verified from line %3 on")
            .arg(verdict.count)
            .arg(verdict.sealedLines)
            .arg(verdict.line);
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
    case Verdict::Kind::OtherFile:
        return QStringLiteral("a seal made for %1, not for this file")
            .arg(escapedText(verdict.sealedFor));
    case Verdict::Kind::RolledBack:
        return QStringLiteral("rolled back: whole up to line %1 as an older seal has it, but the "
                              "block hashes beside it go on for %2")
            .arg(verdict.line)
            .arg(verdict.count == 1 ? QStringLiteral("1 more block")
                                    : QStringLiteral("%1 more blocks").arg(verdict.count));
    case Verdict::Kind::SealTooLarge:
        return QStringLiteral("seal too large to be one (%1 bytes)").arg(verdict.count);
    }
    return {};
}

} // namespace

QString verdictText(const Verdict& verdict) {
    QString text = bodyText(verdict);
    // Who signed, for every verdict over a seal whose signature holds.
    if (!verdict.intact() && !verdict.fingerprint.isEmpty())
        text += QStringLiteral("; seal ") + signedBy(verdict);
    if (verdict.format == 1 && verdict.kind != Verdict::Kind::NoSeal &&
        verdict.kind != Verdict::Kind::SignatureInvalid)
        text += QStringLiteral(" (format 1)");
    return text;
}

} // namespace sealing
