#include "WindowChoices.h"

namespace settings {

namespace {

WindowChoices kept;

// A switch: "1" on, "0" or missing off, anything else refused and off.
bool readSwitch(const ProfileText& file, const QString& section, const QString& key,
                QStringList& refused) {
    const QString text = file.value(section, key, QStringLiteral("0")).trimmed();
    if (text == QLatin1String("1"))
        return true;
    if (text != QLatin1String("0"))
        refused << QStringLiteral("conf.ini line %1: %2 \"%3\" is 0 or 1")
                       .arg(file.lineOf(section, key))
                       .arg(key, text);
    return false;
}

} // namespace

WindowChoices readWindowChoices(const ProfileText& file) {
    WindowChoices read;
    read.alarms = file.hasSection(QStringLiteral("Alarms"));
    read.seal = readSwitch(file, QStringLiteral("Records"), QStringLiteral("Seal"), read.refused);
    read.askForRun =
        readSwitch(file, QStringLiteral("Recording"), QStringLiteral("AskForRun"), read.refused);
    return read;
}

void keepWindowChoices(const ProfileText& file) {
    kept = readWindowChoices(file);
}

const WindowChoices& configuredWindowChoices() {
    return kept;
}

} // namespace settings
