// tkmkrec: writes a recording as tkcontrol and tkrecord write it (the same
// functions, in any locale), for the viewer's samples and benchmark.
//
//   tkmkrec [--locale NAME] [--start yyyy-MM-ddTHH:mm:ss] [--period SECONDS]
//           [--count N] [--outage FIRST:COUNT]... FOLDER
//
// Prints the file's path. The temperature heats up to the setpoint, rings
// around it and carries a spike every 100000 records; an outage writes the
// no-data records the program writes when the controller does not answer.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "RecordFormat.h"

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "tkmkrec: %s\n", message);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QLocale locale = QLocale::system();
    QDateTime start(QDate(2026, 12, 8), QTime(21, 33, 1));
    int period = 1;
    qint64 count = 100;
    std::vector<std::pair<qint64, qint64>> outages;
    QString folder;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (!arg.startsWith(QLatin1String("--"))) {
            folder = arg;
            continue;
        }
        if (args.isEmpty())
            return fail("an option lacks its value");
        const QString value = args.takeFirst();
        if (arg == QLatin1String("--locale"))
            locale = QLocale(value);
        else if (arg == QLatin1String("--start"))
            start = QDateTime::fromString(value, Qt::ISODate);
        else if (arg == QLatin1String("--period"))
            period = value.toInt();
        else if (arg == QLatin1String("--count"))
            count = value.toLongLong();
        else if (arg == QLatin1String("--outage"))
            outages.emplace_back(value.section(QLatin1Char(':'), 0, 0).toLongLong(),
                                 value.section(QLatin1Char(':'), 1, 1).toLongLong());
        else
            return fail("unknown option");
    }
    if (folder.isEmpty() || !start.isValid() || period < 1 || count < 0)
        return fail("usage: tkmkrec [--locale NAME] [--start ISO] [--period S] [--count N] "
                    "[--outage FIRST:COUNT] FOLDER");

    QFile file(QDir(folder).filePath(recording::recordFileNameFor(start)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail("cannot write the file");
    QByteArray text = recording::headerLine().toUtf8();
    const float setpoint = 2000;
    for (qint64 i = 0; i < count; ++i) {
        bool outage = false;
        for (const auto& [first, length] : outages)
            outage = outage || (i >= first && i < first + length);
        // Heats from 20 degrees with a time constant of 600 records, then
        // rings by a few degrees; every 100000th record is a 30-degree spike.
        const auto t = double(i);
        auto measure = float(std::round(200 + (setpoint - 200) * (1 - std::exp(-t / 600)) +
                                        40 * std::sin(t / 900) * std::exp(-t / 20000) +
                                        15 * std::sin(t / 37)));
        if (i > 0 && i % 100000 == 0)
            measure += 300;
        const float power =
            float(std::clamp(std::round((setpoint - measure) / 4 + 30), 0.0f, 100.0f));
        const QDateTime now = start.addSecs(i * period);
        text += (outage ? recording::recordLine(now, 8888, 8888, 0, locale)
                        : recording::recordLine(now, setpoint, measure, power, locale))
                    .toUtf8();
        if (text.size() > (1 << 20)) {
            file.write(text);
            text.clear();
        }
    }
    file.write(text);
    if (!file.flush())
        return fail("cannot write the file");
    std::printf("%s\n", qPrintable(file.fileName()));
    return 0;
}
