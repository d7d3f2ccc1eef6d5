#include "AuditTrail.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSysInfo>

#include "FileSealer.h"
#include "RecordFile.h"
#include "Verification.h"

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

Q_DECLARE_LOGGING_CATEGORY(lcSealing)

namespace sealing {

namespace {

qint64 monotonicNow() {
    static QElapsedTimer started;
    if (!started.isValid())
        started.start();
    return started.elapsed();
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

AuditTrail::AuditTrail(QString path, const std::optional<SealKey>& key, const QString& program,
                       const QString& version, AuditClock clock, QObject* parent)
    : QObject(parent), m_path(std::move(path)),
      m_source(systemUserName() + QLatin1Char(';') + hostName() + QLatin1Char(';') + program +
               QLatin1Char(' ') + version),
      m_clock(std::move(clock)) {
    if (!m_clock.wall)
        m_clock.wall = [] { return QDateTime::currentDateTime(); };
    if (!m_clock.monotonicMs)
        m_clock.monotonicMs = monotonicNow;
    m_last = reading();

    QFile existing(m_path);
    const QByteArray before =
        existing.open(QIODevice::ReadOnly) ? existing.readAll() : QByteArray();
    m_lineOpen = !before.isEmpty() && !before.endsWith('\n');
    if (key) {
        m_sealer = std::make_unique<FileSealer>(*key, 0);
        if (!before.isEmpty()) {
            const Verdict verdict = verifyAgainstSeal(m_path, before);
            // Earlier entries stay as they are; the trail says what it found.
            if (!verdict.intact() || verdict.fingerprint != fingerprint(key->publicKey))
                write(m_last.wall, QStringLiteral("audit trail found %1; sealed again from here")
                                       .arg(verdict.intact() ? QStringLiteral("sealed by key ") +
                                                                   verdict.fingerprint
                                                             : verdictText(verdict)));
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

ClockReading AuditTrail::reading() const {
    return {m_clock.wall(), m_clock.monotonicMs()};
}

void AuditTrail::checkClock() {
    const ClockReading now = reading();
    const QStringList events = clockEvents(m_last, now);
    m_last = now;
    for (const QString& event : events)
        write(now.wall, event);
}

void AuditTrail::record(const QString& event) {
    checkClock();
    write(m_last.wall, event);
}

void AuditTrail::write(const QDateTime& wall, const QString& event) {
    QString line = isoTime(wall) + QLatin1Char(';') + m_source + QLatin1Char(';') + event +
                   QLatin1String("\r\n");
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
        return;
    }
    m_lineOpen = false;
    if (m_sealer && !sealed)
        qCWarning(lcSealing) << "could not seal" << m_path;
}

} // namespace sealing
