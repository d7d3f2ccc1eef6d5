#include "ProgramSeals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

#include "FileSealer.h"
#include "RecordWriter.h"
#include "RecorderState.h"
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
    // The recorder does not start without its key: a trail it wrote
    // unsealed lines to would no longer hold under its seal.
    if (m_keepState && !m_key) {
        m_off = true;
        return;
    }
    const QString folder = QFileInfo(m_auditPath).absolutePath();
    const QString statePath = statePathFor(m_keyPath, folder);
    std::optional<RecorderStateData> left;
    QString stateProblem;
    if (m_keepState && m_key)
        left = loadRecorderState(statePath, &stateProblem);
    // The folder is the one of the start, as when opened at once.
    m_trail = std::make_unique<AuditTrail>(
        m_auditPath, m_key, m_program, m_version, std::move(m_clock), nullptr,
        left ? std::optional<TrailMark>({left->trailEntry, left->trailHead}) : std::nullopt);
    m_foundAtStart = m_trail->foundAtStart();
    m_trail->record(AuditTrail::startedEvent(m_key, m_keyProblem));
    if (!stateProblem.isEmpty()) {
        m_foundAtStart << QStringLiteral(
                              "recorder state found %1: %2; the folder is taken as found")
                              .arg(stateProblem, statePath);
        m_trail->record(m_foundAtStart.last());
    }
    if (left) {
        const QDir dir(folder);
        for (const auto& [name, written] : left->open) {
            const RegularFile file = readRegularFile(dir.filePath(name));
            const std::optional<QByteArray> found =
                file.ok() ? std::optional(file.bytes) : std::nullopt;
            qint64 matched = 0;
            QString differs = recordingAgainstState(written, found, &matched);
            // Begun, and stopped before its first byte: no recording to speak of.
            if (differs.isEmpty() && !found)
                continue;
            if (differs.isEmpty() && found->size() > matched)
                differs = QStringLiteral("%1 bytes after the recorder's last record (it had "
                                         "written %2 bytes)")
                              .arg(found->size() - matched)
                              .arg(matched);
            if (differs.isEmpty()) {
                // As the recorder left it: a crash or a kill, not a hand.
                m_trail->record(recordingNotClosedEvent(name, *found));
            } else {
                m_foundAtStart << QStringLiteral("recording found not as the recorder left it: "
                                                 "%1: %2")
                                      .arg(name, differs);
                m_trail->record(m_foundAtStart.last());
            }
        }
    }
    if (m_keepState && m_key) {
        m_state = std::make_shared<RecorderState>(
            statePath, RecorderStateData{folder, m_trail->sequence(), m_trail->head(), {}});
        if (!m_state->problem().isEmpty()) {
            m_foundAtStart << QStringLiteral("recorder state not kept: ") + m_state->problem();
            m_trail->record(m_foundAtStart.last());
        }
        QObject::connect(
            m_trail.get(), &AuditTrail::entryWritten, m_trail.get(),
            [state = m_state](qint64 entry, const QString& head) { state->setTrail(entry, head); });
        m_state->setTrail(m_trail->sequence(), m_trail->head());
    }
    for (const QString& text : std::exchange(m_held, {}))
        m_trail->record(text);
}

AuditTrail& ProgramSeals::trail() {
    open();
    return *m_trail;
}

std::shared_ptr<FileSealer> ProgramSeals::sealRecordsOf(recording::RecordWriter& writer,
                                                        const QString& controller) {
    if (m_off)
        return {};
    open();
    if (!m_key)
        return {};
    auto sealer = std::make_shared<FileSealer>(*m_key, 1, controller);
    if (m_state)
        sealer->keepStateIn(m_state);
    writer.setCompanion(sealer);
    return sealer;
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

QString recordingNotClosedEvent(const QString& fileName, QByteArrayView bytes) {
    return QStringLiteral("recording not closed: %1 (%2)").arg(fileName, fileSummary(bytes));
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
