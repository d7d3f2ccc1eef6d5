// What sealing costs (docs/benchmarks.md, run by scripts/bench-seal.sh): the
// time a seal adds to one record, as the record writer's step runs it (the
// record appended and synced, the seal rewritten before and after), for a new
// file and for one holding a day of one-second records; the bytes a record
// costs in write calls (the record, its seal, the block hashes) and towards
// the disk (/proc/self/io write_bytes, plain and sealed), at the start and
// after a day of records; and how fast verification reads a recording of a
// million records.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <memory>

#include <unistd.h>

#include "BenchSupport.h"
#include "FileSealer.h"
#include "RecordFile.h"
#include "RecordFormat.h"
#include "RecorderState.h"
#include "SealText.h"
#include "Verification.h"

namespace {

QString recordAt(int i) {
    const QDateTime t = QDateTime(QDate(2026, 12, 8), QTime(0, 0)).addSecs(i);
    return recording::recordLine(t, 2000, 1950 + float(i % 100), float(i % 100), QLocale::c());
}

// Milliseconds of the whole step; in sealMs those of the sealer's two calls.
double appendMs(const QString& path, const QString& line, sealing::FileSealer* sealer,
                double* sealMs = nullptr) {
    QElapsedTimer clock;
    clock.start();
    qint64 sealNs = 0;
    recording::BeforeWrite before;
    if (sealer)
        before = [&](qint64 size, const QByteArray& bytes) {
            const qint64 from = clock.nsecsElapsed();
            sealer->aboutToWrite(path, size, bytes);
            sealNs += clock.nsecsElapsed() - from;
        };
    const recording::AppendOutcome outcome =
        recording::appendRecord(path, line, recording::headerLine(), before);
    if (sealer) {
        const qint64 from = clock.nsecsElapsed();
        sealer->written(path, outcome);
        sealNs += clock.nsecsElapsed() - from;
    }
    if (!outcome.ok)
        bench::fail(QStringLiteral("could not write ") + path);
    if (sealMs)
        *sealMs = double(sealNs) / 1e6;
    return double(clock.nsecsElapsed()) / 1e6;
}

// Median milliseconds per record without and with the seal: count records
// appended to plain and sealed in turn, so that whatever else the machine
// does weighs on both alike.
// does, weighs on both alike. The third figure: the sealer's own calls.
std::array<double, 3> recordMs(const QString& plain, const QString& sealed, int first, int count,
                               sealing::FileSealer& sealer) {
    std::vector<double> without;
    std::vector<double> with;
    std::vector<double> sealing;
    for (int i = first; i < first + count; ++i) {
        without.push_back(appendMs(plain, recordAt(i), nullptr));
        double sealMs = 0;
        with.push_back(appendMs(sealed, recordAt(i), &sealer, &sealMs));
        sealing.push_back(sealMs);
    }
    return {bench::percentile(without, 50), bench::percentile(with, 50),
            bench::percentile(sealing, 50)};
}

// A count of /proc/self/io so far: "wchar" the bytes passed to write calls,
// "write_bytes" those the process sent towards the disk (a page each time
// one it made dirty was clean before).
qint64 ioCount(QByteArrayView field) {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        bench::fail(QStringLiteral("cannot read /proc/self/io"));
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith(field.toByteArray() + ": "))
            return line.mid(field.size() + 2).toLongLong();
    }
    return 0;
}

qint64 bytesWritten() {
    return ioCount("wchar");
}

// Mean bytes written per record over two blocks' worth of records, so that
// each block hash appended is counted as often.
double bytesPerRecord(const QString& path, int first, sealing::FileSealer& sealer) {
    const int count = 2 * sealing::blockLines;
    const qint64 before = bytesWritten();
    for (int i = first; i < first + count; ++i)
        appendMs(path, recordAt(i), &sealer);
    return double(bytesWritten() - before) / count;
}

// Mean write_bytes per record over two blocks' worth of records appended to
// path (sealed by sealer, or not). With writtenBack, every page is written
// back between two records (sync), as when records are further apart than
// the kernel keeps a page dirty (30 s): each record then dirties every page
// it touches anew, the worst case.
double diskBytesPerRecord(const QString& path, int first, sealing::FileSealer* sealer,
                          bool writtenBack) {
    const int count = 2 * sealing::blockLines;
    qint64 bytes = 0;
    for (int i = first; i < first + count; ++i) {
        if (writtenBack)
            ::sync();
        const qint64 before = ioCount("write_bytes");
        appendMs(path, recordAt(i), sealer);
        bytes += ioCount("write_bytes") - before;
    }
    return double(bytes) / count;
}

// A file of lines records, sealed in one append.
void writeSealed(const QString& path, int lines, const sealing::SealKey& key) {
    QByteArray bytes = recording::headerLine().toLatin1();
    for (int i = 0; i < lines; ++i)
        bytes += recordAt(i).toLatin1();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        bench::fail(QStringLiteral("could not write ") + path);
    file.close();
    sealing::FileSealer(key, 1).appended(path, 0, bytes);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    // The folder to write in: the disk the recordings go to, not /tmp's.
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/bench-seal-XXXXXX"));
    const sealing::SealKey key = sealing::generateKey();
    constexpr int records = 200;

    // Only records sealed as the recorder seals them, its state kept: for
    // the script to count their system calls (--records N).
    if (argc > 3 && QByteArrayView(argv[2]) == "--records") {
        sealing::FileSealer sealer(key, 1);
        sealer.keepStateIn(std::make_shared<sealing::RecorderState>(
            dir.filePath(QStringLiteral("recorder.state")), sealing::RecorderStateData{}));
        const int count = QByteArray(argv[3]).toInt();
        for (int i = 0; i < count; ++i)
            appendMs(dir.filePath(QStringLiteral("REC_counted.csv")), recordAt(i), &sealer);
        return 0;
    }

    // Bytes sent towards the disk per record, plain and sealed as the
    // recorder seals (its state beside the key written too), back to back
    // and with every page written back between records.
    {
        sealing::FileSealer sealer(key, 1);
        sealer.keepStateIn(std::make_shared<sealing::RecorderState>(
            dir.filePath(QStringLiteral("recorder.state")), sealing::RecorderStateData{}));
        const QString diskPlain = dir.filePath(QStringLiteral("REC_disk_plain.csv"));
        const QString diskSealed = dir.filePath(QStringLiteral("REC_disk_sealed.csv"));
        // The files made first: their creation is not a record's cost.
        appendMs(diskPlain, recordAt(0), nullptr);
        appendMs(diskSealed, recordAt(0), &sealer);
        for (const bool writtenBack : {false, true}) {
            const double plainBytes = diskBytesPerRecord(diskPlain, 1, nullptr, writtenBack);
            const double sealedBytes = diskBytesPerRecord(diskSealed, 1, &sealer, writtenBack);
            const QByteArray when = writtenBack ? "_written_back" : "";
            bench::result(("write_bytes_plain" + when).constData(), plainBytes);
            bench::result(("write_bytes_sealed" + when).constData(), sealedBytes);
            bench::result(("write_bytes_ratio" + when).constData(), sealedBytes / plainBytes);
        }
    }

    const QString plain = dir.filePath(QStringLiteral("REC_plain.csv"));
    const QString sealed = dir.filePath(QStringLiteral("REC_sealed.csv"));
    sealing::FileSealer sealer(key, 1);
    const auto [plainMs, sealedMs, stepMs] = recordMs(plain, sealed, 0, records, sealer);
    bench::result("record_plain_ms", plainMs);
    bench::result("record_sealed_ms", sealedMs);
    bench::result("seal_added_ms", sealedMs - plainMs);
    bench::result("seal_calls_ms", stepMs);
    bench::result("bytes_per_record_first", bytesPerRecord(sealed, records, sealer));

    // A day of one-second records: 1,351 block hashes beside the seal.
    const QString dayPlain = dir.filePath(QStringLiteral("REC_day_plain.csv"));
    const QString daySealed = dir.filePath(QStringLiteral("REC_day_sealed.csv"));
    writeSealed(dayPlain, 86400, key);
    writeSealed(daySealed, 86400, key);
    sealing::FileSealer daySealer(key, 1);
    const auto [dayPlainMs, daySealedMs, dayStepMs] =
        recordMs(dayPlain, daySealed, 86400, records / 2, daySealer);
    bench::result("day_record_plain_ms", dayPlainMs);
    bench::result("day_record_sealed_ms", daySealedMs);
    bench::result("day_seal_added_ms", daySealedMs - dayPlainMs);
    bench::result("day_seal_calls_ms", dayStepMs);
    bench::result("bytes_per_record_day",
                  bytesPerRecord(daySealed, 86400 + records / 2, daySealer));

    // The seal's own text and signature for that day, no disk.
    sealing::SealState day = sealing::chainStart(QStringLiteral("REC_day.csv"), key.publicKey, 1);
    QFile dayFile(daySealed);
    if (dayFile.open(QIODevice::ReadOnly))
        sealing::addBytes(day, dayFile.readAll());
    std::vector<double> texts;
    for (int run = 0; run < 50; ++run) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray text = sealing::sealText(day, key, &day);
        texts.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (text.isEmpty())
            bench::fail(QStringLiteral("no seal text"));
    }
    bench::result("day_seal_text_ms", bench::percentile(texts, 50));

    // Verification of a million records (about 40 MB), from the page cache.
    const QString big = dir.filePath(QStringLiteral("REC_million.csv"));
    writeSealed(big, 1000000, key);
    const double megabytes = double(QFileInfo(big).size()) / 1e6;
    std::vector<double> rates;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        const sealing::Verdict verdict = sealing::verifyFile(big);
        rates.push_back(megabytes / (double(clock.nsecsElapsed()) / 1e9));
        if (!verdict.intact())
            bench::fail(QStringLiteral("million-record file: ") + sealing::verdictText(verdict));
    }
    bench::result("verify_file_mb", megabytes);
    bench::result("verify_mb_per_s", bench::percentile(rates, 50));
    return 0;
}
