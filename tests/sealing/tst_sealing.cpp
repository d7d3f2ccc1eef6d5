#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "AuditTrail.h"
#include "FileSealer.h"
#include "ProgramSeals.h"
#include "RecordFile.h"
#include "RecordFormat.h"
#include "RecorderState.h"
#include "RunEvent.h"
#include "SealKey.h"
#include "SealText.h"
#include "TrailCheck.h"
#include "TrustedKeys.h"
#include "Verification.h"

#include <sys/stat.h>

using namespace sealing;

namespace {

const QString recordingName = QStringLiteral("REC_2026-12-08_21-33-01.csv");
const QStringList records = {
    QStringLiteral("\"08/12/2026 21:33:01\";2000;1987;35;\r\n"),
    QStringLiteral("\"08/12/2026 21:33:21\";2000;1993;31;\r\n"),
    QStringLiteral("\"08/12/2026 21:33:41\";2000;1999;28;\r\n"),
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A recording of three records sealed as the record writer seals it: one
// append and one seal at a time.
void writeSealed(const QString& path, const SealKey& key) {
    FileSealer sealer(key, 1);
    for (const QString& line : records) {
        const recording::AppendOutcome outcome =
            recording::appendRecord(path, line, recording::headerLine());
        QVERIFY(outcome.ok);
        QVERIFY(sealer.appended(path, outcome.sizeBefore, outcome.bytes));
    }
}

enum class Edit {
    None,
    DigitChanged,
    LineRemoved,
    LineInserted,
    LinesAppended,
    LastLineRemoved,
    CutMidLine,
    HalfLineAfter,
    KilledBeforeRecord,
    KilledBeforeSeal,
    LineEndsChanged,
    SealEdited,
    AnotherKeysSeal,
    SealRemoved,
    ResealedWithFreshKey,
    SealCopiedToAnotherName,
    OldSealPutBackAfterTruncation,
    KeyOpenToOthers,
    FirstFormat,
    SealUnwritableOnce,
    SealCountingBeyondAnyFile,
    FifoForSeal,
    FifoForBlocks,
    FifoForRecording,
    KeyInOpenFolder,
    OneBlockOfManyEdited,
    BlockListCutAfterAnEdit,
    BusFoldersSwapped,
    BusFileInItsFolder,
};

enum class FolderEdit {
    None,
    RecordingRolledBack,
    RecordingDeleted,
    RecordingChanged,
    RecordingUnknown,
    TrailLineDeleted,
    TimeGoesBack,
    OperatorInJournal,
    TrailRolledBack,
    OpenRecordingCutBack,
    TrailFoundRemoved,
    KeptTrailMissing,
    RestartedAfterAKill,
    RestartedOnARolledBackTrail,
};

enum class Damage {
    LineDeletedWhileRunning,
    RemovedWhileRunning,
    RemovedBetweenRuns,
    EditedBetweenRuns,
    ClockSetBack,
    FifoWhileRunning,
    RolledBackBetweenRuns,
    KilledBeforeTheStateNotedAnEntry,
};

} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(FolderEdit)
Q_DECLARE_METATYPE(SteadyClocks)

class TestSealing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fingerprintOfKnownKey();
    void verdictAfterEdit_data();
    void verdictAfterEdit();
    void auditTrailAcrossClockChanges_data();
    void auditTrailAcrossClockChanges();
    void auditTrailAfterDamage_data();
    void auditTrailAfterDamage();
    void folderAgainstTrail_data();
    void folderAgainstTrail();
    void recorderKilledBeforeAFilesFirstByte();
    void runWords_data();
    void runWords();
};

void TestSealing::fingerprintOfKnownKey() {
    // sha256sum of 32 zero bytes: 66687aadf862bd776c8fc18b8e9f8e20...
    QCOMPARE(fingerprint(QByteArray(32, '\0')), QStringLiteral("66687aadf862bd77"));

    // A seal.key given with --trust: its random bytes may hold a newline.
    QTemporaryDir dir;
    const QString keyFile = dir.filePath(QStringLiteral("seal.key"));
    const QByteArray publicHalf(32, '\n');
    writeFile(keyFile, QByteArray(32, '\n') + publicHalf);
    TrustedKeys trusted;
    QString problem;
    QVERIFY2(trusted.add(keyFile, QStringLiteral("given"), &problem), qPrintable(problem));
    QCOMPARE(trusted.labelOf(publicHalf), QStringLiteral("given"));
}

void TestSealing::verdictAfterEdit_data() {
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("verdict");

    // The header is line 1, the three records lines 2 to 4, one block.
    const QString by = QStringLiteral("; seal signed by oven1 recorder (key %1)");
    const QString lost =
        QStringLiteral("3 of 4 sealed lines left; nothing verified from line 2 on");
    QTest::newRow("untouched") << Edit::None
                               << "sealed: 3 records intact, signed by oven1 recorder (key %1)";
    QTest::newRow("a digit changed")
        << Edit::DigitChanged << "differs from line 2 on; nothing after it verified" + by;
    QTest::newRow("a line removed") << Edit::LineRemoved << lost + by;
    QTest::newRow("a line inserted")
        << Edit::LineInserted << "differs from line 2 on; nothing after it verified" + by;
    QTest::newRow("lines appended") << Edit::LinesAppended << "2 lines added after line 4" + by;
    QTest::newRow("the last line removed") << Edit::LastLineRemoved << lost + by;
    QTest::newRow("cut in the middle of a line") << Edit::CutMidLine << lost + by;
    QTest::newRow("stopped while writing")
        << Edit::HalfLineAfter << "half a line after the sealed lines" + by;
    // Killed between the seal that announces a record and the one after it.
    QTest::newRow("killed before the record")
        << Edit::KilledBeforeRecord
        << "sealed: 3 records intact, signed by oven1 recorder (key %1)";
    QTest::newRow("killed after the record")
        << Edit::KilledBeforeSeal << "sealed: 4 records intact, signed by oven1 recorder (key %1)";
    QTest::newRow("line ends turned into LF")
        << Edit::LineEndsChanged
        << "differs from line 1 on; nothing after it verified (a spreadsheet save changes line 1: "
           "verify the file as recorded, not a copy saved again)" +
               by;
    QTest::newRow("record count in the seal edited")
        << Edit::SealEdited << QStringLiteral("seal signature invalid");
    QTest::newRow("another key in the seal")
        << Edit::AnotherKeysSeal << QStringLiteral("seal signature invalid");
    QTest::newRow("seal removed") << Edit::SealRemoved << QStringLiteral("no seal");
    QTest::newRow("re-sealed with a fresh key")
        << Edit::ResealedWithFreshKey
        << QStringLiteral("intact, but signed by an untrusted key %2");
    QTest::newRow("seal copied to another name")
        << Edit::SealCopiedToAnotherName
        << "a seal made for the recording REC_2026-12-08_21-33-01.csv, not for this file" + by;
    QTest::newRow("old seal put back after truncation")
        << Edit::OldSealPutBackAfterTruncation
        << "whole up to line 4 as the seal has it, but the block hashes beside it go on for 1 "
           "more block: an older seal put back, or hashes added" +
               by;
    QTest::newRow("key with mode 0644")
        << Edit::KeyOpenToOthers << "%3 has mode 0644, open to others; it must be 0600: refused";
    QTest::newRow("seal not written once (a full disk)")
        << Edit::SealUnwritableOnce
        << "sealed: 6 records intact, signed by oven1 recorder (key %1)";
    // Signed by the recorder's own key, so that only its counts are wrong.
    QTest::newRow("seal counting more blocks than any file holds")
        << Edit::SealCountingBeyondAnyFile
        << "seal not read: its counts or hashes are no file's (more blocks than lines, more "
           "lines than bytes, or beyond any disk)" +
               by;
    QTest::newRow("fifo in place of the seal")
        << Edit::FifoForSeal << QStringLiteral("seal not a regular file: not read");
    QTest::newRow("fifo in place of the block hashes")
        << Edit::FifoForBlocks << "sealed: 3 records intact, signed by oven1 recorder (key %1)";
    QTest::newRow("fifo in place of the recording")
        << Edit::FifoForRecording << QStringLiteral("not a regular file: not read");
    QTest::newRow("key in a folder others may write")
        << Edit::KeyInOpenFolder << "%3 is in %4, a folder others may write (mode 0777): refused";
    // 196 lines: the header, three blocks of 64 and three lines in none.
    QTest::newRow("line 150 of 196 edited")
        << Edit::OneBlockOfManyEdited
        << "lines 130 to 193 differ (block 4 of 5); the other whole blocks hold; lines 194 to "
           "196, not yet a whole block, cannot be checked apart" +
               by;
    QTest::newRow("line 150 edited and the block hashes cut")
        << Edit::BlockListCutAfterAnEdit
        << "differs from the sealed lines; where cannot be told, the block hashes beside the seal "
           "not being those it signed" +
               by;
    QTest::newRow("bus: oven1's file put in oven2's folder")
        << Edit::BusFoldersSwapped
        << "a seal made for the recording oven1/REC_2026-12-08_21-33-01.csv, not for this file" +
               by;
    QTest::newRow("bus: oven1's file in its own folder")
        << Edit::BusFileInItsFolder
        << "sealed: 3 records intact, signed by oven1 recorder (key %1)";
    QTest::newRow("format 1, as sealed before block hashes")
        << Edit::FirstFormat
        << "sealed: 3 records intact, signed by oven1 recorder (key 0fc5503de4a058da) (format 1)";
}

void TestSealing::verdictAfterEdit() {
    QFETCH(Edit, edit);
    QFETCH(QString, verdict);
    QTemporaryDir dir;
    QString path = dir.filePath(recordingName);
    SealKey key = generateKey();
    key.signer = QStringLiteral("tkrecord");
    SealKey fresh = generateKey();
    fresh.signer = key.signer;
    const auto expected = [&](const QString& keyPath = {}) {
        return QString(verdict)
            .replace(QLatin1String("%1"), fingerprint(key.publicKey))
            .replace(QLatin1String("%2"), fingerprint(fresh.publicKey))
            .replace(QLatin1String("%3"), keyPath)
            .replace(QLatin1String("%4"), QFileInfo(keyPath).path());
    };
    const auto makeFifo = [](const QString& at) {
        QFile::remove(at);
        return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0;
    };
    TrustedKeys trusted;
    QVERIFY(trusted.add(TrustedKeys::lineFor(key.publicKey, {}), QStringLiteral("oven1 recorder"),
                        nullptr));
    if (edit == Edit::FirstFormat) {
        const QString sample = QStringLiteral(SOURCE_DIR "/format1/") + recordingName;
        QVERIFY(QFile::copy(sample, path) && QFile::copy(sample + sealSuffix, path + sealSuffix));
        QVERIFY(trusted.add(QStringLiteral("0fc5503de4a058da"), QStringLiteral("oven1 recorder"),
                            nullptr));
    } else {
        writeSealed(path, key);
    }
    QByteArray file = readFile(path);
    QByteArray seal = readFile(path + sealSuffix);
    QList<QByteArray> lines = file.split('\n');
    const auto joined = [&lines] { return lines.join('\n'); };

    switch (edit) {
    case Edit::None:
        break;
    case Edit::DigitChanged:
        file.replace("1993", "1998");
        break;
    case Edit::LineRemoved:
        lines.removeAt(1);
        file = joined();
        break;
    case Edit::LineInserted:
        lines.insert(2, "\"08/12/2026 21:33:11\";2000;1990;33;\r");
        file = joined();
        break;
    case Edit::LinesAppended:
        file += records[1].toLatin1() + records[2].toLatin1();
        break;
    case Edit::LastLineRemoved:
        file.chop(records[2].size());
        break;
    case Edit::CutMidLine:
        file.chop(10);
        break;
    case Edit::HalfLineAfter:
        file += records[2].left(12).toLatin1();
        break;
    case Edit::KilledBeforeRecord:
    case Edit::KilledBeforeSeal: {
        const QByteArray next = "\"08/12/2026 21:34:01\";2000;2001;26;\r\n";
        QVERIFY(FileSealer(key, 1).prepare(path, file.size(), next));
        seal = readFile(path + sealSuffix);
        if (edit == Edit::KilledBeforeSeal)
            file += next;
        break;
    }
    case Edit::LineEndsChanged:
        file.replace("\r\n", "\n");
        break;
    case Edit::SealEdited:
        seal.replace("records 3\n", "records 4\n");
        break;
    case Edit::AnotherKeysSeal:
        seal.replace(key.publicKey.toHex(), generateKey().publicKey.toHex());
        break;
    case Edit::SealRemoved:
        QVERIFY(QFile::remove(path + sealSuffix));
        break;
    case Edit::ResealedWithFreshKey:
        file.replace("1993", "1998");
        seal = sealText(
            [&] {
                SealState state = chainStart(recordingName, fresh.publicKey, 1);
                addBytes(state, file);
                return state;
            }(),
            fresh);
        break;
    case Edit::SealCopiedToAnotherName:
        path = dir.filePath(QStringLiteral("REC_2026-12-09_00-00-00.csv"));
        break;
    case Edit::OldSealPutBackAfterTruncation: {
        // A block's worth of records later, the file is cut back and the
        // seal of then put back.
        QByteArray more;
        for (int i = 0; i < blockLines; ++i)
            more += records[0].toLatin1();
        QVERIFY(FileSealer(key, 1).appended(path, file.size(), more));
        QVERIFY(QFile::resize(path, file.size()));
        break;
    }
    case Edit::KeyOpenToOthers: {
        const QString keyPath = dir.filePath(QStringLiteral("seal.key"));
        QVERIFY(loadOrCreateKey(keyPath));
        QCOMPARE(::chmod(QFile::encodeName(keyPath).constData(), 0644), 0);
        QString problem;
        QVERIFY(!loadOrCreateKey(keyPath, &problem));
        QCOMPARE(problem, expected(keyPath));
        return;
    }
    case Edit::SealUnwritableOnce: {
        // The second of three records finds no room for its seal (a folder
        // in the seal's place); the third seals all.
        FileSealer sealer(key, 1);
        for (int i = 0; i < 3; ++i) {
            if (i == 1)
                QVERIFY(QFile::remove(path + sealSuffix) && QDir().mkdir(path + sealSuffix) &&
                        QFile(path + sealSuffix + "/full").open(QIODevice::WriteOnly));
            if (i == 2)
                QVERIFY(QDir(path + sealSuffix).removeRecursively());
            const recording::AppendOutcome outcome = recording::appendRecord(path, records[i]);
            QCOMPARE(sealer.appended(path, outcome.sizeBefore, outcome.bytes), i != 1);
        }
        file = readFile(path);
        seal = readFile(path + sealSuffix);
        break;
    }
    case Edit::SealCountingBeyondAnyFile: {
        QList<QByteArray> values;
        for (const QByteArray& line : seal.split('\n').mid(1, 9))
            values << line.mid(line.indexOf(' ') + 1);
        values[7] = "288230376151711744 " + values[7].split(' ').value(1);
        seal = signedSealText(values, key);
        break;
    }
    case Edit::OneBlockOfManyEdited:
    case Edit::BlockListCutAfterAnEdit: {
        QByteArray more;
        for (int i = 0; i < 3 * blockLines; ++i)
            more += records[0].toLatin1();
        writeFile(path, file + more);
        QVERIFY(FileSealer(key, 1).appended(path, file.size(), more));
        lines = readFile(path).split('\n');
        lines[149].replace("1987", "1988");
        file = joined();
        seal = readFile(path + sealSuffix);
        if (edit == Edit::BlockListCutAfterAnEdit)
            QVERIFY(QFile::resize(path + blocksSuffix, blockHashBytes));
        break;
    }
    case Edit::BusFoldersSwapped:
    case Edit::BusFileInItsFolder: {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("oven1")) &&
                QDir(dir.path()).mkpath(QStringLiteral("oven2")));
        path = dir.filePath(QStringLiteral("oven1/") + recordingName);
        FileSealer sealer(key, 1, QStringLiteral("oven1"));
        QVERIFY(sealer.appended(path, 0, file) && QFile::copy(dir.filePath(recordingName), path));
        seal = readFile(path + sealSuffix);
        if (edit == Edit::BusFoldersSwapped)
            path = dir.filePath(QStringLiteral("oven2/") + recordingName);
        break;
    }
    case Edit::FifoForSeal:
    case Edit::FifoForBlocks:
    case Edit::FifoForRecording:
        break;
    case Edit::KeyInOpenFolder: {
        // A folder that was there keeps its mode; one others may write is
        // refused.
        const QString folder = dir.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        const QString keyPath = folder + QStringLiteral("/seal.key");
        QVERIFY(loadOrCreateKey(keyPath));
        struct ::stat status {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0755));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
        QString problem;
        QVERIFY(!loadOrCreateKey(keyPath, &problem));
        QCOMPARE(problem, expected(keyPath));
        return;
    }
    case Edit::FirstFormat:
        break;
    }
    if (edit != Edit::SealRemoved && edit != Edit::FifoForSeal)
        writeFile(path + sealSuffix, seal);
    if (edit != Edit::FifoForRecording)
        writeFile(path, file);
    // Nothing writes to these: a reader that waited on one would wait for ever.
    if (edit == Edit::FifoForSeal)
        QVERIFY(makeFifo(path + sealSuffix));
    if (edit == Edit::FifoForBlocks)
        QVERIFY(makeFifo(path + blocksSuffix));
    if (edit == Edit::FifoForRecording)
        QVERIFY(makeFifo(path));

    QCOMPARE(verdictText(verifyFile(path, trusted)), expected());
}

void TestSealing::auditTrailAcrossClockChanges_data() {
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QDateTime>("after");
    QTest::addColumn<SteadyClocks>("steady"); // how far each went between the two
    QTest::addColumn<QStringList>("clockEvents");

    const QDateTime winter(QDate(2026, 3, 29), QTime(1, 59, 59), Qt::OffsetFromUTC, 3600);
    const SteadyClocks half{30000, 30000, 30000};
    QTest::newRow("steady") << winter << winter.addSecs(30) << half << QStringList();
    QTest::newRow("drift of 2 s") << winter << winter.addSecs(32) << half << QStringList();
    QTest::newRow("set an hour forward")
        << winter << winter.addSecs(3630) << half
        << QStringList{QStringLiteral("wall clock jumped +3600.0 s against the monotonic clock")};
    QTest::newRow("set back 2.5 s")
        << winter << winter.addMSecs(27500) << half
        << QStringList{QStringLiteral("wall clock jumped -2.5 s against the monotonic clock")};
    QTest::newRow("summer time begins")
        << winter << winter.addSecs(1).toOffsetFromUtc(7200) << SteadyClocks{1000, 1000, 1000}
        << QStringList{QStringLiteral("UTC offset changed from +01:00 to +02:00")};
    // A time service slowing the monotonic clock, and a suspend: no jump.
    QTest::newRow("monotonic clock slewed")
        << winter << winter.addSecs(30) << SteadyClocks{30000, 27000, 27000} << QStringList();
    QTest::newRow("suspended an hour")
        << winter << winter.addSecs(3630) << SteadyClocks{30000, 30000, 3630000} << QStringList();
}

void TestSealing::auditTrailAcrossClockChanges() {
    QFETCH(QDateTime, before);
    QFETCH(QDateTime, after);
    QFETCH(SteadyClocks, steady);
    QFETCH(QStringList, clockEvents);
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(auditFileName));
    const SealKey key = generateKey();
    QDateTime wall = before;
    SteadyClocks clocks{5000, 5000, 5000};
    const AuditClock clock{[&wall] { return wall; }, [&clocks] { return clocks; }};

    // Two runs of the program, the clock moving during the second.
    {
        AuditTrail first(path, key, QStringLiteral("tkrecord"), QStringLiteral("1.02"), clock);
        first.record(AuditTrail::startedEvent(key, {}));
    }
    AuditTrail second(path, key, QStringLiteral("tkrecord"), QStringLiteral("1.02"), clock);
    wall = after;
    clocks = {clocks.rawMs + steady.rawMs, clocks.monotonicMs + steady.monotonicMs,
              clocks.bootMs + steady.bootMs};
    second.record(QStringLiteral("stopped"));

    const QString source =
        systemUserName() + QLatin1Char(';') + hostName() + QStringLiteral(";tkrecord 1.02;");
    QStringList expected{QStringLiteral("1;") + isoTime(before) + QLatin1Char(';') + source +
                         QStringLiteral("started, key ") + fingerprint(key.publicKey)};
    for (const QString& event : clockEvents << QStringLiteral("stopped"))
        expected << QStringLiteral("%1;").arg(expected.size() + 1) + isoTime(after) +
                        QLatin1Char(';') + source + event;
    QCOMPARE(QString::fromUtf8(readFile(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts),
             expected);
    QCOMPARE(verdictText(verifyFile(path)),
             QStringLiteral("intact, but signed by an untrusted key %1, the operator's own key")
                 .arg(fingerprint(key.publicKey)));
}

void TestSealing::auditTrailAfterDamage_data() {
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QStringList>("events"); // of the new audit.log; HEAD the last known head

    const QString started = QStringLiteral("recording started: ") + recordingName;
    QTest::newRow("trail line deleted while running")
        << Damage::LineDeletedWhileRunning
        << QStringList{QStringLiteral("audit trail changed while running; kept as audit-1.log; "
                                      "last entry 2, head HEAD"),
                       QStringLiteral("stopped")};
    QTest::newRow("trail removed while running")
        << Damage::RemovedWhileRunning
        << QStringList{QStringLiteral("audit trail removed while running; last entry 2, head HEAD"),
                       QStringLiteral("stopped")};
    QTest::newRow("trail removed between runs")
        << Damage::RemovedBetweenRuns
        << QStringList{QStringLiteral("audit trail missing (its seal is there)"),
                       QStringLiteral("stopped")};
    QTest::newRow("trail edited between runs")
        << Damage::EditedBetweenRuns
        << QStringList{QStringLiteral("audit trail found differs from line 1 on; nothing after it "
                                      "verified; seal signed by this program's own key (key "
                                      "KEY); kept as audit-1.log, head HEAD"),
                       QStringLiteral("stopped")};
    // Nothing writes to the fifo: a trail that waited on it would hang.
    QTest::newRow("trail replaced by a fifo while running")
        << Damage::FifoWhileRunning
        << QStringList{QStringLiteral("audit trail changed while running; kept as audit-1.log; "
                                      "last entry 2, head HEAD"),
                       QStringLiteral("stopped")};
    // An older copy of the trail with its seal, which holds: kept aside as
    // it is, and still verifiable there.
    QTest::newRow("trail put back to an older copy between runs")
        << Damage::RolledBackBetweenRuns
        << QStringList{QStringLiteral("audit trail found rolled back to entry 1 (the recorder's "
                                      "last was entry 2, head LEFT); kept as audit-1.log, head "
                                      "HEAD"),
                       QStringLiteral("stopped")};
    // The recorder's own last entry, which its state had yet to note: taken on.
    QTest::newRow("killed between an entry and the state's note of it")
        << Damage::KilledBeforeTheStateNotedAnEntry
        << QStringList{QStringLiteral("started"), started,
                       QStringLiteral("audit trail taken on: entry 2 was written as the recorder "
                                      "stopped (a crash or a kill), before it noted it beside its "
                                      "key, where entry 1 was its last"),
                       QStringLiteral("stopped")};
    QTest::newRow("clock set back between runs")
        << Damage::ClockSetBack
        << QStringList{QStringLiteral("started"), started,
                       QStringLiteral("clock earlier than the trail's last entry, "
                                      "2026-12-08T21:33:01+01:00"),
                       QStringLiteral("stopped")};
}

void TestSealing::auditTrailAfterDamage() {
    QFETCH(Damage, damage);
    QFETCH(QStringList, events);
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(auditFileName));
    const SealKey key = generateKey();
    QDateTime wall(QDate(2026, 12, 8), QTime(21, 33, 1), Qt::OffsetFromUTC, 3600);
    const AuditClock clock{[&wall] { return wall; }, [] { return SteadyClocks{}; }};
    std::optional<TrailMark> left;
    const auto run = [&] {
        return std::make_unique<AuditTrail>(path, key, QStringLiteral("tkcontrol"),
                                            QStringLiteral("1.02"), clock, nullptr, left);
    };
    auto trail = run();
    trail->record(QStringLiteral("started"));
    // The trail and its seal as they were after the first entry.
    const QByteArray firstTrail = readFile(path);
    const QByteArray firstSeal = readFile(path + sealSuffix);
    trail->record(QStringLiteral("recording started: ") + recordingName);
    QString head = trail->head();
    const QString leftHead = head;
    const bool restarted = damage != Damage::LineDeletedWhileRunning &&
                           damage != Damage::RemovedWhileRunning &&
                           damage != Damage::FifoWhileRunning;
    if (restarted)
        trail.reset();
    QByteArray bytes = readFile(path);
    switch (damage) {
    case Damage::LineDeletedWhileRunning:
        writeFile(path, bytes.mid(bytes.indexOf('\n') + 1));
        break;
    case Damage::RemovedWhileRunning:
    case Damage::RemovedBetweenRuns:
        QVERIFY(QFile::remove(path));
        break;
    case Damage::EditedBetweenRuns:
        writeFile(path, bytes.replace("21-33-01", "21-33-02"));
        head = trailHead(bytes);
        break;
    case Damage::ClockSetBack:
        wall = wall.addSecs(-3600);
        break;
    case Damage::FifoWhileRunning:
        QVERIFY(QFile::remove(path));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        break;
    case Damage::RolledBackBetweenRuns:
        left = TrailMark{2, head};
        writeFile(path, firstTrail);
        writeFile(path + sealSuffix, firstSeal);
        head = trailHead(firstTrail);
        break;
    case Damage::KilledBeforeTheStateNotedAnEntry:
        left = TrailMark{1, trailHead(firstTrail)};
        break;
    }
    if (restarted)
        trail = run();
    trail->record(QStringLiteral("stopped"));

    QStringList written;
    for (const QByteArray& line : readFile(path).split('\n'))
        written << QString::fromUtf8(line.trimmed()).section(QLatin1Char(';'), 5);
    QCOMPARE(written, events.replaceInStrings(QStringLiteral("HEAD"), head)
                              .replaceInStrings(QStringLiteral("LEFT"), leftHead.left(16))
                              .replaceInStrings(QStringLiteral("KEY"), fingerprint(key.publicKey))
                          << QString());
    QCOMPARE(verdictText(verifyFile(path)),
             QStringLiteral("intact, but signed by an untrusted key %1, the operator's own key")
                 .arg(fingerprint(key.publicKey)));
    // The damaged trail kept as it was found, and reported; one that holds
    // under its seal still verifies under its new name.
    if (events[0].contains(QLatin1String("kept as audit-1.log")))
        QCOMPARE(verifyFile(dir.filePath(QStringLiteral("audit-1.log"))).intact(),
                 damage == Damage::RolledBackBetweenRuns);
}

void TestSealing::folderAgainstTrail_data() {
    QTest::addColumn<FolderEdit>("edit");
    QTest::addColumn<QStringList>("findings"); // HEAD: the journal's head, shortened

    const QString name = recordingName;
    const QString journalDiffers =
        QStringLiteral("journal: entry 4, head HEAD: in the journal, in no audit trail");
    QTest::newRow("all agree") << FolderEdit::None << QStringList();
    QTest::newRow("recording rolled back")
        << FolderEdit::RecordingRolledBack
        << QStringList{name + QStringLiteral(": rolled back to 108 bytes (the audit trail closed "
                                             "it at 3 records, 145 bytes)")};
    QTest::newRow("recording deleted")
        << FolderEdit::RecordingDeleted
        << QStringList{name + QStringLiteral(": missing (the audit trail knows it)")};
    QTest::newRow("recording changed")
        << FolderEdit::RecordingChanged
        << QStringList{name + QStringLiteral(": not as the audit trail closed it (3 records, "
                                             "145 bytes)")};
    QTest::newRow("recording unknown to the trail")
        << FolderEdit::RecordingUnknown
        << QStringList{QStringLiteral("REC_2026-12-09_08-00-00.csv: not in the audit trail")};
    // The recorder's state, kept where only it writes, says the same.
    const QString stateDiffers = QStringLiteral("state: audit.log: the recorder's last entry 4, "
                                                "head HEAD, is in no audit trail: rolled back or "
                                                "rewritten");
    QTest::newRow("trail line deleted")
        << FolderEdit::TrailLineDeleted
        << QStringList{QStringLiteral("audit.log: entry 3 follows entry 1"), journalDiffers,
                       stateDiffers};
    QTest::newRow("time goes back")
        << FolderEdit::TimeGoesBack
        << QStringList{QStringLiteral("audit.log: entry 4 at 2026-12-08T20:00:04+01:00 is earlier "
                                      "than the one before, at 2026-12-08T21:33:03+01:00"),
                       journalDiffers, stateDiffers};
    // The whole folder as it was an entry earlier: nothing in it disagrees.
    QTest::newRow("trail and folder rolled back together")
        << FolderEdit::TrailRolledBack
        << QStringList{QStringLiteral("REC_2026-12-08_22-00-00.csv: not in the audit trail"),
                       journalDiffers, stateDiffers};
    QTest::newRow("recording the recorder had open cut back")
        << FolderEdit::OpenRecordingCutBack
        << QStringList{QStringLiteral("state: REC_2026-12-08_22-00-00.csv: cut back to 34 bytes "
                                      "(the recorder had written 71 bytes, hash OPEN)")};
    QTest::newRow("operator's line in the journal")
        << FolderEdit::OperatorInJournal << QStringList();
    QTest::newRow("trail's own finding")
        << FolderEdit::TrailFoundRemoved
        << QStringList{QStringLiteral("audit.log: entry 5 says: audit trail removed while "
                                      "running; last entry 4, head 0123abcd")};
    QTest::newRow("trail kept aside, then deleted")
        << FolderEdit::KeptTrailMissing
        << QStringList{QStringLiteral("audit.log: entry 5 says: audit trail changed while "
                                      "running; kept as audit-1.log; last entry 4, head 0123abcd"),
                       QStringLiteral("audit-1.log: missing (the audit trail kept it aside under "
                                      "this name)")};
    // How the run of the trail kept aside ended is not known: no crash said.
    QTest::newRow("restarted on a trail found rolled back")
        << FolderEdit::RestartedOnARolledBackTrail
        << QStringList{QStringLiteral("audit.log: entry 5 says: audit trail found rolled back to "
                                      "entry 2; kept as audit-1.log, head 0123abcd"),
                       QStringLiteral("audit-1.log: missing (the audit trail kept it aside under "
                                      "this name)")};
    QTest::newRow("restarted after a kill")
        << FolderEdit::RestartedAfterAKill
        << QStringList{QStringLiteral("audit.log: entry 5: started again after a run that did "
                                      "not say \"stopped\" (a crash or a kill)"),
                       QStringLiteral("REC_2026-12-08_22-00-00.csv: not closed: the recorder "
                                      "stopped without closing it")};
}

void TestSealing::folderAgainstTrail() {
    QFETCH(FolderEdit, edit);
    QFETCH(QStringList, findings);
    QTemporaryDir dir;
    const SealKey key = generateKey();
    QDateTime wall(QDate(2026, 12, 8), QTime(21, 33, 0), Qt::OffsetFromUTC, 3600);
    const AuditClock clock{[&wall] { return wall; }, [] { return SteadyClocks{}; }};
    AuditTrail trail(dir.filePath(QLatin1String(auditFileName)), key, QStringLiteral("tkrecord"),
                     QStringLiteral("1.02"), clock);
    std::map<QString, QByteArray> recordings;
    QByteArray& recording = recordings[recordingName];
    recording = recording::headerLine().toLatin1() + records.join(QString()).toLatin1();
    const QString running = QStringLiteral("REC_2026-12-08_22-00-00.csv");
    recordings[running] = recording::headerLine().toLatin1() + records[0].toLatin1();
    for (const QString& event :
         {QStringLiteral("started"), QStringLiteral("recording started: ") + recordingName,
          recordingStoppedEvent(recordingName, recording),
          QStringLiteral("recording started: ") + running}) {
        wall = wall.addSecs(1);
        trail.record(event);
    }
    QByteArray bytes = readFile(dir.filePath(QLatin1String(auditFileName)));
    // As journalctl -o json gives a line.
    const auto logged = [](const char* uid, const QString& message) {
        return QJsonDocument(QJsonObject{{"_UID", uid}, {"MESSAGE", message}})
                   .toJson(QJsonDocument::Compact) +
               '\n';
    };
    QByteArray journal = logged("990", journalLine(trail.sequence(), trail.head()));
    const RecorderStateData state{
        dir.path(),
        trail.sequence(),
        trail.head(),
        {{running, {recordings[running].size(), trailHead(recordings[running]), 0, {}}}}};

    switch (edit) {
    case FolderEdit::None:
        break;
    case FolderEdit::RecordingRolledBack:
        recording.chop(records[2].size());
        break;
    case FolderEdit::RecordingDeleted:
        recordings.erase(recordingName);
        break;
    case FolderEdit::RecordingChanged:
        recording.replace("1993", "1998");
        break;
    case FolderEdit::RecordingUnknown:
        recordings[QStringLiteral("REC_2026-12-09_08-00-00.csv")] = recording;
        break;
    case FolderEdit::TrailLineDeleted:
        bytes.remove(bytes.indexOf("\n2;") + 1, bytes.indexOf("\n3;") - bytes.indexOf("\n2;"));
        break;
    case FolderEdit::TimeGoesBack:
        bytes.replace("4;2026-12-08T21:33:04", "4;2026-12-08T20:00:04");
        break;
    case FolderEdit::TrailFoundRemoved:
    case FolderEdit::KeptTrailMissing:
    case FolderEdit::RestartedAfterAKill:
    case FolderEdit::RestartedOnARolledBackTrail: {
        const QString lastKnown = QStringLiteral("last entry 4, head 0123abcd");
        if (edit == FolderEdit::RestartedOnARolledBackTrail)
            trail.record(QStringLiteral("audit trail found rolled back to entry 2; kept as "
                                        "audit-1.log, head 0123abcd"));
        trail.record(edit == FolderEdit::TrailFoundRemoved
                         ? QStringLiteral("audit trail removed while running; ") + lastKnown
                     : edit == FolderEdit::KeptTrailMissing
                         ? QStringLiteral("audit trail changed while running; kept as "
                                          "audit-1.log; ") +
                               lastKnown
                         : QStringLiteral("started"));
        bytes = readFile(dir.filePath(QLatin1String(auditFileName)));
        break;
    }
    case FolderEdit::TrailRolledBack:
        bytes.truncate(bytes.indexOf("\n4;") + 1);
        break;
    case FolderEdit::OpenRecordingCutBack:
        recordings[running] = recording::headerLine().toLatin1();
        break;
    case FolderEdit::OperatorInJournal:
        // Anyone may log any text; only the journal's own _UID tells who.
        journal += logged("1000", journalLine(9, trailHead("x")));
        break;
    }
    QStringList found = trailFindings({{auditFileName, bytes}}, recordings);
    for (const QString& finding :
         journalFindings(journal, QStringLiteral("990"), {{auditFileName, bytes}}))
        found << QStringLiteral("journal: ") + finding;
    for (const QString& finding : stateFindings(state, {{auditFileName, bytes}}, recordings))
        found << QStringLiteral("state: ") + finding;
    QCOMPARE(found,
             findings.replaceInStrings(QStringLiteral("HEAD"), state.trailHead.left(16))
                 .replaceInStrings(QStringLiteral("OPEN"), state.open.at(running).hash.left(16)));
}

// Killed after noting a new recording and before its first byte landed: at
// the next start there is no file, and nothing to say of it.
void TestSealing::recorderKilledBeforeAFilesFirstByte() {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString keyPath = dir.filePath(QStringLiteral("keys/recorder.key"));
    QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("keys")),
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto start = [&keyPath] {
        auto seals = std::make_unique<ProgramSeals>(keyPath, QStringLiteral("tkrecord"),
                                                    QStringLiteral("1.02"), AuditClock{},
                                                    ProgramSeals::Opening::Deferred);
        seals->keepRecorderState();
        seals->open();
        return seals;
    };
    start().reset();
    const QString statePath = statePathFor(keyPath, dir.path());
    std::optional<RecorderStateData> state = loadRecorderState(statePath);
    QVERIFY(state);
    state->open[QStringLiteral("REC_2026-12-08_22-00-00.csv")] = {0, trailHead({}), 120,
                                                                  trailHead("x")};
    QFile file(statePath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(stateText(*state)) > 0);
    file.close();
    const QStringList found = start()->foundAtStart();
    QDir::setCurrent(old);
    QVERIFY2(found.filter(QStringLiteral("REC_")).isEmpty(), qPrintable(found.join('\n')));
}

void TestSealing::runWords_data() {
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("controller");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("fileOrMark");
    // batch, part, customer, operator, note; for a mark, who marked it.
    QTest::addColumn<QStringList>("fields");

    const auto run = [](const RunIdentity& identity) { return runEvent(recordingName, identity); };
    QTest::newRow("run, all fields")
        << run({"L-4711", "gear 12", "ACME", "alice", "first load"}) << QString()
        << int(EventKind::Run) << recordingName
        << QStringList{"L-4711", "gear 12", "ACME", "alice", "first load"};
    QTest::newRow("run, quotes, backslash, semicolon, newline kept one line")
        << run({"A\"1\";2", {}, {}, "bob", "line\nbreak \\ end"}) << QString()
        << int(EventKind::Run) << recordingName
        << QStringList{"A\"1\";2", {}, {}, "bob", "line break \\ end"};
    QTest::newRow("a mark typed as a run stays a mark")
        << markEvent(run({"FAKE", {}, {}, {}, {}})) << QString() << int(EventKind::Mark)
        << run({"FAKE", {}, {}, {}, {}}) << QStringList();
    QTest::newRow("a mark typed as an alarm stays a mark")
        << controllerEvent("oven2", markEvent("alarm raised: High temperature")) << "oven2"
        << int(EventKind::Mark) << "alarm raised: High temperature" << QStringList();
    QTest::newRow("mark, unnamed") << markEvent(" load in\t ") << QString() << int(EventKind::Mark)
                                   << "load in" << QStringList();
    QTest::newRow("mark of oven2") << controllerEvent("oven2", markEvent("door open")) << "oven2"
                                   << int(EventKind::Mark) << "door open" << QStringList();
    QTest::newRow("mark sent by another user")
        << controllerEvent("oven2", markEvent("quench", "bob")) << "oven2" << int(EventKind::Mark)
        << "quench" << QStringList{"bob"};
    QTest::newRow("mark whose own words end as if sent by someone")
        << markEvent(R"(oil "B"; by "x")") << QString() << int(EventKind::Mark)
        << R"(oil "B"; by "x")" << QStringList{""};
    QTest::newRow("alarm of oven-3")
        << "oven-3: alarm raised: High temperature 305.0 °C"
        << "oven-3" << int(EventKind::AlarmRaised) << QString() << QStringList();
    QTest::newRow("program's own words") << "port lost: /dev/ttyUSB0" << QString()
                                         << int(EventKind::Other) << QString() << QStringList();
    QTest::newRow("setpoint write of oven2")
        << "oven2: setpoint write: 150.0 → 200.0 °C: accepted"
        << "oven2" << int(EventKind::SetpointWrite) << QString() << QStringList();
}

void TestSealing::runWords() {
    QFETCH(QString, event);
    QFETCH(QString, controller);
    QFETCH(int, kind);
    QFETCH(QString, fileOrMark);
    QFETCH(QStringList, fields);

    QVERIFY(!event.contains(QLatin1Char('\n')));
    const NamedEvent named = splitController(event);
    QCOMPARE(named.controller, controller);
    QCOMPARE(int(named.kind), kind);
    if (named.kind == EventKind::Mark) {
        QCOMPARE(parseMarkEvent(named.event), fileOrMark);
        QCOMPARE(parseMark(named.event)->by, fields.value(0)); // who marked it, for a mark
    }
    if (named.kind != EventKind::Run)
        return;
    const std::optional<RunEntry> entry = parseRunEvent(named.event);
    QVERIFY(entry);
    QCOMPARE(entry->fileName, fileOrMark);
    const RunIdentity& got = entry->run;
    QCOMPARE((QStringList{got.batch, got.part, got.customer, got.operatorName, got.note}), fields);
}

QTEST_GUILESS_MAIN(TestSealing)
#include "tst_sealing.moc"
