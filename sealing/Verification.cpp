#include "Verification.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "FirstFormat.h"
#include "RegularFile.h"
#include "SealChain.h"
#include "SealText.h"

namespace sealing {

namespace {

const QString ownKeyLabel = QStringLiteral("this program's own key");

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
    // Without the signed list nothing tells where: no line is named.
    verdict.unlocated = !listHolds;
    // Later blocks are named only where lines kept their places.
    if (read.lines == cover.lines) {
        for (qint64 index = first + 1;
             index < comparable && verdict.alsoAltered.size() < alsoAlteredLimit; ++index) {
            if (differs(index))
                verdict.alsoAltered << blockStart(start.headerLines, index) + 1;
        }
        // One listed block differs and every other listed one holds.
        if (first < comparable && comparable == cover.blocks && cover.blocks > 1 &&
            verdict.alsoAltered.isEmpty()) {
            verdict.block = first + 1;
            verdict.lastLine = blockStart(start.headerLines, first + 1);
            const qint64 listedLines = blockStart(start.headerLines, cover.blocks);
            verdict.blocks = cover.blocks + (cover.lines > listedLines ? 1 : 0);
            verdict.unlistedFrom = cover.lines > listedLines ? listedLines + 1 : 0;
            verdict.sealedLines = cover.lines;
        }
    }
    verdict.headerChanged = listHolds && first < comparable && first == 0 && start.headerLines > 0;
    if (read.lines < cover.lines) {
        verdict.kind = Verdict::Kind::Truncated;
        verdict.count = read.lines;
        verdict.sealedLines = cover.lines;
        verdict.alsoAltered.clear();
        verdict.block = 0;
    }
    return verdict;
}

Verdict verifySealed(QByteArrayView fileBytes, const Seal& seal, QByteArrayView blockHashes,
                     const QString& fileName) {
    // A seal that names a folder (a bus controller's) holds only there.
    const QString name = fileName.section(QLatin1Char('/'), -1);
    const QString asSealed = seal.fileName.contains(QLatin1Char('/')) ? fileName : name;
    // A trail the program kept aside as audit-N.log keeps the seal it had as
    // audit.log; the entry that kept it names it.
    static const QRegularExpression keptTrail(QStringLiteral("^audit-\\d+\\.log$"));
    const bool keptAside = seal.sealed == Sealed::AuditTrail &&
                           seal.fileName == QLatin1String("audit.log") &&
                           keptTrail.match(name).hasMatch();
    if (!keptAside && (seal.fileName != asSealed || seal.sealed != sealedKindOf(name))) {
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
    bool regular = true;
    qint64 sealSize = 0; // when too large to read, or -1 when not a regular file
};

// tooLarge: the seal's size when too large to be one; -1 when it is not a
// regular file (a fifo or a device in its place is not waited on).
std::optional<QByteArray> readSealFile(const QString& path, qint64* tooLarge) {
    // Only so much is read: a seal the size of a disk is not one.
    const RegularFile seal = readRegularFile(path + sealSuffix, firstFormatSizeLimit);
    if (seal.problem == RegularFile::Problem::NotRegular)
        *tooLarge = -1;
    if (!seal.ok())
        return std::nullopt;
    if (seal.more || (seal.bytes.size() > sealSizeLimit &&
                      !seal.bytes.startsWith(firstFormatLine.toByteArray() + '\n')))
        *tooLarge = seal.bytes.size() + (seal.more ? 1 : 0);
    return seal.bytes;
}

// The file's name with its folder's, as a seal binds a bus controller's.
QString boundName(const QString& path) {
    const QFileInfo info(path);
    return info.absoluteDir().dirName() + QLatin1Char('/') + info.fileName();
}

// The verdict for a seal that could not be read as one, if so.
std::optional<Verdict> unreadSeal(qint64 tooLarge) {
    if (tooLarge < 0)
        return verdictOf(Verdict::Kind::SealNotRegular);
    if (tooLarge > 0)
        return verdictOf(Verdict::Kind::SealTooLarge, 0, tooLarge);
    return std::nullopt;
}

// The block hashes beside path, no more than a file of fileSize bytes can
// have (each block holds at least one byte a line), and a few for records
// that land meanwhile; nothing from a fifo or a device.
QByteArray readBlockHashes(const QString& path, qint64 fileSize) {
    // And some more, so that a list that goes on is counted as it is.
    const qint64 mostBlocks = fileSize / blockLines + 4 + 1024;
    return readRegularFile(path + blocksSuffix, mostBlocks * blockHashBytes).bytes;
}

ReadFile readConsistently(const QString& path) {
    ReadFile read;
    // Read, not mapped: a file cut short meanwhile is then read short, where
    // a mapping would end the program.
    for (int attempt = 0; attempt < 5; ++attempt) {
        read.sealSize = 0;
        read.seal = readSealFile(path, &read.sealSize);
        const RegularFile file = readRegularFile(path);
        read.regular = file.problem != RegularFile::Problem::NotRegular;
        read.bytes = file.bytes;
        read.blocks = readBlockHashes(path, read.bytes.size());
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
        SealReading reading;
        const std::optional<Seal> seal = readSeal(*sealText, &reading);
        if (!seal && reading.problem == SealReading::Problem::Cover) {
            verdict = verdictOf(Verdict::Kind::CoverImpossible);
            publicKey = reading.publicKey;
        } else if (!seal) {
            return verdictOf(Verdict::Kind::SignatureInvalid);
        } else {
            verdict = verifySealed(fileBytes, *seal, blockHashes, fileName);
            verdict.signer = seal->signer;
            publicKey = seal->publicKey;
        }
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
    if (!read.regular)
        return verdictOf(Verdict::Kind::NotRegular);
    if (const auto unread = unreadSeal(read.sealSize))
        return *unread;
    return verify(read.bytes, read.seal, read.blocks, boundName(path), trusted);
}

Verdict verifyAgainstSeal(const QString& path, QByteArrayView fileBytes,
                          const TrustedKeys& trusted) {
    qint64 tooLarge = 0;
    const std::optional<QByteArray> seal = readSealFile(path, &tooLarge);
    if (const auto unread = unreadSeal(tooLarge))
        return *unread;
    return verify(fileBytes, seal, readBlockHashes(path, fileBytes.size()), boundName(path),
                  trusted);
}

TrustedKeys ownKeyOnly(const QByteArray& publicKey) {
    TrustedKeys own;
    own.add(TrustedKeys::lineFor(publicKey, {}), ownKeyLabel, nullptr);
    return own;
}

SealSnapshot takeSealSnapshot(const QString& path) {
    SealSnapshot snapshot;
    snapshot.seal = readSealFile(path, &snapshot.tooLarge);
    snapshot.blocks = readBlockHashes(path, QFileInfo(path).size());
    return snapshot;
}

Verdict verifySnapshot(const SealSnapshot& snapshot, const QString& path, QByteArrayView fileBytes,
                       const TrustedKeys& trusted) {
    if (const auto unread = unreadSeal(snapshot.tooLarge))
        return *unread;
    return verify(fileBytes, snapshot.seal, snapshot.blocks, boundName(path), trusted);
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
        // With what is not a regular file: a fifo named as a trail is
        // a finding, not a trail passed over.
        for (const QString& name :
             folder.entryList({QStringLiteral("audit.log"), QStringLiteral("audit-*.log")},
                              QDir::Files | QDir::System, QDir::Name))
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
    if (verdict.operatorKey() && verdict.trustedAs != ownKeyLabel)
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
        QString text;
        if (verdict.unlocated) {
            text = QStringLiteral("differs from the sealed lines; where cannot be told, the block "
                                  "hashes beside the seal not being those it signed");
        } else if (verdict.block > 0) {
            const QString lines = verdict.line == verdict.lastLine
                                      ? QStringLiteral("line %1 differs").arg(verdict.line)
                                      : QStringLiteral("lines %1 to %2 differ")
                                            .arg(verdict.line)
                                            .arg(verdict.lastLine);
            text = QStringLiteral("%1 (block %2 of %3); ")
                       .arg(lines)
                       .arg(verdict.block)
                       .arg(verdict.blocks);
            text += verdict.unlistedFrom == 0
                        ? QStringLiteral("the other blocks hold")
                        : QStringLiteral("the other whole blocks hold; lines %1 to %2, not yet a "
                                         "whole block, cannot be checked apart")
                              .arg(verdict.unlistedFrom)
                              .arg(verdict.sealedLines);
        } else {
            text = QStringLiteral("differs from line %1 on; nothing after it verified")
                       .arg(verdict.line);
        }
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
        return QStringLiteral("half a line after the sealed lines");
    case Verdict::Kind::NoSeal:
        return QStringLiteral("no seal");
    case Verdict::Kind::SignatureInvalid:
        return QStringLiteral("seal signature invalid");
    case Verdict::Kind::CoverImpossible:
        return QStringLiteral("seal not read: its counts or hashes are no file's (more blocks "
                              "than lines, more lines than bytes, or beyond any disk)");
    case Verdict::Kind::OtherFile:
        return QStringLiteral("a seal made for %1, not for this file")
            .arg(escapedText(verdict.sealedFor));
    case Verdict::Kind::RolledBack:
        return QStringLiteral("whole up to line %1 as the seal has it, but the block hashes "
                              "beside it go on for %2: an older seal put back, or hashes added")
            .arg(verdict.line)
            .arg(verdict.count == 1 ? QStringLiteral("1 more block")
                                    : QStringLiteral("%1 more blocks").arg(verdict.count));
    case Verdict::Kind::SealTooLarge:
        return QStringLiteral("seal too large to be one (%1 bytes)").arg(verdict.count);
    case Verdict::Kind::SealNotRegular:
        return QStringLiteral("seal not a regular file: not read");
    case Verdict::Kind::NotRegular:
        return QStringLiteral("not a regular file: not read");
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
