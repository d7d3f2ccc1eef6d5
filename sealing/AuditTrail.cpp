#include "AuditTrail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSysInfo>

#include <sodium.h>

#include "FileSealer.h"
#include "RecordFile.h"
#include "RegularFile.h"
#include "SealText.h"
#include "TrailCheck.h"
#include "Verification.h"

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

Q_DECLARE_LOGGING_CATEGORY(lcSealing)

namespace sealing {

namespace {

// What is at path when it is a regular file; a fifo put in the trail's
// place is not waited on, and reads as a trail that is not the one written.
std::optional<QByteArray> readWhole(const QString& path) {
    const RegularFile read = readRegularFile(path);
    if (read.ok())
        return read.bytes;
    if (read.problem == RegularFile::Problem::NotRegular)
        return QByteArray("\n");
    return std::nullopt;
}

// How many entries found holds after the one left (its number, and the
// head after it); -1 when found does not hold that one.
qint64 entriesAfter(const QByteArray& found, const TrailMark& left) {
    qint64 after = -1;
    for (qsizetype end = 0; end < found.size();) {
        const qsizetype next = found.indexOf('\n', end);
        if (next < 0)
            break;
        const std::optional<TrailEntry> entry =
            parseTrailLine(QByteArrayView(found).sliced(end, next + 1 - end));
        end = next + 1;
        if (!entry)
            continue;
        if (after >= 0)
            ++after;
        else if (entry->sequence == left.entry &&
                 trailHead(QByteArrayView(found).first(end)) == left.head)
            after = 0;
    }
    return after;
}

} // namespace

QString systemUserName() {
#ifndef Q_OS_WIN
    // The account, not $USER: a service has no login environment.
    if (const passwd* entry = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    const QString name = qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER"));
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

QString hostName() {
    return QSysInfo::machineHostName();
}

QString trailHead(QByteArrayView bytes) {
    QByteArray head(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(head.data()), std::size_t(head.size()),
                       reinterpret_cast<const unsigned char*>(bytes.data()), quint64(bytes.size()),
                       nullptr, 0);
    return QString::fromLatin1(head.toHex());
}

QString fileSummary(QByteArrayView bytes, int headerLines) {
    const qint64 lines = bytes.count('\n');
    return QStringLiteral("%1 records, %2 bytes, hash %3")
        .arg(std::max<qint64>(lines - headerLines, 0))
        .arg(bytes.size())
        .arg(trailHead(bytes));
}

std::optional<TrailEntry> parseTrailLine(QByteArrayView line) {
    QString text = QString::fromUtf8(line);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    bool numbered = false;
    const qint64 sequence = text.section(QLatin1Char(';'), 0, 0).toLongLong(&numbered);
    const int first = numbered ? 1 : 0;
    TrailEntry entry;
    entry.sequence = numbered ? sequence : 0;
    entry.time = QDateTime::fromString(text.section(QLatin1Char(';'), first, first), Qt::ISODate);
    entry.event = text.section(QLatin1Char(';'), first + 4);
    if (!entry.time.isValid() || text.count(QLatin1Char(';')) < first + 4)
        return std::nullopt;
    return entry;
}

QString trailAgainstMark(const QByteArray& found, const TrailMark& left) {
    if (left.entry == 0 || trailHead(found) == left.head)
        return {};
    const QString was = QStringLiteral("entry %1, head %2").arg(left.entry).arg(left.head.left(16));
    if (entryHeads({{auditFileName, found}}).contains({left.entry, left.head}))
        return QStringLiteral("with entries after the recorder's last, ") + was;
    qint64 last = 0;
    for (const QByteArray& line : found.split('\n')) {
        if (const std::optional<TrailEntry> entry = parseTrailLine(line))
            last = entry->sequence;
    }
    return last < left.entry
               ? QStringLiteral("rolled back to entry %1 (the recorder's last was %2)")
                     .arg(last)
                     .arg(was)
               : QStringLiteral("rewritten (the recorder's last was %1)").arg(was);
}

AuditTrail::AuditTrail(QString path, const std::optional<SealKey>& key, const QString& program,
                       const QString& version, AuditClock clock, QObject* parent,
                       const std::optional<TrailMark>& left)
    : QObject(parent), m_path(std::move(path)),
      m_source(systemUserName() + QLatin1Char(';') + hostName() + QLatin1Char(';') + program +
               QLatin1Char(' ') + version),
      m_clock(std::move(clock)) {
    if (!m_clock.wall)
        m_clock.wall = [] { return QDateTime::currentDateTime(); };
    if (!m_clock.steady)
        m_clock.steady = steadyClocksNow;
    m_last = reading();

    const std::optional<QByteArray> before = readWhole(m_path);
    if (!key) {
        // Nothing to check it against: continued as it is, and says so at start.
        if (before) {
            m_lineOpen = !before->isEmpty() && !before->endsWith('\n');
            adopt(*before, m_last.wall);
        }
    } else {
        m_sealer = std::make_unique<FileSealer>(*key, 0);
        if (before) {
            QString found;
            const Verdict verdict = verifyAgainstSeal(m_path, *before, ownKeyOnly(key->publicKey));
            if (existsButIsNotRegular(m_path))
                found = QStringLiteral("not a regular file");
            else if (!verdict.intact())
                found = verdictText(verdict);
            else if (verdict.fingerprint != fingerprint(key->publicKey))
                found = QStringLiteral("sealed by key ") + verdict.fingerprint;
            else if (left)
                found = trailAgainstMark(*before, *left);
            // One entry past the state, under this key's seal: the program's
            // own, written as it was stopped before it noted it.
            const bool unnoted = left && !found.isEmpty() && verdict.intact() &&
                                 verdict.fingerprint == fingerprint(key->publicKey) &&
                                 entriesAfter(*before, *left) == 1;
            if (found.isEmpty() || unnoted) {
                adopt(*before, m_last.wall);
                if (unnoted)
                    append(m_last.wall,
                           QStringLiteral("audit trail taken on: entry %1 was written as the "
                                          "recorder stopped (a crash or a kill), before it noted "
                                          "it beside its key, where entry %2 was its last")
                               .arg(m_sequence)
                               .arg(left->entry));
            } else {
                const QString kept = keepAside();
                m_foundAtStart << QStringLiteral("audit trail found %1; %2, head %3")
                                      .arg(found, kept, trailHead(*before));
                append(m_last.wall, m_foundAtStart.last());
            }
        } else if (const QString missing = missingNote(left); !missing.isEmpty()) {
            m_foundAtStart << missing;
            append(m_last.wall, missing);
        }
    }
    connect(&m_clockTimer, &QTimer::timeout, this, &AuditTrail::checkClock);
    m_clockTimer.start(1000);
}

AuditTrail::~AuditTrail() = default;

QString AuditTrail::startedEvent(const std::optional<SealKey>& key, const QString& keyProblem) {
    return key ? QStringLiteral("started, key ") + fingerprint(key->publicKey)
               : QStringLiteral("started, unsealed: ") + keyProblem;
}

QString AuditTrail::head() const {
    return trailHead(m_written);
}

ClockReading AuditTrail::reading() const {
    return {m_clock.wall(), elapsedMs(m_clock.steady())};
}

void AuditTrail::adopt(const QByteArray& found, const QDateTime& wall) {
    m_written = found;
    const QList<QByteArray> lines = found.split('\n');
    m_sequence = 0;
    std::optional<TrailEntry> last;
    for (const QByteArray& line : lines) {
        if (const std::optional<TrailEntry> entry = parseTrailLine(line)) {
            m_sequence = entry->sequence > 0 ? entry->sequence : m_sequence + 1;
            last = entry;
        }
    }
    // Set back while the program was not running: the trail would read as
    // if time went backwards, so it says why.
    if (last && wall < last->time)
        append(wall, QStringLiteral("clock earlier than the trail's last entry, %1")
                         .arg(isoTime(last->time)));
}

QString AuditTrail::keepAside() {
    const QDir folder = QFileInfo(m_path).absoluteDir();
    QString name;
    for (int n = 1; name.isEmpty(); ++n) {
        const QString candidate = QStringLiteral("audit-%1.log").arg(n);
        if (!folder.exists(candidate) && !folder.exists(candidate + sealSuffix))
            name = candidate;
    }
    const QString kept = folder.filePath(name);
    if (!QFile::rename(m_path, kept))
        return QStringLiteral("could not be kept aside");
    QFile::rename(m_path + sealSuffix, kept + sealSuffix);
    QFile::rename(m_path + blocksSuffix, kept + blocksSuffix);
    return QStringLiteral("kept as ") + name;
}

QString AuditTrail::missingNote(const std::optional<TrailMark>& left) const {
    const QDir folder = QFileInfo(m_path).absoluteDir();
    QStringList signs;
    if (left && left->entry > 0)
        signs << QStringLiteral("the recorder's last entry was %1, head %2")
                     .arg(left->entry)
                     .arg(left->head.left(16));
    if (QFileInfo::exists(m_path + sealSuffix))
        signs << QStringLiteral("its seal is there");
    const QStringList kept =
        folder.entryList({QStringLiteral("audit-*.log")}, QDir::Files, QDir::Name);
    if (!kept.isEmpty())
        signs << kept.join(QLatin1String(", ")) + QStringLiteral(" there");
    const qsizetype recordings = recordingsIn(folder.path()).size();
    if (recordings > 0)
        signs << QStringLiteral("%1 recordings in the folder").arg(recordings);
    return signs.isEmpty()
               ? QString()
               : QStringLiteral("audit trail missing (%1)").arg(signs.join(QLatin1String("; ")));
}

void AuditTrail::checkClock() {
    const ClockReading now = reading();
    const QStringList events = clockEvents(m_last, now);
    m_last = now;
    for (const QString& event : events)
        write(now.wall, event);
}

bool AuditTrail::record(const QString& event) {
    checkClock();
    return write(m_last.wall, event);
}

void AuditTrail::checkFile(const QDateTime& wall) {
    const std::optional<QByteArray> now = readWhole(m_path);
    if (now ? *now == m_written : m_written.isEmpty())
        return;
    const QString lastKnown =
        QStringLiteral("last entry %1, head %2").arg(m_sequence).arg(trailHead(m_written));
    const QString found = now ? QStringLiteral("audit trail changed while running; %1; %2")
                                    .arg(keepAside(), lastKnown)
                              : QStringLiteral("audit trail removed while running; ") + lastKnown;
    m_written.clear();
    m_sequence = 0;
    m_lineOpen = false;
    append(wall, found);
}

bool AuditTrail::write(const QDateTime& wall, const QString& event) {
    checkFile(wall);
    return append(wall, event);
}

bool AuditTrail::append(const QDateTime& wall, const QString& event) {
    QString line = QString::number(m_sequence + 1) + QLatin1Char(';') + isoTime(wall) +
                   QLatin1Char(';') + m_source + QLatin1Char(';') + event + QLatin1String("\r\n");
    if (m_lineOpen)
        line.prepend(QLatin1String("\r\n"));
    bool prepared = false;
    const recording::AppendOutcome outcome = recording::appendRecord(
        m_path, line, QString(), [&](qint64 sizeBefore, const QByteArray& bytes) {
            prepared = m_sealer && m_sealer->prepare(m_path, sizeBefore, bytes, true);
        });
    const bool sealed = prepared && m_sealer->commit(m_path, outcome.ok);
    if (!outcome.ok) {
        qCWarning(lcSealing) << "could not write to" << m_path << ":" << event;
        return false;
    }
    m_lineOpen = false;
    m_written += outcome.bytes;
    ++m_sequence;
    if (m_sealer && !sealed)
        qCWarning(lcSealing) << "could not seal" << m_path;
    Q_EMIT entryWritten(m_sequence, trailHead(m_written));
    return true;
}

} // namespace sealing
