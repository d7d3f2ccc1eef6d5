#include "Alarms_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

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
    linkLostBox = box("linkLostBox", generalNumber(Data::alarms.linkLostAfter));
    linkLostBox->setPlaceholderText(QString::number(Data::AlarmSettings().linkLostAfter));
    soundBox = new QCheckBox(QStringLiteral("Sound"), this);
    soundBox->setObjectName(QStringLiteral("soundBox"));
    soundBox->setChecked(Data::alarms.sound);
    refusedLabel = new QLabel(this);
    refusedLabel->setObjectName(QStringLiteral("refusedLabel"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("High temperature at (°C)"), highLimitBox);
    form->addRow(QStringLiteral("Deviation beyond (°C)"), bandBox);
    form->addRow(QStringLiteral("Deviation for (minutes)"), delayBox);
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
    // An empty entry leaves its value empty; a refused one is named.
    const auto take = [this](QLineEdit* entry, std::optional<float>& value) {
        if (entry->text().trimmed().isEmpty())
            return true;
        const auto number = readGeneralNumber(entry->text());
        if (!number || !std::isfinite(float(*number)) || *number < 0) {
            refusedLabel->setText(QStringLiteral("\"%1\" is not a number").arg(entry->text()));
            entry->setFocus();
            return false;
        }
        value = float(*number);
        return true;
    };
    Data::AlarmSettings taken;
    std::optional<float> linkLost;
    if (!take(highLimitBox, taken.highLimit) || !take(bandBox, taken.deviationBand) ||
        !take(delayBox, taken.deviationDelay) || !take(linkLostBox, linkLost))
        return;
    taken.linkLostAfter = linkLost.value_or(taken.linkLostAfter);
    taken.sound = soundBox->isChecked();
    Data::alarms = taken;
    accept();
}

} // namespace settings
