#include "ProgramSeals.h"

#include <QDir>
#include <QFile>

#include <utility>

#include "FileSealer.h"
#include "RecordWriter.h"
#include "RegularFile.h"

namespace sealing {

namespace {

// The key at path, marked as program's; none for an empty path.
std::optional<SealKey> programKey(const QString& path, const QString& program, QString* problem,
                                  bool* made) {
    if (path.isEmpty()) {
        *problem = QStringLiteral("sealing turned off");
        return std::nullopt;
    }
    std::optional<SealKey> key = loadOrCreateKey(path, problem, made);
    if (key)
        key->signer = program;
    return key;
}

} // namespace

ProgramSeals::ProgramSeals(QString keyPath, QString program, QString version, AuditClock clock,
                           Opening opening)
    : m_keyPath(std::move(keyPath)), m_program(std::move(program)), m_version(std::move(version)),
      m_clock(std::move(clock)),
      m_auditPath(QDir::current().filePath(QLatin1String(auditFileName))),
      m_off(opening == Opening::Never) {
    if (opening == Opening::Now)
        open();
}

ProgramSeals::~ProgramSeals() {
    if (m_off)
        return;
    open();
    m_trail->record(QStringLiteral("stopped"));
}

void ProgramSeals::open() {
    if (m_trail || m_off)
        return;
    m_key = programKey(m_keyPath, m_program, &m_keyProblem, &m_keyMade);
    // The folder is the one of the start, as when opened at once.
    m_trail =
        std::make_unique<AuditTrail>(m_auditPath, m_key, m_program, m_version, std::move(m_clock));
    m_trail->record(AuditTrail::startedEvent(m_key, m_keyProblem));
    for (const QString& text : std::exchange(m_held, {}))
        m_trail->record(text);
}

AuditTrail& ProgramSeals::trail() {
    open();
    return *m_trail;
}

void ProgramSeals::sealRecordsOf(recording::RecordWriter& writer, const QString& controller) {
    if (m_off)
        return;
    open();
    if (m_key)
        writer.setCompanion(std::make_shared<FileSealer>(*m_key, 1, controller));
}

QString ProgramSeals::keyFingerprint() const {
    return m_key ? fingerprint(m_key->publicKey) : QString();
}

QByteArray ProgramSeals::publicKey() const {
    return m_key ? m_key->publicKey : QByteArray();
}

bool ProgramSeals::event(const QString& text) {
    if (m_off)
        return true;
    if (m_trail)
        return m_trail->record(text);
    m_held << text;
    return true;
}

void ProgramSeals::portState(bool connected, const QString& device) {
    if (connected && m_port != Port::Open) {
        event((m_port == Port::Lost ? QStringLiteral("port reopened: ")
                                    : QStringLiteral("port opened: ")) +
              device);
        m_port = Port::Open;
    } else if (!connected && m_port == Port::Open) {
        event(QStringLiteral("port lost: ") + device);
        m_port = Port::Lost;
    } else if (!connected && m_port == Port::Unknown) {
        event(QStringLiteral("port not opened: ") + device);
        m_port = Port::Closed;
    }
}

void ProgramSeals::portLent(const QString& device) {
    if (m_port != Port::Open)
        return;
    event(QStringLiteral("port lent to the controller search: ") + device);
    m_port = Port::Closed;
}

void ProgramSeals::recordingStarted(const QString& fileName) {
    event(QStringLiteral("recording started: ") + fileName);
}

void ProgramSeals::recordingStopped(const QString& fileName) {
    if (m_off)
        return;
    // What the file holds as it is closed, for a later check against it.
    const RegularFile file = readRegularFile(QDir::current().filePath(fileName));
    event(file.ok() ? recordingStoppedEvent(fileName, file.bytes)
                    : QStringLiteral("recording stopped: %1 (unreadable: %2)")
                          .arg(fileName, file.problem == RegularFile::Problem::NotRegular
                                             ? QStringLiteral("not a regular file")
                                             : QStringLiteral("cannot be read")));
}

QString recordingStoppedEvent(const QString& fileName, QByteArrayView bytes) {
    return QStringLiteral("recording stopped: %1 (%2)").arg(fileName, fileSummary(bytes));
}

void ProgramSeals::settingsSaved(const SettingsList& before, const SettingsList& after) {
    event(settingsSavedEvent(before, after));
}

QString settingsSavedEvent(const SettingsList& before, const SettingsList& after) {
    QStringList changes;
    for (const auto& [key, value] : after) {
        QString old;
        for (const auto& [oldKey, oldValue] : before) {
            if (oldKey == key)
                old = oldValue;
        }
        // An empty limit is an alarm turned off.
        const auto shown = [](const QString& text) {
            return text.isEmpty() ? QStringLiteral("off") : text;
        };
        if (old != value)
            changes << key + QLatin1Char(' ') + shown(old) + QStringLiteral(" \u2192 ") +
                           shown(value);
    }
    return QStringLiteral("settings saved: ") +
           (changes.isEmpty() ? QStringLiteral("no change") : changes.join(QLatin1String(", ")));
}

} // namespace sealing
