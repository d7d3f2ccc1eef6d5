#include <QCryptographicHash>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

#include <sys/stat.h>

#include "CsvExport.h"
#include "DetailLevels.h"
#include "RecordFormat.h"
#include "RecordingReader.h"
#include "RunTrail.h"
#include "Summary.h"

using namespace tkview;

namespace {

const QByteArray byteOrderMark("\xEF\xBB\xBF");

// Four records one second apart by the program's own functions in `locale`,
// the second without data, across midnight when they start at 23:59:58.
QByteArray writtenIn(const char* locale, const QDateTime& start) {
    QByteArray text = recording::headerLine().toUtf8();
    for (int i = 0; i < 4; ++i)
        text += (i == 1 ? recording::recordLine(start.addSecs(i), 8888, 8888, 0, QLocale(locale))
                        : recording::recordLine(start.addSecs(i), 2000, float(-55 + i), 45,
                                                QLocale(locale)))
                    .toUtf8();
    return text;
}

struct At {
    int second;
    int setpoint;
    int temperature;
};

// Records at the given seconds after `start`, as the program writes them in
// de_DE; the second one without data.
QByteArray recordsAt(const QDateTime& start, std::initializer_list<At> records) {
    QByteArray text = recording::headerLine().toUtf8();
    for (const At& r : records) {
        const bool noData = &r == records.begin() + 1;
        text += recording::recordLine(start.addSecs(r.second), noData ? 8888 : float(r.setpoint),
                                      noData ? 8888 : float(r.temperature), noData ? 0 : 45,
                                      QLocale("de_DE"))
                    .toUtf8();
    }
    return text;
}

const QDateTime lateOn8December(QDate(2026, 12, 8), QTime(23, 59, 58));

QByteArray sample(const char* variant) {
    QFile file(QStringLiteral(TK_SPREADSHEET_SAMPLES "/%1/REC_2026-12-08_23-45-01.csv")
                   .arg(QLatin1String(variant)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestRecordingReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reads_data();
    void reads();
    void setpointReached_data();
    void setpointReached();
    void markerLabels_data();
    void markerLabels();
};

void TestRecordingReader::reads_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("noData");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("firstTemperature");
    QTest::addColumn<int>("skippedCount");
    QTest::addColumn<QString>("firstSkipped"); // or the file's error; no contents: a fifo
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("overshoot"); // tenths, 0 for none
    const QString writerName = QStringLiteral("REC_2026-12-08_23-59-58.csv");
    const QString calcName = QStringLiteral("REC_2026-12-08_23-45-01.csv");

    // Day and month from the file's name: every date here fits both orders.
    // Afternoon markers and digits of other scripts: Korean, Greek, Marathi.
    for (const char* locale :
         {"fr_FR", "de_DE", "en_US", "en_GB", "ar_SA", "C", "ko_KR", "el_GR", "mr_IN"})
        QTest::addRow("written in %s", locale)
            << writerName << writtenIn(locale, lateOn8December) << 4 << 1 << "2026-12-08T23:59:58Z"
            << "2026-12-09T00:00:01Z" << -55 << 0 << QString() << QString() << 0;
    QTest::newRow("renamed, en_US, day above 12 decides")
        << "run.csv" << writtenIn("en_US", QDateTime(QDate(2026, 12, 13), QTime(9, 0, 0))) << 4 << 1
        << "2026-12-13T09:00:00Z"
        << "2026-12-13T09:00:03Z" << -55 << 0 << QString() << QString() << 0;

    // Calc rewrote the dates as it showed them, seconds dropped for most.
    const struct {
        const char* variant;
        const char* first;
        const char* last;
    } saved[] = {
        {"calc-en-US-from-fr_FR", "2026-12-08T23:45:00Z", "2026-12-09T00:14:00Z"},
        {"calc-en-US-from-en_US", "2026-12-08T23:45:00Z", "2026-12-09T00:14:00Z"},
        {"calc-en-US-from-ar_SA", "2026-12-08T23:45:01Z", "2026-12-09T00:14:01Z"},
        {"calc-fr-FR-from-en_US", "2026-12-08T23:45:00Z", "2026-12-09T00:14:00Z"},
        {"calc-de-DE-from-de_DE", "2026-12-08T23:45:00Z", "2026-12-09T00:14:00Z"},
        {"calc-en-US-unformatted-from-en_US", "2026-12-08T23:45:01Z", "2026-12-09T00:14:01Z"},
        {"calc-en-US-unformatted-from-de_DE", "2026-12-08T23:45:01Z", "2026-12-09T00:14:01Z"},
        {"calc-sv-SE-via-ods-from-fr_FR", "2026-12-08T23:45:00Z", "2026-12-09T00:14:00Z"},
    };
    for (const auto& s : saved)
        QTest::newRow(s.variant) << calcName << sample(s.variant) << 30 << 3 << s.first << s.last
                                 << 200 << 0 << QString() << QString() << 0;
    QTest::newRow("byte order mark")
        << calcName << byteOrderMark + sample("calc-en-US-from-fr_FR") << 30 << 3
        << "2026-12-08T23:45:00Z"
        << "2026-12-09T00:14:00Z" << 200 << 0 << QString() << QString() << 0;

    QTest::newRow("unreadable lines listed and skipped")
        << writerName
        << writtenIn("fr_FR", lateOn8December) + "garbage\r\n"
                                                 "\"09/12/2026 25:00:01\";2000;200;45;\r\n"
                                                 "\"09/12/2026 00:00:03\";2000;x;45;\r\n"
                                                 "\"13/13/2026 00:00:03\";2000;200;45;\r\n"
        << 4 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:01Z" << -55 << 4
        << "REC_2026-12-08_23-59-58.csv, line 6: no date with day, month and year" << QString()
        << 0;
    QTest::newRow("register limits and a line of many fields skipped")
        << writerName
        << writtenIn("de_DE", lateOn8December) + "\"09.12.2026 00:00:02\";2000;32767;45;\r\n" +
               "\"09.12.2026 00:00:03\";2000;200;45;" + QByteArray(1000, ';').replace(";", "1;") +
               "\r\n"
        << 4 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:01Z" << -55 << 2
        << "REC_2026-12-08_23-59-58.csv, line 6: a value is at or beyond a 16-bit register's "
           "limit (±32767)"
        << QString() << 0;
    QTest::newRow("wrong years skipped, not stretching the period")
        << writerName
        << writtenIn("de_DE", lateOn8December) + "\"09.12.2062 00:00:02\";2000;200;45;\r\n" +
               "\"09.12.0000 00:00:03\";2000;200;45;\r\n\"31.12.9999 00:00:03\";2000;200;45;\r\n"
        << 4 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:01Z" << -55 << 3
        << "REC_2026-12-08_23-59-58.csv, line 6: the year 2062 is far from the file's date"
        << QString() << 0;
    QTest::newRow("one record a year too late skipped, not the records after it")
        << writerName
        << writtenIn("de_DE", lateOn8December) + "\"09.12.2027 00:00:02\";2000;200;45;\r\n" +
               "\"09.12.2026 00:00:03\";2000;200;45;\r\n\"09.12.2026 00:00:04\";2000;200;45;\r\n"
        << 6 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:04Z" << -55 << 1
        << "REC_2026-12-08_23-59-58.csv, line 6: dated 2027-12-09 00:00:02, far after the "
           "records around it"
        << QString() << 0;
    QTest::newRow("the last record, a spike to 300 °C, drawn")
        << writerName
        << recordsAt(lateOn8December,
                     {{0, 2000, 2000}, {30, 0, 0}, {60, 2000, 2000}, {90, 2000, 3000}})
        << 4 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:01:28Z" << 2000 << 0 << QString() << QString() << 0;
    QTest::newRow("a time going back skipped, not sorted in")
        << writerName
        << writtenIn("de_DE", lateOn8December) + "\"08.12.2026 23:59:59\";2000;200;45;\r\n"
        << 4 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:01Z" << -55 << 1
        << "REC_2026-12-08_23-59-58.csv, line 6: earlier than the record before it "
           "(2026-12-09 00:00:01)"
        << QString() << 0;
    QTest::newRow("times repeated, as when a spreadsheet drops the seconds")
        << writerName
        << recordsAt(
               lateOn8December,
               {{0, 2000, 200}, {30, 0, 0}, {30, 2000, 201}, {60, 2000, 202}, {60, 2000, 203}})
        << 5 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:58Z" << 200 << 0 << QString()
        << "REC_2026-12-08_23-59-58.csv: 2 records have the time of the record before them: "
           "were the seconds dropped by a spreadsheet?"
        << 0;
    QTest::newRow("a name whose date is not the records'")
        << "REC_2025-06-01_10-00-00.csv" << writtenIn("de_DE", lateOn8December) << 4 << 1
        << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:01Z" << -55 << 0 << QString()
        << "REC_2025-06-01_10-00-00.csv: the date in its name is not the date of its first record"
        << 0;
    QTest::newRow("record interval from 20 s to 5 s, no gap")
        << writerName
        << recordsAt(lateOn8December, {{0, 2000, 1990},
                                       {20, 0, 0},
                                       {40, 2000, 1990},
                                       {60, 2000, 1990},
                                       {80, 2000, 1990},
                                       {85, 2000, 1990},
                                       {90, 2000, 1990},
                                       {95, 2000, 1990},
                                       {100, 2000, 1990},
                                       {105, 2000, 1990},
                                       {110, 2000, 1990}})
        << 11 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:01:48Z" << 1990 << 0 << QString() << QString() << 0;
    QTest::newRow("setpoint falls from 200 to 190 °C, overshoot only while heating")
        << writerName
        << recordsAt(lateOn8December, {{0, 2000, 1900},
                                       {1, 0, 0},
                                       {2, 2000, 1990},
                                       {3, 2000, 2000},
                                       {4, 2000, 2015},
                                       {5, 2000, 2005},
                                       {6, 1900, 2000},
                                       {7, 1900, 1960},
                                       {8, 1900, 1930},
                                       {9, 1900, 1905}})
        << 10 << 1 << "2026-12-08T23:59:58Z"
        << "2026-12-09T00:00:07Z" << 1900 << 0 << QString() << QString() << 15;
    QTest::newRow("not a recording")
        << writerName << QByteArray("Date,Value\n1,2\n") << 0 << 0 << QString() << QString() << 0
        << 0 << ": not a recording: its first line is not \"Time;Setpoint;Temperature;Power;\""
        << QString() << 0;
    QTest::newRow("fifo refused, never waited on")
        << writerName << QByteArray() << 0 << 0 << QString() << QString() << 0 << 0
        << ": not a recording: not a regular file" << QString() << 0;
    QByteArray longer = recording::headerLine().toUtf8();
    for (int i = 0; longer.size() < (128 << 10); ++i)
        longer += recording::recordLine(lateOn8December.addSecs(i), 2000, 1990, 45).toUtf8();
    QTest::newRow("shrinks while read: an error for that file, no crash")
        << writerName << longer << 0 << 0 << QString() << QString() << 0 << 0
        << ": cannot be read: it became shorter while being read" << QString() << 0;
}

void TestRecordingReader::setpointReached_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("second"); // -1: never reached
    QTest::addColumn<int>("step");   // when the setpoint reached was set

    // The second record is always without data.
    QTest::newRow("heating, met exactly")
        << recordsAt(lateOn8December, {{0, 2000, 200}, {1, 0, 0}, {2, 2000, 1500}, {3, 2000, 2000}})
        << 3 << 0;
    QTest::newRow("cooling, crossed between records")
        << recordsAt(lateOn8December, {{0, 600, 2000}, {1, 0, 0}, {2, 600, 900}, {3, 600, 550}})
        << 3 << 0;
    QTest::newRow("never reached")
        << recordsAt(lateOn8December, {{0, 2000, 200}, {1, 0, 0}, {2, 2000, 1500}}) << -1 << -1;
    QTest::newRow("raised above a cooling oven: the raise is no crossing")
        << recordsAt(lateOn8December,
                     {{0, 500, 800}, {1, 0, 0}, {2, 500, 700}, {3, 2000, 690}, {4, 2000, 2000}})
        << 4 << 3;
    QTest::newRow("lowered below the temperature while heating")
        << recordsAt(lateOn8December,
                     {{0, 2000, 200}, {1, 0, 0}, {2, 1000, 1200}, {3, 1000, 1100}, {4, 1000, 990}})
        << 4 << 2;
    QTest::newRow("idling at 20 °C, its noise on that setpoint, then set to 200 °C")
        << recordsAt(lateOn8December, {{0, 200, 201},
                                       {1, 0, 0},
                                       {2, 200, 199},
                                       {3, 200, 200},
                                       {10, 2000, 201},
                                       {20, 2000, 1500},
                                       {30, 2000, 2000}})
        << 30 << 10;
}

void TestRecordingReader::setpointReached() {
    QFETCH(QByteArray, contents);
    QFETCH(int, second);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("REC_2026-12-08_23-59-58.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();
    const ReadResult read = readRecordings({dir.path()}, QTimeZone::utc());
    const std::optional<SetpointApproach> approach = setpointApproach(read.timeline);
    const auto secondOf = [&](std::int64_t ms) {
        return int((ms - read.timeline.firstMs()) / 1000);
    };
    QCOMPARE(approach ? secondOf(approach->reachedMs) : -1, second);
    QTEST(approach ? secondOf(approach->stepMs) : -1, "step");
}

void TestRecordingReader::markerLabels_data() {
    QTest::addColumn<QString>("event"); // as the trail has it
    QTest::addColumn<QString>("label");

    QTest::newRow("write taken, reason with a comma")
        << R"(oven2: setpoint write: 150.0 → 200.0 °C, reason "door, fixed": accepted)"
        << "oven2: SP 150.0 → 200.0 °C";
    QTest::newRow("write refused, reason with a comma")
        << R"(setpoint write: 150.0 → 240.0 °C, reason "door, fixed": refused: value refused)"
        << "SP 150.0 → 240.0 °C (not taken)";
    QTest::newRow("write not read back")
        << "setpoint write: 150.0 → 200.0 °C: not read back: the controller shows 150.0 °C"
        << "SP 150.0 → 200.0 °C (not taken)";
    QTest::newRow("mark sent to the recorder") << R"(event: Load in; by "alice")"
                                               << "Load in";
}

void TestRecordingReader::markerLabels() {
    QFETCH(QString, event);
    const sealing::NamedEvent named = sealing::splitController(event);
    QTEST(markerLabel({0, named.controller, named.event, named.kind}), "label");
}

void TestRecordingReader::reads() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, contents);
    QFETCH(int, records);
    QFETCH(int, noData);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, firstTemperature);
    QFETCH(int, skippedCount);
    QFETCH(QString, firstSkipped);
    QFETCH(QString, warning);
    QFETCH(int, overshoot);
    QTemporaryDir dir;
    QFile file(dir.filePath(fileName));
    if (contents.isEmpty()) {
        QCOMPARE(::mkfifo(QFile::encodeName(file.fileName()).constData(), 0600), 0);
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
    }

    // Cut short after its first block, as a user or a clean-up might do.
    if (QByteArray(QTest::currentDataTag()).startsWith("shrinks"))
        setBetweenBlocks([](const QString& path) { QFile::resize(path, 1000); });
    const auto unhook = qScopeGuard([] { setBetweenBlocks({}); });
    // A folder stands for its REC_*.csv files.
    const ReadResult read =
        readRecordings({fileName.startsWith(QLatin1String("REC_")) ? dir.path() : file.fileName()},
                       QTimeZone::utc());
    if (records == 0) {
        QCOMPARE(read.errors.size(), 1);
        QVERIFY2(read.errors[0].endsWith(firstSkipped), qPrintable(read.errors[0]));
        return;
    }
    QVERIFY2(read.errors.isEmpty(), qPrintable(read.errors.join(QLatin1Char('\n'))));
    QCOMPARE(read.warnings.join(QLatin1Char('\n')), warning);
    const Timeline& timeline = read.timeline;
    QCOMPARE(int(timeline.records.size()), records);
    const auto iso = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
    };
    QCOMPARE(iso(timeline.firstMs()), first);
    QCOMPARE(iso(timeline.lastMs()), last);
    QCOMPARE(timeline.records[0].temperature, firstTemperature);
    QCOMPARE(timeline.records[0].setpoint, 2000);
    QCOMPARE(timeline.files.at(0).firstMs, timeline.firstMs());
    QCOMPARE(timeline.files.at(0).sha256,
             QCryptographicHash::hash(contents, QCryptographicHash::Sha256));

    // No data is no point: one gap around the records without data, and
    // rows with empty fields in the export.
    const auto missing =
        std::count_if(timeline.records.begin(), timeline.records.end(), [](const Record& r) {
            return r.temperature == noValue && r.setpoint == noValue && r.power == noValue;
        });
    QCOMPARE(int(missing), noData);
    QCOMPARE(int(timeline.gaps.size()), 1);
    QCOMPARE(csvText(timeline, INT64_MIN, INT64_MAX).count(",,,\r\n"), noData);
    // For a German spreadsheet: decimal commas, semicolons, a time it takes.
    const QByteArray german =
        csvText(timeline, INT64_MIN, INT64_MAX, csvFormFor(QLocale(QStringLiteral("de_DE"))));
    QCOMPARE(german.count(";;;\r\n"), noData);
    QVERIFY(german.split('\n').value(1).startsWith(
        QStringLiteral("%1;UTC+00:00;%2;200,0;")
            .arg(first.chopped(1).replace(QLatin1Char('T'), QLatin1Char(' ')),
                 QString::number(firstTemperature / 10.0, 'f', 1).replace('.', ','))
            .toUtf8()));
    const DetailLevels levels(timeline);
    const Column whole = levels.range(0, timeline.records.size());
    QCOMPARE(whole.setpoint.max, 2000);
    QCOMPARE(whole.temperature.min, firstTemperature);
    // Drawn, the line breaks once, wherever the columns fall.
    for (const int count : {2 * records, records / 2}) {
        const auto columns = levels.columns(timeline.firstMs(), timeline.lastMs() + 1, count);
        QCOMPARE(std::count_if(columns.begin(), columns.end(),
                               [](const Column& c) { return c.breakBefore; }),
                 1);
    }
    // The window from the first record to the last shows both.
    const auto shown = levels.columns(timeline.firstMs(), timeline.lastMs(), 3 * records);
    QCOMPARE(std::accumulate(shown.begin(), shown.end(), 0,
                             [](int sum, const Column& c) { return sum + int(c.records); }),
             records);
    QCOMPARE(shown.back().temperature.max, timeline.records.back().temperature);
    const Summary summary = summarize(timeline, INT64_MIN, INT64_MAX);
    QCOMPARE(summary.records, records);
    QCOMPARE(summary.gapCount, 1);
    QCOMPARE(summary.largestOvershoot.value_or(0) * 10, overshoot);

    QCOMPARE(timeline.skippedCount, skippedCount);
    if (skippedCount > 0) {
        const SkippedLine& line = timeline.skipped.at(0);
        QCOMPARE(
            QStringLiteral("%1, line %2: %3").arg(line.file).arg(line.lineNumber).arg(line.reason),
            firstSkipped);
        QCOMPARE(int(timeline.skipped.size()), skippedCount);
    }
}

QTEST_GUILESS_MAIN(TestRecordingReader)
#include "tst_recordingreader.moc"
