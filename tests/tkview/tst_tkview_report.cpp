// tkview's report of a real recording: tkrecord records tksim through an
// outage, tkview makes the report without a window, and the PDF's text
// (pdftotext) holds the file's name, checksum and the summary's figures as
// worked out here from the file's own lines.

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>

#include "AuditTrail.h"
#include "FileSealer.h"
#include "RecordFormat.h"
#include "RunEvent.h"
#include "SealKey.h"
#include "TksimProcess.h"
#include "TrustedKeys.h"
#include "ViewerReport.h"

namespace {

constexpr int waitMs = 30000;

struct Line {
    int setpoint = 0;
    int temperature = 0;
    bool noData = false;
};

QList<Line> recordLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression record(QStringLiteral("^\"[^\"]+\";(\\d+);(\\d+);(\\d+);\r$"));
    QList<Line> lines;
    for (const QByteArray& text : file.readAll().split('\n')) {
        const QRegularExpressionMatch m = record.match(QString::fromUtf8(text));
        if (m.hasMatch())
            lines.append({m.captured(1).toInt(), m.captured(2).toInt(),
                          m.captured(1) == QLatin1String("8888")});
    }
    return lines;
}

// The value printed after the summary's label (pdftotext -layout keeps the
// summary's lines whole, left of the chart).
QString valueAfter(const QString& text, const QString& label) {
    const QRegularExpression pattern(QRegularExpression::escape(label) +
                                     QStringLiteral(" +(\\S+(?: \\S+)?)"));
    return pattern.match(text).captured(1);
}

const QDateTime runStart(QDate(2026, 12, 10), QTime(10, 0), QTimeZone::utc());

// The key that seals the trails the runs are written with, trusted as an
// administrator lists it in a file in folder.
const sealing::SealKey& trailKey() {
    static const sealing::SealKey key = [] {
        sealing::SealKey made = sealing::generateKey();
        made.signer = QStringLiteral("tkrecord");
        return made;
    }();
    return key;
}

void trustTrailKey(const QString& folder) {
    QFile trustedKeys(folder + QStringLiteral("/trusted-keys"));
    QVERIFY(trustedKeys.open(QIODevice::WriteOnly));
    trustedKeys.write(
        sealing::TrustedKeys::lineFor(trailKey().publicKey, QStringLiteral("oven recorder"))
            .toUtf8() +
        '\n');
    qputenv("TKCONTROL_TRUSTED_KEYS", QFile::encodeName(trustedKeys.fileName()));
}

// A run of 20 records 30 s apart, heating to 200 °C and reaching it after
// reachedAt records, in folder; with entries, a trail in trailFolder: each
// entry's minutes after the start and its event.
void writeRun(const QString& folder, const QDateTime& start, int reachedAt,
              const QString& trailFolder = {}, const QList<QPair<int, QString>>& entries = {}) {
    QDir().mkpath(folder);
    QDateTime now = start;
    // Begun before the recording, as the recorder begins it.
    std::unique_ptr<sealing::AuditTrail> trail;
    if (!entries.isEmpty())
        trail = std::make_unique<sealing::AuditTrail>(
            trailFolder + QStringLiteral("/audit.log"), trailKey(), QStringLiteral("tkrecord"),
            QStringLiteral("1.02"),
            sealing::AuditClock{[&] { return now; },
                                [&] {
                                    // The steady clocks go as the wall clock: no jump to write
                                    // down.
                                    const qint64 ms = now.toMSecsSinceEpoch();
                                    return sealing::SteadyClocks{ms, ms, ms};
                                }});
    QFile file(folder + QLatin1Char('/') + recording::recordFileNameFor(start));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray text = recording::headerLine().toUtf8();
    for (int i = 0; i < 20; ++i)
        text += recording::recordLine(start.addSecs(30LL * i), 2000,
                                      float(2000 - 10 * (reachedAt - std::min(i, reachedAt))), 50,
                                      QLocale::c())
                    .toUtf8();
    file.write(text);
    file.close();
    QVERIFY(sealing::FileSealer(trailKey(), 1).appended(file.fileName(), 0, text));
    // Written in the order of their times, as a trail is.
    QList<QPair<int, QString>> inOrder = entries;
    std::stable_sort(inOrder.begin(), inOrder.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [minutes, event] : inOrder) {
        now = start.addSecs(60LL * minutes);
        trail->record(event);
    }
}

} // namespace

class TestTkviewReport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportOfARecordingWithAnOutage();
    void reportsTheRunFromItsTrail_data();
    void reportsTheRunFromItsTrail();
};

void TestTkviewReport::reportOfARecordingWithAnOutage() {
    TksimProcess sim(QStringLiteral(TKSIM_PATH), {"--speed", "30"});
    QVERIFY(sim.start(waitMs));
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("conf.ini")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Ports]\n1=%1\n[TK840 TK960 PC control]\ninterv_record=1\n")
                   .arg(sim.link())
                   .toUtf8());
    conf.close();
    QProcess tkrecord;
    tkrecord.start(QStringLiteral(TKRECORD_PATH),
                   {QStringLiteral("--dir"), dir.path(), QStringLiteral("--key"),
                    dir.filePath(QStringLiteral("keys/seal.key"))});
    QVERIFY(tkrecord.waitForStarted(waitMs));
    const auto lines = [&] {
        const QStringList files = QDir(dir.path()).entryList({QStringLiteral("REC_*.csv")});
        return files.size() == 1 ? recordLines(dir.filePath(files[0])) : QList<Line>();
    };
    // Values, an outage (the controller stopped), values again.
    QTRY_VERIFY_WITH_TIMEOUT(lines().size() >= 4 && !lines().last().noData, waitMs);
    QCOMPARE(::kill(pid_t(sim.process().processId()), SIGSTOP), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!lines().isEmpty() && lines().last().noData, waitMs);
    QCOMPARE(::kill(pid_t(sim.process().processId()), SIGCONT), 0);
    const qsizetype back = lines().size();
    QTRY_VERIFY_WITH_TIMEOUT(lines().size() > back + 3 && !lines().last().noData, waitMs);
    tkrecord.terminate();
    QVERIFY(tkrecord.waitForFinished(waitMs));
    // The recorder's key, trusted as an administrator lists it.
    const QString keyFile = dir.filePath(QStringLiteral("keys/seal.key"));
    const auto key = sealing::loadOrCreateKey(keyFile);
    QVERIFY(key);
    QFile trustedKeys(dir.filePath(QStringLiteral("trusted-keys")));
    QVERIFY(trustedKeys.open(QIODevice::WriteOnly));
    trustedKeys.write(
        sealing::TrustedKeys::lineFor(key->publicKey, QStringLiteral("oven recorder")).toUtf8() +
        '\n');
    trustedKeys.close();
    qputenv("TKCONTROL_TRUSTED_KEYS", QFile::encodeName(trustedKeys.fileName()));

    const QString name = QDir(dir.path()).entryList({QStringLiteral("REC_*.csv")}).value(0);
    QFile recording(dir.filePath(name));
    QVERIFY(recording.open(QIODevice::ReadOnly));
    const QByteArray sha =
        QCryptographicHash::hash(recording.readAll(), QCryptographicHash::Sha256);
    const QList<Line> written = lines();
    int minimum = 100000;
    int maximum = -100000;
    int overshoot = 0; // above the setpoint once it was reached from below
    bool heated = false;
    int outages = 0; // runs of records without data, the first one included
    for (qsizetype i = 0; i < written.size(); ++i) {
        const Line& line = written[i];
        outages += line.noData && (i == 0 || !written[i - 1].noData) ? 1 : 0;
        if (!line.noData) {
            minimum = std::min(minimum, line.temperature);
            maximum = std::max(maximum, line.temperature);
            heated = heated || line.temperature < line.setpoint;
            if (heated)
                overshoot = std::max(overshoot, line.temperature - line.setpoint);
        }
    }

    // The folder on the command line, as a scheduled job would give it.
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QProcess tkview;
    tkview.start(QStringLiteral(TKVIEW_PATH), {QStringLiteral("--report"), pdf, dir.path()});
    QVERIFY(tkview.waitForFinished(waitMs));
    // Nothing to complain about (Qt's own notes on the environment aside).
    const QByteArray complaints = tkview.readAllStandardError();
    QVERIFY2(!complaints.contains("tkview:"), complaints.constData());
    QCOMPARE(tkview.exitCode(), 0);
    QProcess pdftotext;
    pdftotext.start(QStringLiteral(PDFTOTEXT_PATH), {QStringLiteral("-layout"), pdf, "-"});
    QVERIFY(pdftotext.waitForFinished(waitMs));
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());

    QVERIFY2(text.contains(name), qPrintable(text));
    QVERIFY2(text.contains(QString::fromLatin1(sha.toHex())), qPrintable(text));
    QCOMPARE(valueAfter(text, QStringLiteral("Records")), QString::number(written.size()));
    QCOMPARE(valueAfter(text, QStringLiteral("Gaps")).section(QLatin1Char(','), 0, 0),
             QString::number(outages));
    QVERIFY(outages >= 1);
    QCOMPARE(valueAfter(text, QStringLiteral("Minimum")),
             QString::number(minimum / 10.0, 'f', 1) + QStringLiteral(" °C"));
    QCOMPARE(valueAfter(text, QStringLiteral("Maximum")),
             QString::number(maximum / 10.0, 'f', 1) + QStringLiteral(" °C"));
    QCOMPARE(valueAfter(text, QStringLiteral("Largest overshoot")),
             overshoot > 0 ? QString::number(overshoot / 10.0, 'f', 1) + QStringLiteral(" °C")
                           : QStringLiteral("none"));
    QVERIFY2(text.contains(QStringLiteral("tkview 1.02 · report made ")), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("Not verified")), qPrintable(text));

    // The recorder's seals: intact, believed only under a trusted key.
    qputenv("TKCONTROL_TRUSTED_KEYS", QFile::encodeName(dir.filePath(QStringLiteral("none"))));
    for (const bool trusting : {false, true}) {
        QProcess verify;
        verify.start(
            QStringLiteral(TKVIEW_PATH),
            QStringList{QStringLiteral("--verify"), dir.path()} +
                (trusting ? QStringList{QStringLiteral("--trust"), keyFile} : QStringList()));
        QVERIFY(verify.waitForFinished(waitMs));
        const QString signer = trusting
                                   ? QStringLiteral("sealed: %1 records intact, signed by a "
                                                    "key given with --trust (key %2)")
                                   : QStringLiteral("intact, but signed by an untrusted key %2");
        QCOMPARE(QString::fromUtf8(verify.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0),
                 dir.filePath(name) + QStringLiteral(": ") +
                     QString(signer)
                         .replace(QLatin1String("%1"), QString::number(written.size()))
                         .replace(QLatin1String("%2"), sealing::fingerprint(key->publicKey)));
        QCOMPARE(verify.exitCode(), trusting ? 0 : 3);
    }
    qputenv("TKCONTROL_TRUSTED_KEYS", QFile::encodeName(trustedKeys.fileName()));

    // One record changed: the report is still made, with the banner on its
    // first page, and the exit status says so.
    recording.close();
    QVERIFY(recording.setPermissions(recording.permissions() | QFileDevice::WriteOwner));
    QVERIFY(recording.open(QIODevice::ReadWrite));
    QByteArray bytes = recording.readAll();
    // The last digit of the first record (the power before ";\r\n").
    const qsizetype digit = bytes.indexOf('\n', bytes.indexOf('\n') + 1) - 3;
    bytes[digit] = bytes[digit] == '9' ? '8' : '9';
    QVERIFY(recording.seek(0) && recording.write(bytes) == bytes.size());
    recording.close();
    tkview.start(QStringLiteral(TKVIEW_PATH), {QStringLiteral("--report"), pdf, dir.path()});
    QVERIFY(tkview.waitForFinished(waitMs));
    QCOMPARE(tkview.exitCode(), 1);
    pdftotext.start(QStringLiteral(PDFTOTEXT_PATH), {pdf, "-"});
    QVERIFY(pdftotext.waitForFinished(waitMs));
    // pdftotext gives "fi" and "ff" as their ligatures.
    const QString banner = QString::fromUtf8(pdftotext.readAllStandardOutput())
                               .replace(QChar(0xFB01), QLatin1String("fi"))
                               .replace(QChar(0xFB00), QLatin1String("ff"))
                               .simplified();
    QVERIFY2(
        banner.startsWith(QStringLiteral("Recording report Period: ")) &&
            banner.contains(QStringLiteral(" Not verified: ") + name +
                            QStringLiteral(" differs from line 2 on; ")) &&
            banner.contains(
                // What the trail closed, and the load under it: tkrecord's
                // trail verifies, and its run entry names the operator.
                QStringLiteral("). The values shown are not vouched for by a seal. The "
                               "audit trail finds: %1: not as the audit trail closed it (")
                    .arg(name)) &&
            banner.contains(
                QStringLiteral(" bytes). Operator %1 Summary ").arg(sealing::systemUserName())),
        qPrintable(banner));
}

void TestTkviewReport::reportsTheRunFromItsTrail_data() {
    QTest::addColumn<QString>("controller"); // the bus controller's sub-folder, or none
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("notShown");
    QTest::addColumn<QByteArray>("trailEdit"); // a batch put in the trail in place of L-4711
    QTest::addColumn<QString>("setup");        // more runs, files, marks or another time zone
    const QString name = recording::recordFileNameFor(runStart);
    const QString other = recording::recordFileNameFor(runStart.addDays(1));
    QTest::newRow("trail beside the recording: load, event, alarm, setpoint, signature")
        << QString() << QStringList()
        << QStringList{"Batch L-4711",
                       "Customer ACME",
                       "Operator alice",
                       "Events and alarms",
                       "2026-12-10 10:02:00 event: load in",
                       "alarm raised: temperature above 205.0 °C",
                       "setpoint write: 200.0 → 210.0 °C, reason \"check\": accepted",
                       "Checked by",
                       "Signature"}
        << QStringList{"before the load", "Equipment"} << QByteArray() << QString();
    QTest::newRow("bus: the controller's entries in the trail of the folder above")
        << "oven2" << QStringList()
        << QStringList{"Equipment oven2", "Batch L-4711", "oven2 event: load in"}
        << QStringList{"other oven", "before the load", "L-9999"} << QByteArray() << QString();
    QTest::newRow("no trail: the report as before")
        << "-" << QStringList() << QStringList{name}
        << QStringList{"Batch", "Events and alarms", "Checked by"} << QByteArray() << QString();
    QTest::newRow("two runs compared, labelled by batch and by file name")
        << QString() << QStringList{"--compare"}
        << QStringList{"Run comparison", "Aligned at the start of each run",
                       "Run L-4711, part gear 12 " + other, "Time to setpoint 00:05:00 00:03:00"}
        << QStringList{"Events and alarms"} << QByteArray() << QString();
    QTest::newRow("aligned at the setpoint")
        << QString() << QStringList{"--compare", "--align", "setpoint"}
        << QStringList{"Aligned at the moment each run first reached its setpoint"}
        << QStringList{"never reached"} << QByteArray() << QString();
    QTest::newRow("trail edited after the run: banner, nothing from the trail, exit 1")
        << QString() << QStringList()
        << QStringList{"Audit trail not verified: audit.log",
                       "from line 1 on; nothing after it verified",
                       "Its batch, events and alarms are not shown"}
        << QStringList{"L-4711", "L-4712", "Events and alarms", "load in"} << QByteArray("L-4712")
        << QString();
    QTest::newRow("a later run's report: its batch and events only")
        << QString() << QStringList{"--from", "2026-12-10 10:15:00"}
        << QStringList{"Batch B-200", "Customer Beta Ltd", "1 2026-12-10 10:16:00 event: second"}
        << QStringList{"L-4711", "ACME", "event: load in", "alarm raised"} << QByteArray()
        << "a later run";
    QTest::newRow("in New York, a run recorded in UTC with its events")
        << QString() << QStringList()
        << QStringList{"Batch L-4711", "1 2026-12-10 05:02:00 event: load in",
                       "3 2026-12-10 05:04:00 setpoint write"}
        << QStringList{"before the load"} << QByteArray() << "America/New_York";
    QTest::newRow("four unsealed files: counted in the banner, listed at the end")
        << "-" << QStringList()
        << QStringList{"4 files not verified; listed at the end.", "Summary", "Records 80",
                       "Files not verified " + name + " no seal"}
        << QStringList{"Not verified: "} << QByteArray() << "4 files";
    QTest::newRow("300 marks: numbered, the table capped with a count")
        << QString() << QStringList()
        << QStringList{"250 2026-12-10 10:05:00 event: mark 246",
                       "53 more events are in the audit trail, not listed here", "Checked by"}
        << QStringList{"251 2026-12-10"} << QByteArray() << "300 marks";
    QTest::newRow("twelve runs compared: the table wraps, nothing cut")
        << QString() << QStringList{"--compare"}
        << QStringList{"Run comparison", "Time to setpoint 00:05:00 00:03:00 00:03:00"}
        << QStringList{"…"} << QByteArray() << "12 runs";
    QTest::newRow("runs never at setpoint and without records said, names escaped")
        << QString() << QStringList{"--compare", "--align", "setpoint", "gone\x1b]0;x\x07"}
        << QStringList{"Aligned at their start, as they never reached their setpoint: " + other,
                       "Left out, having no records: gone"}
        << QStringList() << QByteArray() << "unreached";
}

void TestTkviewReport::reportsTheRunFromItsTrail() {
    QFETCH(QString, controller);
    QFETCH(QStringList, options);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, notShown);
    QFETCH(QByteArray, trailEdit);
    QFETCH(QString, setup);
    QTemporaryDir dir;
    trustTrailKey(dir.path());
    const QString folder =
        controller.size() > 1 ? dir.filePath(controller) : dir.filePath(QStringLiteral("run"));
    const auto named = [&](const QString& event) {
        return sealing::controllerEvent(controller.size() > 1 ? controller : QString(), event);
    };
    const QString name = recording::recordFileNameFor(runStart);
    QList<QPair<int, QString>> entries{
        {-1, named(sealing::markEvent(QStringLiteral("before the load")))},
        {0, named(QStringLiteral("recording started: ") + name)},
        {0, named(sealing::runEvent(name,
                                    {QStringLiteral("L-4711"), QStringLiteral("gear 12"),
                                     QStringLiteral("ACME"), QStringLiteral("alice"), QString()}))},
        {2, named(sealing::markEvent(QStringLiteral("load in")))},
        {3, named(QStringLiteral("alarm raised: temperature above 205.0 °C"))},
        {4, named(QStringLiteral("setpoint write: 200.0 → 210.0 °C, reason \"check\": "
                                 "accepted"))}};
    // On a bus, tkrecord names a controller's file by its sub-folder; the
    // other oven's run and event are not this one's.
    if (controller.size() > 1)
        entries << QPair<int, QString>{0, sealing::runEvent("oven3/" + name,
                                                            {"L-9999", {}, {}, {}, {}})}
                << QPair<int, QString>{0, sealing::runEvent(controller + QLatin1Char('/') + name,
                                                            {"L-4711", {}, {}, {}, {}})}
                << QPair<int, QString>{5, sealing::controllerEvent(
                                              QStringLiteral("oven3"),
                                              sealing::markEvent(QStringLiteral("other oven")))};
    const QDateTime later = runStart.addSecs(15LL * 60);
    const QString laterName = recording::recordFileNameFor(later);
    if (setup == QLatin1String("a later run"))
        entries << QPair<int, QString>{15, QStringLiteral("recording started: ") + laterName}
                << QPair<int, QString>{15, sealing::runEvent(laterName,
                                                             {"B-200", {}, "Beta Ltd", {}, {}})}
                << QPair<int, QString>{16, sealing::markEvent(QStringLiteral("second"))};
    for (int i = 0; setup == QLatin1String("300 marks") && i < 300; ++i)
        entries << QPair<int, QString>{5, sealing::markEvent(QStringLiteral("mark %1").arg(i))};
    writeRun(folder, runStart, 10, controller.size() > 1 ? dir.path() : folder,
             controller == QLatin1String("-") ? QList<QPair<int, QString>>() : entries);
    if (!trailEdit.isEmpty()) {
        QFile trail(folder + QStringLiteral("/audit.log"));
        QVERIFY(trail.open(QIODevice::ReadWrite));
        const QByteArray edited = trail.readAll().replace("L-4711", trailEdit);
        QVERIFY(trail.seek(0) && trail.write(edited) == edited.size());
    }
    if (setup == QLatin1String("a later run"))
        writeRun(folder, later, 6);
    for (int day = 1; setup == QLatin1String("4 files") && day < 4; ++day)
        writeRun(folder, runStart.addDays(day), 10);
    if (setup == QLatin1String("4 files")) // daily files that were never sealed
        for (const QString& seal : QDir(folder).entryList({QStringLiteral("*.seal*")}, QDir::Files))
            QVERIFY(QFile::remove(folder + QLatin1Char('/') + seal));
    QStringList runs{folder};
    const int compared = setup == QLatin1String("12 runs") ? 11 : 1;
    for (int i = 1; options.contains(QStringLiteral("--compare")) && i <= compared; ++i) {
        runs << dir.filePath(i == 1 ? QStringLiteral("second") : QStringLiteral("run%1").arg(i));
        writeRun(runs.back(), runStart.addDays(i), setup == QLatin1String("unreached") ? 30 : 6);
    }

    int status = -1;
    QString errors;
    const QString text = viewerReportText(
        QStringLiteral(TKVIEW_PATH), QStringLiteral(PDFTOTEXT_PATH),
        dir.filePath(QStringLiteral("report.pdf")), options + runs,
        setup.contains(QLatin1Char('/')) ? setup : QStringLiteral("UTC"), &errors, &status);
    QVERIFY(!text.isEmpty());
    // A sealed recording with its trail verifies; the edited trail does not.
    if (controller.isEmpty() && options.isEmpty() && setup.isEmpty())
        QCOMPARE(status, trailEdit.isEmpty() ? 0 : 1);
    // Names from outside reach the terminal escaped, as --verify gives them.
    QVERIFY2(!errors.contains(QChar(0x1b)), qPrintable(errors.toUtf8().toPercentEncoding()));
    if (setup == QLatin1String("unreached"))
        QVERIFY2(errors.contains(QStringLiteral("tkview: gone\\x1b]0;x\\x07: no such file")),
                 qPrintable(errors));
    for (const QString& words : shown)
        QVERIFY2(text.contains(words), qPrintable(words + QStringLiteral(" not in:\n") + text));
    for (const QString& words : notShown)
        QVERIFY2(!text.contains(words), qPrintable(words + QStringLiteral(" in:\n") + text));
}

QTEST_GUILESS_MAIN(TestTkviewReport)
#include "tst_tkview_report.moc"
