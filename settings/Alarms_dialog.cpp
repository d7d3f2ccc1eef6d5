#include "Alarms_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <optional>

#include "AlarmLimits.h"
#include "Data.h"
#include "TextFormats.h"

namespace settings {

namespace {

QString entryText(const std::optional<float>& value) {
    return value ? generalNumber(*value) : QString();
}

} // namespace

Alarms_dialog::Alarms_dialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Alarms_dialog"));
    setWindowTitle(QStringLiteral("Alarms"));
    const auto box = [this](const char* name, const QString& text) {
        auto* e = new QLineEdit(text, this);
        e->setObjectName(QLatin1String(name));
        e->setPlaceholderText(QStringLiteral("off"));
        return e;
    };
    highLimitBox = box("highLimitBox", entryText(Data::alarms.highLimit));
    bandBox = box("bandBox", entryText(Data::alarms.deviationBand));
    delayBox = box("delayBox", entryText(Data::alarms.deviationDelay));
    heatUpBox = box("heatUpBox", entryText(Data::alarms.heatUpLimit));
    hysteresisBox = box("hysteresisBox", generalNumber(Data::alarms.highHysteresis));
    hysteresisBox->setPlaceholderText(QString::number(Data::AlarmSettings().highHysteresis));
    linkLostBox = box("linkLostBox", generalNumber(Data::alarms.linkLostAfter));
    linkLostBox->setPlaceholderText(QString::number(Data::AlarmSettings().linkLostAfter));
    soundBox = new QCheckBox(QStringLiteral("Sound"), this);
    soundBox->setObjectName(QStringLiteral("soundBox"));
    soundBox->setChecked(Data::alarms.sound);
    refusedLabel = new QLabel(this);
    refusedLabel->setObjectName(QStringLiteral("refusedLabel"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("High temperature at (°C)"), highLimitBox);
    form->addRow(QStringLiteral("High clears below it by (°C)"), hysteresisBox);
    form->addRow(QStringLiteral("Deviation beyond (°C)"), bandBox);
    form->addRow(QStringLiteral("Deviation for (minutes)"), delayBox);
    form->addRow(QStringLiteral("Heat-up within (minutes)"), heatUpBox);
    form->addRow(QStringLiteral("Link lost after (seconds)"), linkLostBox);
    form->addRow(QString(), soundBox);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("An empty limit turns its alarm off."), this));
    layout->addLayout(form);
    layout->addWidget(refusedLabel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &Alarms_dialog::takeEntries);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void Alarms_dialog::takeEntries() {
    // An empty entry leaves its value empty; a refused one is named, with
    // the words conf.ini's reading uses.
    const auto take = [this](QLineEdit* entry, alarms::AlarmKey key, std::optional<float>& value) {
        if (entry->text().trimmed().isEmpty())
            return true;
        const auto number = readGeneralNumber(entry->text());
        const QString refusal = alarms::valueRefusal(key, entry->text(), number);
        if (!refusal.isEmpty()) {
            refusedLabel->setText(refusal);
            entry->setFocus();
            return false;
        }
        value = float(*number);
        return true;
    };
    using alarms::AlarmKey;
    Data::AlarmSettings taken;
    std::optional<float> hysteresis;
    std::optional<float> linkLost;
    if (!take(highLimitBox, AlarmKey::HighLimit, taken.highLimit) ||
        !take(hysteresisBox, AlarmKey::HighHysteresis, hysteresis) ||
        !take(bandBox, AlarmKey::DeviationBand, taken.deviationBand) ||
        !take(delayBox, AlarmKey::DeviationDelay, taken.deviationDelay) ||
        !take(heatUpBox, AlarmKey::HeatUpLimit, taken.heatUpLimit) ||
        !take(linkLostBox, AlarmKey::LinkLostAfter, linkLost))
        return;
    taken.highHysteresis = hysteresis.value_or(taken.highHysteresis);
    taken.linkLostAfter = linkLost.value_or(taken.linkLostAfter);
    taken.sound = soundBox->isChecked();
    Data::alarms = taken;
    accept();
}

} // namespace settings
