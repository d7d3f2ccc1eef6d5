#include "ControllersSection.h"

#include <QRegularExpression>

#include "Data.h"
#include "PortsSection.h"

namespace settings {

namespace {

constexpr char controllersSection[] = "Controllers";
constexpr char busSection[] = "Bus";

// Program-wide, as the settings they come with are.
ControllersRead kept;

bool validName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    return pattern.match(name).hasMatch();
}

std::optional<int> wholeNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    return text.toInt();
}

QString lineError(int number, const QString& line, const QString& why) {
    return QStringLiteral("[Controllers] line %1 \"%2\": %3").arg(number).arg(line, why);
}

// A [Bus] key in milliseconds from low to high, or its default when absent.
std::optional<int> busKey(const ProfileText& file, const QString& key, int fallback, int low,
                          int high, QString& error) {
    const QString text = file.value(QLatin1String(busSection), key, QString());
    if (text.isEmpty())
        return fallback;
    const auto ms = wholeNumber(text);
    if (ms && *ms >= low && *ms <= high)
        return ms;
    error = QStringLiteral("[Bus] %1 \"%2\": milliseconds from %3 to %4")
                .arg(key, text)
                .arg(low)
                .arg(high);
    return std::nullopt;
}

// Only the first of two sections of one name would be read, and the
// controllers or timing of the second silently left out.
QString repeatedSection(const ProfileText& file, const char* section) {
    const QList<int> headers = file.sectionHeaderLines(QLatin1String(section));
    if (headers.size() < 2)
        return {};
    return QStringLiteral("[%1] line %2: a second [%1] section (the first is at line %3)")
        .arg(QLatin1String(section))
        .arg(headers[1])
        .arg(headers[0]);
}

} // namespace

ControllersRead readControllersSection(const ProfileText& file) {
    ControllersRead read;
    for (const char* section : {controllersSection, busSection}) {
        read.error = repeatedSection(file, section);
        if (!read.error.isEmpty())
            return read;
    }
    if (!file.hasSection(QLatin1String(controllersSection)))
        return read;
    QList<tklink::ControllerId> found;
    const auto fail = [&read](const QString& error) {
        read.error = error;
        return read;
    };
    for (const auto& [number, line] : file.sectionLines(QLatin1String(controllersSection))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(lineError(number, line, QStringLiteral("not NAME=ADDRESS")));
        const QString name = line.left(eq).trimmed();
        const QString addressText = line.mid(eq + 1).trimmed();
        if (!validName(name))
            return fail(lineError(
                number, line, QStringLiteral("a name is 1 to 32 letters, digits, \"-\" or \"_\"")));
        // The audit trail's own words: an entry "run: …" is the program's.
        if (name.compare(QLatin1String("run"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("event"), Qt::CaseInsensitive) == 0)
            return fail(lineError(number, line,
                                  QStringLiteral("\"%1\" is a word of the audit trail").arg(name)));
        const auto address = wholeNumber(addressText);
        if (!address || *address < lowestAddress || *address > highestAddress)
            return fail(lineError(number, line,
                                  QStringLiteral("an address is a whole number from 1 to 247")));
        for (const tklink::ControllerId& earlier : std::as_const(found)) {
            // Folder and metric names: "Oven" and "oven" would be one on
            // some disks and two on others.
            if (earlier.name.compare(name, Qt::CaseInsensitive) == 0)
                return fail(lineError(
                    number, line, QStringLiteral("the name \"%1\" is taken").arg(earlier.name)));
            if (earlier.address == *address)
                return fail(lineError(number, line,
                                      QStringLiteral("address %1 is taken by \"%2\"")
                                          .arg(*address)
                                          .arg(earlier.name)));
        }
        found.append({name, uint8_t(*address)});
    }
    if (found.isEmpty())
        return fail(QStringLiteral("[Controllers] names no controller"));

    // A misspelt key would leave its default in force without a word.
    for (const auto& [number, line] : file.sectionLines(QLatin1String(busSection))) {
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
        if (key.compare(QLatin1String("AnswerTimeout"), Qt::CaseInsensitive) != 0 &&
            key.compare(QLatin1String("ExtraGap"), Qt::CaseInsensitive) != 0)
            return fail(
                QStringLiteral("[Bus] line %1 \"%2\": no such key (AnswerTimeout, ExtraGap)")
                    .arg(number)
                    .arg(line));
    }
    tklink::BusTiming timing;
    QString error;
    const auto timeout =
        busKey(file, QStringLiteral("AnswerTimeout"), timing.answerTimeoutMs, 10, 1000, error);
    if (!timeout)
        return fail(error);
    const auto gap = busKey(file, QStringLiteral("ExtraGap"), timing.extraGapMs, 0, 1000, error);
    if (!gap)
        return fail(error);
    timing.answerTimeoutMs = *timeout;
    timing.extraGapMs = *gap;

    read.controllers = found;
    read.bus = true;
    read.timing = timing;
    return read;
}

void keepControllersSection(const ProfileText& file) {
    kept = readControllersSection(file);
    const bool timeoutGiven =
        !file.value(QLatin1String(busSection), QStringLiteral("AnswerTimeout"), QString())
             .isEmpty();
    if (kept.bus && !timeoutGiven && configuredGateway(Data::comPortNum))
        kept.timing.answerTimeoutMs = gatewayAnswerTimeoutMs;
}

const ControllersRead& configuredControllers() {
    return kept;
}

} // namespace settings
