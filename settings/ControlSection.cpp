#include "ControlSection.h"

#include "AlarmLimits.h"

namespace settings {

namespace {

constexpr char controlSection[] = "Control";
// The register holds tenths of a degree in 16 signed bits.
constexpr double lowestSetpoint = -3276.8;
constexpr double highestSetpoint = 3276.7;

ControlRead kept;

QString refusal(const ProfileText& file, const QString& key, const QString& why) {
    return QStringLiteral("conf.ini line %1: %2")
        .arg(file.lineOf(QLatin1String(controlSection), key))
        .arg(why);
}

// A limit: nothing when it is missing, or refused with why.
std::optional<double> readLimit(const ProfileText& file, const QString& key, QStringList& refused) {
    const QString text = file.value(QLatin1String(controlSection), key, QString());
    if (text.isEmpty())
        return std::nullopt;
    const std::optional<double> number = alarms::confNumber(text);
    if (!number) {
        refused << refusal(file, key, QStringLiteral("%1 \"%2\" is not a number").arg(key, text));
        return std::nullopt;
    }
    if (*number < lowestSetpoint || *number > highestSetpoint) {
        refused << refusal(
            file, key,
            QStringLiteral("%1 \"%2\" out of range, -3276.8 to 3276.7 °C").arg(key, text));
        return std::nullopt;
    }
    return number;
}

} // namespace

ControlRead readControlSection(const ProfileText& file) {
    ControlRead read;
    const QString section = QLatin1String(controlSection);
    const QString writeKey = QStringLiteral("SetpointWrite");
    const QString write = file.value(section, writeKey, QStringLiteral("0")).trimmed();
    if (write == QLatin1String("1"))
        read.setpointWrite = true;
    else if (write != QLatin1String("0"))
        read.refused << refusal(file, writeKey,
                                QStringLiteral("SetpointWrite \"%1\" is 0 or 1").arg(write));

    read.setpointMin = readLimit(file, QStringLiteral("SetpointMin"), read.refused);
    read.setpointMax = readLimit(file, QStringLiteral("SetpointMax"), read.refused);
    if (read.limitsSet() && *read.setpointMin > *read.setpointMax)
        read.refused << refusal(file, QStringLiteral("SetpointMax"),
                                QStringLiteral("SetpointMax %1 is below SetpointMin %2")
                                    .arg(*read.setpointMax)
                                    .arg(*read.setpointMin));

    const QString functionKey = QStringLiteral("SetpointFunction");
    const QString function = file.value(section, functionKey, QStringLiteral("6")).trimmed();
    if (function == QLatin1String("16"))
        read.setpointFunction = 16;
    else if (function != QLatin1String("6"))
        read.refused << refusal(file, functionKey,
                                QStringLiteral("SetpointFunction \"%1\" is 6 or 16").arg(function));

    // A value that cannot be meant as written is never guessed at.
    if (!read.refused.isEmpty())
        read.setpointWrite = false;
    return read;
}

void keepControlSection(const ProfileText& file) {
    kept = readControlSection(file);
}

const ControlRead& configuredControl() {
    return kept;
}

} // namespace settings
