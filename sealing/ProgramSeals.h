#pragma once

// Everything sealing asks of a program, behind a few calls: its key (made at
// the first start), the seals of the recordings its writer writes, and its
// audit trail with the events both programs share. Created at start, it
// writes "started"; destroyed at the end, "stopped".

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

#include "AuditTrail.h"
#include "SealKey.h"

namespace recording {
class RecordWriter;
}

namespace sealing {

// The settings as saved: key and text, in the file's order.
using SettingsList = QList<std::pair<QString, QString>>;

class ProgramSeals {
public:
    // keyPath: userKeyPath() or recorderKeyPath(), empty for no seals; the
    // trail is audit.log in the working folder.
    ProgramSeals(const QString& keyPath, const QString& program, const QString& version,
                 AuditClock clock = {});
    ~ProgramSeals();
    ProgramSeals(const ProgramSeals&) = delete;
    ProgramSeals& operator=(const ProgramSeals&) = delete;

    // From now on each record writer's file gets its seal.
    void sealRecordsOf(recording::RecordWriter& writer);

    // Empty without a key; keyProblem() then says why.
    QString keyFingerprint() const;
    QString keyProblem() const { return m_keyProblem; }
    QByteArray publicKey() const;
    // The key was made at this start: its holder has yet to be told to trust it.
    bool keyMade() const { return m_keyMade; }

    void event(const QString& text);
    // Called after each attempt to open the port and at each poll: the trail
    // gets "port opened", "port lost" and "port reopened" on the changes.
    void portState(bool connected, const QString& device);
    // The port closed on purpose for the controller search: "port lent to
    // the controller search", not "port lost"; its return is "port opened".
    void portLent(const QString& device);
    void recordingStarted(const QString& fileName);
    // With the file's final record count, size and hash.
    void recordingStopped(const QString& fileName);
    void settingsSaved(const SettingsList& before, const SettingsList& after);

    AuditTrail& trail() { return *m_trail; }

private:
    // Before the key, which sets them as it is made.
    QString m_keyProblem;
    bool m_keyMade = false;
    std::optional<SealKey> m_key;
    std::unique_ptr<AuditTrail> m_trail;
    enum class Port { Unknown, Open, Closed, Lost };
    Port m_port = Port::Unknown;
};

// "recording stopped: REC_….csv (4320 records, 151234 bytes, hash …)".
QString recordingStoppedEvent(const QString& fileName, QByteArrayView bytes);

// "settings saved: interv_record 20 → 10, Yvaluemax 300 → 400"; "settings
// saved: no change" when nothing differs.
QString settingsSavedEvent(const SettingsList& before, const SettingsList& after);

} // namespace sealing
