#pragma once

// Everything sealing asks of a program, behind a few calls: its key (made at
// the first start), the seals of the recordings its writer writes, and its
// audit trail with the events both programs share. Created at start, it
// writes "started"; destroyed at the end, "stopped". A window opens it after
// its first picture instead: the key and the trail's syncs wait till then,
// and the events of the start-up are held and follow "started" in order.

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

#include "AuditTrail.h"
#include "SealKey.h"

namespace recording {
class RecordWriter;
}

namespace sealing {

class FileSealer;
class RecorderState;

// The settings as saved: key and text, in the file's order.
using SettingsList = QList<std::pair<QString, QString>>;

class ProgramSeals {
public:
    // Never: no key, no trail, no seals; every call does nothing (a window
    // whose shop did not ask for records that hold).
    enum class Opening { Now, Deferred, Never };

    // keyPath: userKeyPath() or recorderKeyPath(), empty for no seals; the
    // trail is audit.log in the working folder. Deferred: nothing is read or
    // written before open().
    ProgramSeals(QString keyPath, QString program, QString version, AuditClock clock = {},
                 Opening opening = Opening::Now);
    ~ProgramSeals();
    ProgramSeals(const ProgramSeals&) = delete;
    ProgramSeals& operator=(const ProgramSeals&) = delete;

    // Loads the key and writes "started", then the events held so far.
    // Once; the destructor opens a trail never opened.
    void open();
    bool isOpen() const { return m_trail != nullptr; }
    bool isOff() const { return m_off; }

    // The recorder's way, before open(): what it writes is noted beside its
    // key, where only it may write (RecorderState), and at open() the folder
    // is compared with what the last run noted: a trail not the one it left
    // is kept aside, a recording it had open that is not as it wrote it is a
    // finding, one that is is closed as a crash left it; all in the trail
    // after "started". Its recordings are sealed only from their first byte.
    // A key that cannot be loaded leaves the trail as it is, and the seals
    // off: the recorder does not start without it.
    void keepRecorderState() { m_keepState = true; }
    // What open() found against the recorder's state and the trail, as
    // written in the trail: for the recorder to say too.
    const QStringList& foundAtStart() const { return m_foundAtStart; }

    // From now on each record writer's file gets its seal (opens); the
    // sealer, none without a key.
    // controller: on a bus, the controller whose sub-folder the files are in.
    std::shared_ptr<FileSealer> sealRecordsOf(recording::RecordWriter& writer,
                                              const QString& controller = {});

    // Once open. Empty without a key; keyProblem() then says why.
    QString keyFingerprint() const;
    QString keyProblem() const { return m_keyProblem; }
    QByteArray publicKey() const;
    // The key was made at this start: its holder has yet to be told to trust it.
    bool keyMade() const { return m_keyMade; }

    // Held until open() when not open yet.
    // False when the trail is open and could not take it.
    bool event(const QString& text);
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

    // Opens; not for one that is off.
    AuditTrail& trail();

private:
    QString m_keyPath;
    QString m_program;
    QString m_version;
    AuditClock m_clock;
    QString m_auditPath;
    QStringList m_held;
    // Before the key, which sets them as it is made.
    QString m_keyProblem;
    bool m_keyMade = false;
    std::optional<SealKey> m_key;
    std::unique_ptr<AuditTrail> m_trail;
    enum class Port { Unknown, Open, Closed, Lost };
    Port m_port = Port::Unknown;
    bool m_off = false;
    bool m_keepState = false;
    std::shared_ptr<RecorderState> m_state;
    QStringList m_foundAtStart;
};

// "recording not closed: REC_….csv (4320 records, 151234 bytes, hash …)":
// a file a crash left open, closed as found at the next start.
QString recordingNotClosedEvent(const QString& fileName, QByteArrayView bytes);

// "recording stopped: REC_….csv (4320 records, 151234 bytes, hash …)".
QString recordingStoppedEvent(const QString& fileName, QByteArrayView bytes);

// "settings saved: interv_record 20 → 10, Yvaluemax 300 → 400"; "settings
// saved: no change" when nothing differs.
QString settingsSavedEvent(const SettingsList& before, const SettingsList& after);

} // namespace sealing
