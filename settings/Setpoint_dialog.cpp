#include "Setpoint_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "SetpointFrame.h"
#include "SetpointWrite.h"

namespace settings {

namespace {

QString degreesText(double value) {
    return QLocale::c().toString(value, 'f', 1);
}

} // namespace

Setpoint_dialog::Setpoint_dialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Setpoint_dialog"));
    setWindowTitle(QStringLiteral("Setpoint"));

    controllerValue = new QLabel(this);
    controllerValue->setObjectName(QStringLiteral("controllerValue"));
    currentValue = new QLabel(this);
    currentValue->setObjectName(QStringLiteral("currentValue"));
    newValueBox = new QLineEdit(this);
    newValueBox->setObjectName(QStringLiteral("newValueBox"));
    limitsLabel = new QLabel(this);
    limitsLabel->setObjectName(QStringLiteral("limitsLabel"));
    reasonBox = new QLineEdit(this);
    reasonBox->setObjectName(QStringLiteral("reasonBox"));
    reasonBox->setPlaceholderText(QStringLiteral("optional, goes into the audit trail"));
    reasonBox->setMaxLength(200);

    auto* valueRow = new QHBoxLayout;
    valueRow->addWidget(newValueBox);
    valueRow->addWidget(limitsLabel);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Controller:"), controllerValue);
    form->addRow(QStringLiteral("Current setpoint:"), currentValue);
    form->addRow(QStringLiteral("New setpoint (°C):"), valueRow);
    form->addRow(QStringLiteral("Reason:"), reasonBox);

    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setWordWrap(true);
    messageLabel->setMinimumWidth(420);

    writeButton = new QPushButton(QStringLiteral("Write…"), this);
    writeButton->setObjectName(QStringLiteral("writeButton"));
    confirmButton = new QPushButton(QStringLiteral("Confirm"), this);
    confirmButton->setObjectName(QStringLiteral("confirmButton"));
    confirmButton->hide();
    // Enter checks the value; only a deliberate press on "Confirm" writes.
    confirmButton->setAutoDefault(false);
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setAutoDefault(false);
    writeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(writeButton);
    buttons->addWidget(confirmButton);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(messageLabel);
    layout->addLayout(buttons);

    connect(writeButton, &QPushButton::clicked, this, &Setpoint_dialog::check);
    connect(confirmButton, &QPushButton::clicked, this, &Setpoint_dialog::confirm);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    // A confirmation holds for what it states, not for an edited value or
    // reason.
    connect(newValueBox, &QLineEdit::textChanged, this, &Setpoint_dialog::unconfirm);
    connect(reasonBox, &QLineEdit::textChanged, this, &Setpoint_dialog::unconfirm);
}

void Setpoint_dialog::start() {
    unconfirm();
    if (m_busy)
        return;
    newValueBox->clear();
    reasonBox->clear();
    say(m_unavailable);
    newValueBox->setFocus();
}

void Setpoint_dialog::hideEvent(QHideEvent* event) {
    unconfirm();
    QDialog::hideEvent(event);
}

void Setpoint_dialog::setController(const tklink::ControllerId& id,
                                    std::optional<int16_t> currentTenths, const QString& unknown) {
    // A confirmation holds for the controller and the setpoint it states only.
    if (m_confirming) {
        if (!(id == m_id)) {
            unconfirm();
            say(QStringLiteral("Another controller is shown: nothing written."));
        } else if (currentTenths != m_current) {
            unconfirm();
            say(QStringLiteral("The controller's setpoint is now %1: nothing written.")
                    .arg(currentTenths ? tklink::tenthsText(*currentTenths) + QStringLiteral(" °C")
                                       : unknown));
        }
    }
    m_id = id;
    m_current = currentTenths;
    m_unknown = unknown;
    controllerValue->setText(tklink::controllerLabel(id));
    currentValue->setText(currentTenths ? tklink::tenthsText(*currentTenths) + QStringLiteral(" °C")
                                        : unknown);
}

void Setpoint_dialog::setLimits(std::optional<double> low, std::optional<double> high,
                                const QString& unavailable) {
    m_low = low;
    m_high = high;
    m_unavailable = unavailable;
    limitsLabel->setText(
        low && high ? QStringLiteral("%1 to %2 °C").arg(degreesText(*low), degreesText(*high))
                    : QStringLiteral("no limits set"));
    const bool usable = unavailable.isEmpty();
    newValueBox->setEnabled(usable);
    reasonBox->setEnabled(usable);
    writeButton->setEnabled(usable);
    if (!usable)
        say(unavailable);
}

void Setpoint_dialog::check() {
    unconfirm();
    if (!m_unavailable.isEmpty() || m_busy || !m_low || !m_high)
        return;
    const QString text = newValueBox->text().trimmed();
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    const std::optional<int16_t> tenths = ok ? tklink::setpointTenths(value) : std::nullopt;
    if (!tenths) {
        refuse(QStringLiteral("\"%1\"").arg(text),
               QStringLiteral("\"%1\" is not a temperature").arg(text));
        return;
    }
    const QString change =
        m_current ? QStringLiteral("%1 → %2 °C")
                        .arg(tklink::tenthsText(*m_current), tklink::tenthsText(*tenths))
                  : tklink::tenthsText(*tenths) + QStringLiteral(" °C");
    // The limits hold for the value as written, in tenths.
    if (*tenths < std::lround(*m_low * 10) || *tenths > std::lround(*m_high * 10)) {
        refuse(change,
               QStringLiteral("%1 °C is outside the limits, %2 to %3 °C")
                   .arg(tklink::tenthsText(*tenths), degreesText(*m_low), degreesText(*m_high)));
        return;
    }
    if (!m_current) {
        refuse(change, QStringLiteral("the controller's setpoint is %1").arg(m_unknown));
        return;
    }
    if (*tenths == *m_current) {
        refuse(change,
               QStringLiteral("the setpoint is %1 °C already").arg(tklink::tenthsText(*tenths)));
        return;
    }
    m_confirming = tenths;
    say(tklink::setpointChangeText({m_id, *m_current, *tenths, {}}) +
        QStringLiteral("\nConfirm to write it to the controller."));
    writeButton->hide();
    confirmButton->show();
}

void Setpoint_dialog::confirm() {
    if (!m_confirming)
        return;
    const int16_t tenths = *m_confirming;
    unconfirm();
    Q_EMIT writeRequested(m_id, tenths, reasonBox->text());
}

void Setpoint_dialog::unconfirm() {
    m_confirming.reset();
    confirmButton->hide();
    writeButton->show();
    writeButton->setDefault(true);
}

void Setpoint_dialog::showProgress(const QString& text) {
    m_busy = true;
    newValueBox->setEnabled(false);
    reasonBox->setEnabled(false);
    writeButton->setEnabled(false);
    say(text);
}

void Setpoint_dialog::showOutcome(const QString& text) {
    m_busy = false;
    setLimits(m_low, m_high, m_unavailable);
    say(text);
}

void Setpoint_dialog::refuse(const QString& attempt, const QString& why) {
    say(why.left(1).toUpper() + why.mid(1) + QStringLiteral(": nothing written."));
    Q_EMIT refused(m_id, attempt, reasonBox->text(), why);
}

void Setpoint_dialog::say(const QString& text) {
    messageLabel->setText(text);
}

} // namespace settings
