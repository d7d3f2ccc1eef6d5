#include "RecordingReader.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <thread>

#include <cerrno>
#include <new>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RecordLine.h"

namespace tkview {

namespace {

// The recording's marker for a value the controller did not give.
constexpr std::int32_t noDataRaw = 8888;

QString faultText(LineFault fault) {
    switch (fault) {
    case LineFault::NoDate:
        return QStringLiteral("no date with day, month and year");
    case LineFault::BadTime:
        return QStringLiteral("no valid time of day");
    case LineFault::DayMonth:
        return QStringLiteral("not a date in the file's order of day and month");
    case LineFault::MissingValue:
        return QStringLiteral("fewer than three values after the date");
    case LineFault::BadValue:
        return QStringLiteral("a value is not a whole number");
    case LineFault::ValueRange:
        return QStringLiteral("a value is at or beyond a 16-bit register's limit (±32767)");
    case LineFault::ExtraValue:
        return QStringLiteral("more than three values after the date");
    case LineFault::None:
        break;
    }
    return {};
}

// Local wall-clock seconds to UTC milliseconds in a zone. The offsets are
// looked up once per local hour: the records of an hour share them, and a
// lookup costs microseconds. In the hour a clock goes back the same local
// times come twice: the second time round they take the later offset.
class LocalToUtc {
public:
    explicit LocalToUtc(const QTimeZone& zone) : zone_(zone) {}

    // A new run of records that follow each other in time.
    void restart() { lastMs_ = std::numeric_limits<std::int64_t>::min(); }

    const QTimeZone& zone() const { return zone_; }

    std::int64_t toUtcMs(std::int64_t localSeconds) {
        const std::int64_t hour =
            localSeconds >= 0 ? localSeconds / 3600 : -((-localSeconds + 3599) / 3600);
        if (hour != hour_)
            lookUp(hour);
        std::int64_t ms = (localSeconds - earlyOffset_) * 1000;
        if (ms < lastMs_ && lateOffset_ != earlyOffset_)
            ms = (localSeconds - lateOffset_) * 1000;
        lastMs_ = ms;
        return ms;
    }

private:
    int offsetAt(std::int64_t utcSeconds) const {
        return zone_.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
    }

    void lookUp(std::int64_t hour) {
        hour_ = hour;
        const std::int64_t local = hour * 3600;
        // The offsets a day before and after are the candidates; each that
        // maps the hour back onto itself is valid. None is valid in the hour a
        // clock skips: two steps then give the offset in force after it.
        const int before = offsetAt(local - 86400);
        const int after = offsetAt(local + 86400);
        const bool beforeValid = offsetAt(local - before) == before;
        const bool afterValid = offsetAt(local - after) == after;
        if (beforeValid && afterValid) {
            earlyOffset_ = std::max(before, after);
            lateOffset_ = std::min(before, after);
        } else if (beforeValid || afterValid) {
            earlyOffset_ = lateOffset_ = beforeValid ? before : after;
        } else {
            earlyOffset_ = lateOffset_ = offsetAt(local - offsetAt(local));
        }
    }

    QTimeZone zone_;
    std::int64_t hour_ = std::numeric_limits<std::int64_t>::min();
    int earlyOffset_ = 0;
    int lateOffset_ = 0;
    std::int64_t lastMs_ = std::numeric_limits<std::int64_t>::min();
};

// For each layout of dates, whether its first number is the day; for
// two-digit years, whether the year comes first.
struct DayOrder {
    std::array<bool, dateLayoutCount> dayFirst{false, true, true, true};
    std::array<bool, dateLayoutCount> fromName{};
    bool twoDigitYearFirst = false;
};

struct Date {
    int year = 0;
    int month = 0;
    int day = 0;
};

// The date of a line in the file's order; the years of recordings are 20xx.
Date dateOf(const LineFields& f, const DayOrder& order) {
    int year = f.year;
    int a = f.first;
    int b = f.second;
    if (f.layout == DateLayout::TwoDigitYear) {
        year = 2000 + (order.twoDigitYearFirst ? f.first : f.third);
        a = order.twoDigitYearFirst ? f.second : f.first;
        b = order.twoDigitYearFirst ? f.third : f.second;
    }
    const bool dayFirst = f.layout == DateLayout::MonthName || order.dayFirst[int(f.layout)];
    return {year, dayFirst ? b : a, dayFirst ? a : b};
}

// Numbers above 12 seen in each place, which only a day can hold.
struct Evidence {
    std::array<qint64, dateLayoutCount> firstAbove12{};
    std::array<qint64, dateLayoutCount> secondAbove12{};
};

struct FileLines {
    std::vector<SkippedLine> skipped; // the first ones
    qint64 skippedCount = 0;
    qint64 sameTime = 0; // records on the time of the record before
    Evidence evidence;
};

// The local times a file's records may have: from a day before its name's
// date (or its first record's) to a year and a day after it. A line typed
// with a wrong year would stretch the period over decades.
struct TimeWindow {
    std::int64_t fromLocal = std::numeric_limits<std::int64_t>::min();
    std::int64_t toLocal = std::numeric_limits<std::int64_t>::max();

    static TimeWindow around(std::int64_t localSeconds) {
        return {localSeconds - 86400, localSeconds + 367 * std::int64_t(86400)};
    }
};

// Years no recording can have, whatever its name says.
constexpr int firstYear = 1990;
constexpr int lastYear = 2199;

std::int16_t valueOf(std::int32_t raw) {
    return raw == noDataRaw ? noValue : std::int16_t(raw);
}

// Whether the record at previousMs, which came more than a day after the one
// before it (at beforeMs), stands alone there: the next record (at nextMs)
// is back among the earlier ones.
bool isStrayAhead(std::int64_t beforeMs, std::int64_t previousMs, std::int64_t nextMs) {
    constexpr std::int64_t dayMs = std::int64_t(86400) * 1000;
    return beforeMs != std::numeric_limits<std::int64_t>::min() && previousMs - beforeMs > dayMs &&
           nextMs >= beforeMs && previousMs - nextMs > dayMs;
}

// Reads the record lines after the header into `out` with the given order of
// day and month.
FileLines readLines(const char* p, const char* end, char separator, const QString& name,
                    const DayOrder& order, const TimeWindow& window, LocalToUtc& clock,
                    std::vector<Record>& out) {
    FileLines lines;
    clock.restart();
    std::int64_t previousMs = std::numeric_limits<std::int64_t>::min();
    std::int64_t beforePreviousMs = previousMs;
    qint64 previousLine = 0;
    const auto skip = [&](qint64 line, const auto& reason) {
        if (lines.skipped.size() < std::size_t(Timeline::maxListedSkippedLines))
            lines.skipped.push_back({name, line, reason()});
        ++lines.skippedCount;
    };
    qint64 lineNumber = 1;
    LineFields f;
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* lineEnd = newline ? newline : end;
        const char* next = newline ? newline + 1 : end;
        if (lineEnd > p && lineEnd[-1] == '\r')
            --lineEnd;
        ++lineNumber;
        if (lineEnd == p) {
            p = next;
            continue;
        }
        LineFault fault = parseRecordLine(p, lineEnd, separator, f);
        p = next;
        int year = 0;
        int day = 0;
        int month = 0;
        if (fault == LineFault::None) {
            const int layout = int(f.layout);
            const Date date = dateOf(f, order);
            const bool dayFirst = layout == int(DateLayout::MonthName) || order.dayFirst[layout];
            lines.evidence.firstAbove12[layout] += (dayFirst ? date.day : date.month) > 12;
            lines.evidence.secondAbove12[layout] += (dayFirst ? date.month : date.day) > 12;
            year = date.year;
            day = date.day;
            month = date.month;
            if (!isValidDate(year, month, day))
                fault = LineFault::DayMonth;
            // ±32767 is a register's limit, the controller's word for a
            // broken sensor rather than a temperature.
            else if (std::abs(f.setpoint) >= INT16_MAX || std::abs(f.temperature) >= INT16_MAX ||
                     std::abs(f.power) >= INT16_MAX)
                fault = LineFault::ValueRange;
        }
        if (fault != LineFault::None) {
            skip(lineNumber, [&] { return faultText(fault); });
            continue;
        }
        const std::int64_t local = daysFromCivil(year, month, day) * 86400 + f.secondOfDay;
        if (year < firstYear || year > lastYear || local < window.fromLocal ||
            local > window.toLocal) {
            skip(lineNumber, [&] {
                return QStringLiteral("the year %1 is far from the file's date").arg(year);
            });
            continue;
        }
        Record record;
        record.timeMs = clock.toUtcMs(local);
        // A record dated far after both its neighbours (a year typed wrong)
        // is the one left out, not every record after it.
        if (record.timeMs < previousMs &&
            isStrayAhead(beforePreviousMs, previousMs, record.timeMs) && !out.empty()) {
            const std::int64_t strayMs = previousMs;
            skip(previousLine, [&] {
                return QStringLiteral("dated %1, far after the records around it")
                    .arg(QDateTime::fromMSecsSinceEpoch(strayMs, clock.zone())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
            });
            out.pop_back();
            previousMs = beforePreviousMs;
        }
        // Kept in the file's order: a record earlier than the one before is
        // left out and said, never sorted in.
        if (record.timeMs < previousMs) {
            skip(lineNumber, [&] {
                return QStringLiteral("earlier than the record before it (%1)")
                    .arg(QDateTime::fromMSecsSinceEpoch(previousMs, clock.zone())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
            });
            continue;
        }
        lines.sameTime += record.timeMs == previousMs;
        beforePreviousMs = previousMs;
        previousMs = record.timeMs;
        previousLine = lineNumber;
        record.setpoint = valueOf(f.setpoint);
        record.temperature = valueOf(f.temperature);
        // "8888;8888;0": the power of a record without data is no value either.
        record.power = record.setpoint == noValue && record.temperature == noValue
                           ? noValue
                           : std::int16_t(f.power);
        out.push_back(record);
    }
    return lines;
}

// The first line of the body that reads as a record.
bool firstRecord(const char* p, const char* end, char separator, LineFields& f) {
    while (p < end) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        const char* lineEnd = newline ? newline : end;
        if (lineEnd > p && lineEnd[-1] == '\r')
            --lineEnd;
        if (parseRecordLine(p, lineEnd, separator, f) == LineFault::None)
            return true;
        p = newline ? newline + 1 : end;
    }
    return false;
}

// The order of day and month a file's name gives: the first record comes
// within a record period of the time in the name, so the reading that lands
// nearer is the right one. Without a name to go by, a 12-hour clock is taken
// for the US order, month first.
DayOrder orderFromName(const QString& name, const LineFields& f) {
    DayOrder order;
    if (f.layout == DateLayout::MonthName)
        return order;
    if (f.twelveHour) {
        order.dayFirst[int(DateLayout::YearLast)] = false;
        order.dayFirst[int(DateLayout::TwoDigitYear)] = false;
    }
    std::int64_t start = 0;
    if (!startFromFileName(name.toLatin1().constData(), start))
        return order;
    // Each reading of the first record, the nearest to the name's time wins
    // when it is the only one that near.
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    int ties = 0;
    DayOrder chosen;
    for (const bool yearFirst : {false, true}) {
        if (yearFirst && f.layout != DateLayout::TwoDigitYear)
            continue;
        for (const bool dayFirst : {true, false}) {
            DayOrder trial = order;
            trial.twoDigitYearFirst = yearFirst;
            trial.dayFirst[int(f.layout)] = dayFirst;
            const Date d = dateOf(f, trial);
            if (!isValidDate(d.year, d.month, d.day))
                continue;
            const std::int64_t distance =
                std::abs(daysFromCivil(d.year, d.month, d.day) * 86400 + f.secondOfDay - start);
            if (distance < best) {
                best = distance;
                ties = 0;
                chosen = trial;
            } else if (distance == best) {
                ++ties;
            }
        }
    }
    constexpr std::int64_t twoDays = std::int64_t(2) * 86400;
    if (best > twoDays || ties > 0)
        return order;
    chosen.fromName[int(f.layout)] = true;
    return chosen;
}

// The order the records show for layouts the name did not decide: a number
// above 12 can only be a day. Returns true when it differs from `order`.
bool orderFromRecords(const Evidence& evidence, DayOrder& order) {
    bool changed = false;
    for (int layout = 0; layout < dateLayoutCount; ++layout) {
        if (order.fromName[layout] || layout == int(DateLayout::MonthName))
            continue;
        const bool first = evidence.firstAbove12[layout] > 0;
        const bool second = evidence.secondAbove12[layout] > 0;
        if (first != second && order.dayFirst[layout] != first) {
            order.dayFirst[layout] = first;
            changed = true;
        }
    }
    return changed;
}

struct FileResult {
    SourceFile file;
    std::vector<SkippedLine> skipped;
    QString error;
    QString warning; // read, but with something the user must hear about
};

std::function<void(const QString&)>& betweenBlocks() {
    static std::function<void(const QString&)> hook;
    return hook;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The bytes of a regular file. It is read, not mapped: a file cut short while
// mapped kills the reader (SIGBUS). It is opened without blocking, so that a
// fifo or a device named like a recording is refused rather than waited on.
// The first block must start like a recording before more is read, and the
// memory grows with what is read: a sparse file of 100 GB is refused by its
// first line, not by an allocation sized from its length.
QString readBytes(const QString& path, QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1: cannot be read: %2").arg(path, systemError(errno));
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    struct stat before {};
    if (::fstat(fd, &before) != 0)
        return QStringLiteral("%1: cannot be read: %2").arg(path, systemError(errno));
    if (!S_ISREG(before.st_mode))
        return QStringLiteral("%1: not a recording: not a regular file").arg(path);
    constexpr qsizetype block = qsizetype(1) << 20;
    constexpr qsizetype firstBlock = qsizetype(64) << 10;
    try {
        bytes.reserve(qsizetype(std::min<std::int64_t>(before.st_size, 64 * block)));
        // Large pages where the system lends them: a page fault per 2 MB
        // rather than per 4 kB of a large file.
        if (bytes.capacity() >= 4 * block) {
            constexpr std::uintptr_t large = 0x1FFFFF;
            char* begin = bytes.data();
            char* end = begin + bytes.capacity();
            const std::uintptr_t misaligned = reinterpret_cast<std::uintptr_t>(begin) & large;
            char* start = begin + (misaligned == 0 ? 0 : large + 1 - misaligned);
            char* stop = end - (reinterpret_cast<std::uintptr_t>(end) & large);
            if (stop > start)
                ::madvise(start, std::size_t(stop - start), MADV_HUGEPAGE);
        }
        for (;;) {
            const qsizetype want = bytes.isEmpty() ? firstBlock : block;
            const qsizetype at = bytes.size();
            bytes.resize(at + want);
            const ssize_t got = ::read(fd, bytes.data() + at, std::size_t(want));
            if (got < 0 && errno == EINTR) {
                bytes.resize(at);
                continue;
            }
            if (got < 0)
                return QStringLiteral("%1: cannot be read: %2").arg(path, systemError(errno));
            bytes.resize(at + got);
            if (got == 0)
                break;
            if (betweenBlocks())
                betweenBlocks()(path);
            // No recording holds a NUL byte; a sparse or damaged file is
            // refused at its first hole rather than read to its end.
            if (std::memchr(bytes.constData() + at, 0, std::size_t(got)) != nullptr)
                return QStringLiteral("%1: not a recording: it holds NUL bytes").arg(path);
            if (at == 0) {
                const char* data = bytes.constData();
                const char* newline =
                    static_cast<const char*>(std::memchr(data, '\n', std::size_t(got)));
                const char* headerEnd = newline ? newline : data + got;
                if (headerEnd > data && headerEnd[-1] == '\r')
                    --headerEnd;
                if ((newline || got == firstBlock) && headerSeparator(data, headerEnd) == 0)
                    return {}; // the caller says what is wrong with the first line
            }
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        bytes.squeeze();
        return QStringLiteral("%1: cannot be read: too large for the memory").arg(path);
    }
    if (bytes.size() < before.st_size)
        return QStringLiteral("%1: cannot be read: it became shorter while being read").arg(path);
    return {};
}

FileResult readFile(const QString& path, LocalToUtc& clock, std::vector<Record>& out) {
    FileResult result;
    result.file.path = path;
    result.file.name = QFileInfo(path).fileName();
    // The seal before the bytes: a record landing in between is then one the
    // seal covers as pending, not a seal newer than what was read.
    const sealing::SealSnapshot seal = sealing::takeSealSnapshot(path);
    QByteArray bytes;
    result.error = readBytes(path, bytes);
    if (!result.error.isEmpty())
        return result;
    const auto size = std::size_t(bytes.size());
    if (size == 0) {
        result.error = QStringLiteral("%1: not a recording: the file is empty").arg(path);
        return result;
    }
    const char* data = bytes.constData();
    const char* end = data + size;

    // The hash goes on the other core while this one reads the lines.
    // OpenSSL's SHA-256 uses the processor's SHA instructions: a 40 MB file
    // costs about 20 ms of CPU instead of Qt's 170 ms.
    std::thread hashing([&] {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) == 1)
            result.file.sha256 = QByteArray(reinterpret_cast<const char*>(digest), int(length));
        // The seal's verdict on these bytes: a report's count, hash and seal
        // then speak of one and the same file, even one still growing.
        result.file.seal = sealing::verifySnapshot(
            seal, path, QByteArrayView(data, qsizetype(size)), sealing::TrustedKeys::system());
    });
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
    const char* headerEnd = newline ? newline : end;
    const char* body = newline ? newline + 1 : end;
    const char separator = headerSeparator(
        data, headerEnd > data && headerEnd[-1] == '\r' ? headerEnd - 1 : headerEnd);
    if (separator == 0) {
        hashing.join();
        result.error =
            QStringLiteral(
                "%1: not a recording: its first line is not \"Time;Setpoint;Temperature;Power;\"")
                .arg(path);
        return result;
    }

    LineFields first;
    DayOrder order;
    TimeWindow window;
    const bool any = firstRecord(body, end, separator, first);
    if (any)
        order = orderFromName(result.file.name, first);
    std::int64_t named = 0;
    if (any) {
        const Date date = dateOf(first, order);
        const std::int64_t firstLocal =
            daysFromCivil(date.year, date.month, date.day) * 86400 + first.secondOfDay;
        const bool hasName = startFromFileName(result.file.name.toLatin1().constData(), named);
        if (hasName && std::abs(firstLocal - named) > 2 * std::int64_t(86400)) {
            result.warning =
                QStringLiteral("%1: the date in its name is not the date of its first record")
                    .arg(result.file.name);
        }
        window = TimeWindow::around(hasName && result.warning.isEmpty() ? named : firstLocal);
    }
    const std::size_t begin = out.size();
    // A record line has at least 22 bytes; pages reserved but never written
    // take no memory. Doubled at least, so that many files copy little.
    if (const std::size_t needed = begin + size / 22 + 1; needed > out.capacity())
        out.reserve(std::max(needed, 2 * out.capacity()));
    FileLines lines = readLines(body, end, separator, result.file.name, order, window, clock, out);
    // Read again, rarely, when the records contradict the order taken first.
    if (orderFromRecords(lines.evidence, order)) {
        out.resize(begin);
        lines = readLines(body, end, separator, result.file.name, order, window, clock, out);
    }
    hashing.join();

    result.file.records = qint64(out.size() - begin);
    result.file.skippedLines = lines.skippedCount;
    result.file.sameTime = lines.sameTime;
    result.file.dayFirst = order.dayFirst[int(DateLayout::YearLast)];
    for (int layout :
         {int(DateLayout::TwoDigitYear), int(DateLayout::YearLast), int(DateLayout::YearFirst)})
        if (order.fromName[layout])
            result.file.dayFirst = order.dayFirst[layout];
    result.skipped = std::move(lines.skipped);
    if (begin < out.size()) {
        // The file's records are in time order: out-of-order ones were left out.
        result.file.firstMs = out[begin].timeMs;
        result.file.lastMs = out.back().timeMs;
    }
    return result;
}

} // namespace

QStringList recordingsInFolder(const QString& folder) {
    const QDir dir(folder);
    QStringList paths;
    // Unreadable ones too: reading them says why they are left out.
    for (const QString& name :
         dir.entryList({QStringLiteral("REC_*.csv")}, QDir::Files | QDir::System, QDir::Name))
        paths << dir.filePath(name);
    return paths;
}

void setBetweenBlocks(std::function<void(const QString& path)> hook) {
    betweenBlocks() = std::move(hook);
}

QString recordingsState(const QStringList& paths) {
    QString state;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        for (const QString& file : info.isDir() ? recordingsInFolder(path) : QStringList{path}) {
            const QFileInfo each(file);
            state += QStringLiteral("%1\t%2\t%3\n")
                         .arg(file)
                         .arg(each.size())
                         .arg(each.lastModified().toMSecsSinceEpoch());
        }
    }
    return state;
}

ReadResult readRecordings(const QStringList& paths, const QTimeZone& zone) {
    return readRecordings(paths, zone, {});
}

ReadResult readRecordings(const QStringList& paths, const QTimeZone& zone,
                          const std::function<QTimeZone(const QString& path)>& zoneOf) {
    ReadResult result;
    Timeline& timeline = result.timeline;
    timeline.zone = zone;
    QStringList files;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            const QStringList found = recordingsInFolder(path);
            if (found.isEmpty())
                result.errors
                    << QStringLiteral("%1: no recording (REC_*.csv) in this folder").arg(path);
            files << found;
        } else if (info.exists() || info.isSymLink()) {
            files << path;
        } else {
            result.errors << QStringLiteral("%1: no such file or folder").arg(path);
        }
    }

    LocalToUtc viewerClock(zone);
    for (const QString& path : files) {
        std::optional<LocalToUtc> ownClock;
        if (zoneOf)
            if (const QTimeZone own = zoneOf(path); own != zone)
                ownClock.emplace(own);
        FileResult read = readFile(path, ownClock ? *ownClock : viewerClock, timeline.records);
        if (!read.error.isEmpty()) {
            result.errors << read.error;
            continue;
        }
        if (!read.warning.isEmpty())
            result.warnings << read.warning;
        if (read.file.sameTime > 0)
            result.warnings << QStringLiteral("%1: %2 records have the time of the record before "
                                              "them: were the seconds dropped by a spreadsheet?")
                                   .arg(read.file.name)
                                   .arg(read.file.sameTime);
        for (SkippedLine& line : read.skipped)
            if (timeline.skipped.size() < std::size_t(Timeline::maxListedSkippedLines))
                timeline.skipped.push_back(std::move(line));
        timeline.skippedCount += read.file.skippedLines;
        timeline.files.push_back(std::move(read.file));
    }
    if (timeline.records.capacity() > timeline.records.size() * 2)
        timeline.records.shrink_to_fit();

    std::stable_sort(timeline.files.begin(), timeline.files.end(),
                     [](const SourceFile& a, const SourceFile& b) {
                         return a.records > 0 && (b.records == 0 || a.firstMs < b.firstMs);
                     });
    // Each file that starts before an earlier one has ended overlaps the one
    // that reaches furthest: one overlap a file at most, however many files.
    int reaching = -1;
    for (std::size_t i = 0; i < timeline.files.size(); ++i) {
        const SourceFile& file = timeline.files[i];
        if (file.records == 0)
            continue;
        if (reaching >= 0) {
            const SourceFile& earlier = timeline.files[std::size_t(reaching)];
            if (file.firstMs <= earlier.lastMs)
                timeline.overlaps.push_back(
                    {reaching, int(i), file.firstMs, std::min(earlier.lastMs, file.lastMs)});
        }
        if (reaching < 0 || file.lastMs > timeline.files[std::size_t(reaching)].lastMs)
            reaching = int(i);
    }
    // Files given in any order make one timeline; within a file the order
    // is the file's own.
    const auto byTime = [](const Record& a, const Record& b) { return a.timeMs < b.timeMs; };
    if (!std::is_sorted(timeline.records.begin(), timeline.records.end(), byTime))
        std::stable_sort(timeline.records.begin(), timeline.records.end(), byTime);
    findGaps(timeline);
    return result;
}

} // namespace tkview
