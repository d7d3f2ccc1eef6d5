#include "Settings.h"

#include "AlarmLimits.h"
#include "ControlSection.h"
#include "ControllersSection.h"
#include "Data.h"
#include "EventsSection.h"
#include "NumberText.h"
#include "PortsSection.h"
#include "Profile.h"
#include "WindowChoices.h"

namespace settings {

namespace {

int16_t readWholeNumber(const ProfileText& file, const QString& section, const QString& key,
                        int16_t fallback) {
    const QString text = file.value(section, key, QString::number(fallback));
    return roundToInt16(leadingNumber(text)).value_or(fallback);
}

float readNumber(const ProfileText& file, const QString& section, const QString& key,
                 const QString& fallback) {
    return static_cast<float>(leadingNumber(file.value(section, key, fallback)));
}

constexpr char alarmsSection[] = "Alarms";

// One [Alarms] value: nothing when it is empty or missing, or when it is
// refused, and then why, with the line it is on.
std::optional<float> readLimit(const ProfileText& file, alarms::AlarmKey key,
                               QStringList* refusals) {
    const QString section = QLatin1String(alarmsSection);
    const QString text = file.value(section, alarms::keyName(key), QString());
    if (text.isEmpty())
        return std::nullopt;
    const std::optional<double> number = alarms::confNumber(text);
    const QString refusal = alarms::valueRefusal(key, text, number);
    if (!refusal.isEmpty()) {
        if (refusals)
            refusals->append(QStringLiteral("conf.ini line %1: %2")
                                 .arg(file.lineOf(section, alarms::keyName(key)))
                                 .arg(refusal));
        return std::nullopt;
    }
    return static_cast<float>(*number);
}

QString limitText(const std::optional<float>& limit) {
    return limit ? numberKeyText(*limit) : QString();
}

Data::AlarmSettings readAlarmSettings(const ProfileText& file, QStringList* refusals = nullptr) {
    using alarms::AlarmKey;
    Data::AlarmSettings a;
    a.highLimit = readLimit(file, AlarmKey::HighLimit, refusals);
    a.highHysteresis =
        readLimit(file, AlarmKey::HighHysteresis, refusals).value_or(a.highHysteresis);
    a.deviationBand = readLimit(file, AlarmKey::DeviationBand, refusals);
    a.deviationDelay = readLimit(file, AlarmKey::DeviationDelay, refusals);
    a.heatUpLimit = readLimit(file, AlarmKey::HeatUpLimit, refusals);
    a.linkLostAfter = readLimit(file, AlarmKey::LinkLostAfter, refusals).value_or(a.linkLostAfter);
    a.sound = readNumber(file, QLatin1String(alarmsSection), QStringLiteral("Sound"),
                         QStringLiteral("1")) != 0;
    return a;
}

// The [Alarms] keys whose values differ from the file's: a file that never
// had an alarm set keeps its lines as they were.
QList<ProfileEntry> changedAlarmKeys(const QString& path) {
    const ConfFileRead read = readConfFile(path);
    const auto onFile = alarmEntries(readAlarmSettings(
        ProfileText(read.status == ConfFileRead::Status::Read ? read.bytes : QByteArray())));
    const auto now = alarmEntries(Data::alarms);
    QList<ProfileEntry> changed;
    for (qsizetype i = 0; i < now.size(); ++i) {
        if (now[i].second != onFile[i].second)
            changed.append({QLatin1String(alarmsSection), now[i].first, now[i].second});
    }
    return changed;
}

} // namespace

SettingsRead loadSettings(const QString& section, const QString& path) {
    const ConfFileRead read = readConfFile(path);
    const ProfileText file(read.status == ConfFileRead::Status::Read ? read.bytes : QByteArray());
    Data::comPortNum = readWholeNumber(file, section, QStringLiteral("ComPortNum"), 1);
    Data::comPortSpeed =
        file.value(section, QStringLiteral("ComPortSpeed"), QStringLiteral("19200"));
    Data::intervRecord = readWholeNumber(file, section, QStringLiteral("interv_record"), 20);
    Data::yValueMin = readNumber(file, section, QStringLiteral("Yvaluemin"), QStringLiteral("0"));
    Data::yValueMax = readNumber(file, section, QStringLiteral("Yvaluemax"), QStringLiteral("300"));
    Data::timeScale =
        readNumber(file, section, QStringLiteral("Echelle_Temps"), QStringLiteral("10"));
    keepPortsSection(file);
    keepControllersSection(file);
    keepControlSection(file);
    keepEventsSection(file);
    keepWindowChoices(file);
    SettingsRead result;
    result.status = read.status;
    result.reason = read.reason;
    result.controllersRefused = configuredControllers().error;
    result.portsRefused = portsSectionError(file);
    result.controlRefused = configuredControl().refused;
    result.eventsRefused = configuredEvents().error;
    Data::alarms = readAlarmSettings(file, &result.alarmsRefused);
    // Beyond 16 bits the key's default of 20 s was taken; 0 and below leave
    // the record timer at its own 20 s.
    const QString interval =
        file.value(section, QStringLiteral("interv_record"), QStringLiteral("20"));
    const auto seconds = roundToInt16(leadingNumber(interval));
    if (!seconds || *seconds < 1)
        result.intervalRefused =
            QStringLiteral("interv_record \"%1\" out of range, 1 to 32767 s").arg(interval);
    return result;
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

QList<std::pair<QString, QString>> alarmEntries(const Data::AlarmSettings& alarms) {
    return {
        {QStringLiteral("HighLimit"), limitText(alarms.highLimit)},
        {QStringLiteral("DeviationBand"), limitText(alarms.deviationBand)},
        {QStringLiteral("DeviationDelay"), limitText(alarms.deviationDelay)},
        {QStringLiteral("HeatUpLimit"), limitText(alarms.heatUpLimit)},
        {QStringLiteral("HighHysteresis"), numberKeyText(alarms.highHysteresis)},
        {QStringLiteral("LinkLostAfter"), numberKeyText(alarms.linkLostAfter)},
        {QStringLiteral("Sound"), QString::number(alarms.sound ? 1 : 0)},
    };
}

ProfileWrite saveSettings(const QString& section, const QString& path) {
    QList<ProfileEntry> entries;
    for (const auto& [key, value] : settingsEntries())
        entries.append({section, key, value});
    ProfileWrite written = writeProfileEntries(entries + changedAlarmKeys(path), path);
    // "Close" is where the operator asks for conf.ini to count again: its
    // [Ports] entries too, as written with the six keys.
    if (written)
        keepPortsSection(ProfileText(written.bytes));
    return written;
}

} // namespace settings
