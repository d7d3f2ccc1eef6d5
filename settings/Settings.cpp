#include "Settings.h"

#include "Data.h"
#include "NumberText.h"
#include "Profile.h"

namespace settings {

namespace {

int16_t readWholeNumber(const QString& section, const QString& key, int16_t fallback,
                        const QString& path) {
    const QString text = getProfileString(section, key, QString::number(fallback), path);
    return roundToInt16(leadingNumber(text)).value_or(fallback);
}

float readNumber(const QString& section, const QString& key, const QString& fallback,
                 const QString& path) {
    return static_cast<float>(leadingNumber(getProfileString(section, key, fallback, path)));
}

constexpr char alarmsSection[] = "Alarms";

std::optional<float> readLimit(const QString& key, const QString& path) {
    const QString text = getProfileString(QLatin1String(alarmsSection), key, QString(), path);
    if (text.isEmpty())
        return std::nullopt;
    return static_cast<float>(leadingNumber(text));
}

QString limitText(const std::optional<float>& limit) {
    return limit ? numberKeyText(*limit) : QString();
}

Data::AlarmSettings readAlarmSettings(const QString& path) {
    Data::AlarmSettings a;
    a.highLimit = readLimit(QStringLiteral("HighLimit"), path);
    a.deviationBand = readLimit(QStringLiteral("DeviationBand"), path);
    a.deviationDelay = readLimit(QStringLiteral("DeviationDelay"), path);
    a.linkLostAfter = readLimit(QStringLiteral("LinkLostAfter"), path).value_or(a.linkLostAfter);
    a.sound = readNumber(QLatin1String(alarmsSection), QStringLiteral("Sound"), QStringLiteral("1"),
                         path) != 0;
    return a;
}

// The [Alarms] keys whose values differ from the file's: a file that never
// had an alarm set keeps its lines as they were.
QList<ProfileEntry> changedAlarmKeys(const QString& path) {
    const Data::AlarmSettings onFile = readAlarmSettings(path);
    const Data::AlarmSettings& now = Data::alarms;
    const QString alarms = QLatin1String(alarmsSection);
    QList<ProfileEntry> changed;
    const auto add = [&](bool differs, const QString& key, const QString& value) {
        if (differs)
            changed.append({alarms, key, value});
    };
    add(onFile.highLimit != now.highLimit, QStringLiteral("HighLimit"), limitText(now.highLimit));
    add(onFile.deviationBand != now.deviationBand, QStringLiteral("DeviationBand"),
        limitText(now.deviationBand));
    add(onFile.deviationDelay != now.deviationDelay, QStringLiteral("DeviationDelay"),
        limitText(now.deviationDelay));
    add(onFile.linkLostAfter != now.linkLostAfter, QStringLiteral("LinkLostAfter"),
        numberKeyText(now.linkLostAfter));
    add(onFile.sound != now.sound, QStringLiteral("Sound"), QString::number(now.sound ? 1 : 0));
    return changed;
}

} // namespace

void loadSettings(const QString& section, const QString& path) {
    Data::comPortNum = readWholeNumber(section, QStringLiteral("ComPortNum"), 1, path);
    Data::comPortSpeed =
        getProfileString(section, QStringLiteral("ComPortSpeed"), QStringLiteral("19200"), path);
    Data::intervRecord = readWholeNumber(section, QStringLiteral("interv_record"), 20, path);
    Data::yValueMin = readNumber(section, QStringLiteral("Yvaluemin"), QStringLiteral("0"), path);
    Data::yValueMax = readNumber(section, QStringLiteral("Yvaluemax"), QStringLiteral("300"), path);
    Data::timeScale =
        readNumber(section, QStringLiteral("Echelle_Temps"), QStringLiteral("10"), path);
    Data::alarms = readAlarmSettings(path);
}

ProfileWrite saveSettings(const QString& section, const QString& path) {
    return writeProfileEntries(
        QList<ProfileEntry>{
            {section, QStringLiteral("ComPortNum"), QString::number(Data::comPortNum)},
            {section, QStringLiteral("ComPortSpeed"), Data::comPortSpeed},
            {section, QStringLiteral("interv_record"), QString::number(Data::intervRecord)},
            {section, QStringLiteral("Yvaluemin"), numberKeyText(Data::yValueMin)},
            {section, QStringLiteral("Yvaluemax"), numberKeyText(Data::yValueMax)},
            {section, QStringLiteral("Echelle_Temps"), numberKeyText(Data::timeScale)},
        } + changedAlarmKeys(path),
        path);
}

} // namespace settings
