#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "AuditTrail.h"
#include "FileSealer.h"
#include "RecordFile.h"
#include "RecordFormat.h"
#include "SealKey.h"
#include "SealText.h"
#include "Verification.h"

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
};

} // namespace

Q_DECLARE_METATYPE(Edit)

class TestSealing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fingerprintOfKnownKey();
    void verdictAfterEdit_data();
    void verdictAfterEdit();
    void auditTrailAcrossClockChanges_data();
    void auditTrailAcrossClockChanges();
};

void TestSealing::fingerprintOfKnownKey() {
    // sha256sum of 32 zero bytes: 66687aadf862bd776c8fc18b8e9f8e20...
    QCOMPARE(fingerprint(QByteArray(32, '\0')), QStringLiteral("66687aadf862bd77"));
}

void TestSealing::verdictAfterEdit_data() {
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QString>("verdict");

    // The header is line 1, the three records lines 2 to 4.
    QTest::newRow("untouched") << Edit::None << QStringLiteral("sealed: 3 records intact, key %1");
    QTest::newRow("a digit changed") << Edit::DigitChanged << QStringLiteral("altered at line 3");
    QTest::newRow("a line removed") << Edit::LineRemoved << QStringLiteral("altered at line 2");
    QTest::newRow("a line inserted") << Edit::LineInserted << QStringLiteral("altered at line 3");
    QTest::newRow("lines appended")
        << Edit::LinesAppended << QStringLiteral("2 lines added after line 4");
    QTest::newRow("the last line removed")
        << Edit::LastLineRemoved << QStringLiteral("truncated after line 3");
    QTest::newRow("cut in the middle of a line")
        << Edit::CutMidLine << QStringLiteral("truncated after line 3");
    QTest::newRow("stopped while writing")
        << Edit::HalfLineAfter
        << QStringLiteral("half a line at the end (the program stopped while writing)");
    // Killed between the seal that announces a record and the one after it.
    QTest::newRow("killed before the record")
        << Edit::KilledBeforeRecord << QStringLiteral("sealed: 3 records intact, key %1");
    QTest::newRow("killed after the record")
        << Edit::KilledBeforeSeal << QStringLiteral("sealed: 4 records intact, key %1");
    QTest::newRow("line ends turned into LF")
        << Edit::LineEndsChanged << QStringLiteral("altered at line 1");
    QTest::newRow("record count in the seal edited")
        << Edit::SealEdited << QStringLiteral("seal signature invalid");
    QTest::newRow("another key in the seal")
        << Edit::AnotherKeysSeal << QStringLiteral("seal signature invalid");
    QTest::newRow("seal removed") << Edit::SealRemoved << QStringLiteral("no seal");
}

void TestSealing::verdictAfterEdit() {
    QFETCH(Edit, edit);
    QFETCH(QString, verdict);
    QTemporaryDir dir;
    const QString path = dir.filePath(recordingName);
    const SealKey key = generateKey();
    writeSealed(path, key);
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
    }
    if (edit != Edit::SealRemoved)
        writeFile(path + sealSuffix, seal);
    writeFile(path, file);

    QCOMPARE(verdictText(verifyFile(path)), verdict.arg(fingerprint(key.publicKey)));
}

void TestSealing::auditTrailAcrossClockChanges_data() {
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QDateTime>("after");
    QTest::addColumn<qint64>("monotonicMs"); // between the two
    QTest::addColumn<QStringList>("clockEvents");

    const QDateTime winter(QDate(2026, 3, 29), QTime(1, 59, 59), Qt::OffsetFromUTC, 3600);
    QTest::newRow("steady") << winter << winter.addSecs(30) << qint64(30000) << QStringList();
    QTest::newRow("drift of 2 s") << winter << winter.addSecs(32) << qint64(30000) << QStringList();
    QTest::newRow("set an hour forward")
        << winter << winter.addSecs(3630) << qint64(30000)
        << QStringList{QStringLiteral("wall clock jumped +3600.0 s against the monotonic clock")};
    QTest::newRow("set back 2.5 s")
        << winter << winter.addMSecs(27500) << qint64(30000)
        << QStringList{QStringLiteral("wall clock jumped -2.5 s against the monotonic clock")};
    QTest::newRow("summer time begins")
        << winter << winter.addSecs(1).toOffsetFromUtc(7200) << qint64(1000)
        << QStringList{QStringLiteral("UTC offset changed from +01:00 to +02:00")};
}

void TestSealing::auditTrailAcrossClockChanges() {
    QFETCH(QDateTime, before);
    QFETCH(QDateTime, after);
    QFETCH(qint64, monotonicMs);
    QFETCH(QStringList, clockEvents);
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(auditFileName));
    const SealKey key = generateKey();
    QDateTime wall = before;
    qint64 monotonic = 5000;
    const AuditClock clock{[&wall] { return wall; }, [&monotonic] { return monotonic; }};

    // Two runs of the program, the clock moving during the second.
    {
        AuditTrail first(path, key, QStringLiteral("tkrecord"), QStringLiteral("1.02"), clock);
        first.record(AuditTrail::startedEvent(key, {}));
    }
    AuditTrail second(path, key, QStringLiteral("tkrecord"), QStringLiteral("1.02"), clock);
    wall = after;
    monotonic += monotonicMs;
    second.record(QStringLiteral("stopped"));

    const QString source =
        systemUserName() + QLatin1Char(';') + hostName() + QStringLiteral(";tkrecord 1.02;");
    QStringList expected{isoTime(before) + QLatin1Char(';') + source +
                         QStringLiteral("started, key ") + fingerprint(key.publicKey)};
    for (const QString& event : clockEvents)
        expected << isoTime(after) + QLatin1Char(';') + source + event;
    expected << isoTime(after) + QLatin1Char(';') + source + QStringLiteral("stopped");
    QCOMPARE(QString::fromUtf8(readFile(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts),
             expected);
    QCOMPARE(verdictText(verifyFile(path)), QStringLiteral("sealed: %1 records intact, key %2")
                                                .arg(expected.size())
                                                .arg(fingerprint(key.publicKey)));
}

QTEST_GUILESS_MAIN(TestSealing)
#include "tst_sealing.moc"
