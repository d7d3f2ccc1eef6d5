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
}

QList<std::pair<QString, QString>> settingsEntries() {
    return {
        {QStringLiteral("ComPortNum"), QString::number(Data::comPortNum)},
        {QStringLiteral("ComPortSpeed"), Data::comPortSpeed},
        {QStringLiteral("interv_record"), QString::number(Data::intervRecord)},
        {QStringLiteral("Yvaluemin"), numberKeyText(Data::yValueMin)},
        {QStringLiteral("Yvaluemax"), numberKeyText(Data::yValueMax)},
        {QStringLiteral("Echelle_Temps"), numberKeyText(Data::timeScale)},
    };
}

ProfileWrite saveSettings(const QString& section, const QString& path) {
    return writeProfileStrings(section, settingsEntries(), path);
}

} // namespace settings
