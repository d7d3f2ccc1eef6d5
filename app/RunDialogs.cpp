#include "RunDialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

namespace {

QLineEdit* addBox(QFormLayout* form, const char* name, const QString& label, const QString& text) {
    auto* box = new QLineEdit(text);
    box->setObjectName(QLatin1String(name));
    // The trail keeps no more of a value than this.
    box->setMaxLength(sealing::runValueLimit);
    box->setMinimumWidth(320);
    form->addRow(label, box);
    return box;
}

} // namespace

RunDialog::RunDialog(const sealing::RunIdentity& shown, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("runDialog"));
    setWindowTitle(QStringLiteral("Start recording"));
    auto* form = new QFormLayout;
    batchBox = addBox(form, "batchBox", QStringLiteral("Batch / lot"), shown.batch);
    partBox = addBox(form, "partBox", QStringLiteral("Part"), shown.part);
    customerBox = addBox(form, "customerBox", QStringLiteral("Customer"), shown.customer);
    operatorBox = addBox(form, "operatorBox", QStringLiteral("Operator"), shown.operatorName);
    noteBox = addBox(form, "noteBox", QStringLiteral("Note"), shown.note);
    auto* hint = new QLabel(QStringLiteral("All fields are optional; they go into the audit "
                                           "trail with the recording."));
    hint->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Start recording"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("startButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(buttons);
    batchBox->setFocus();
}

sealing::RunIdentity RunDialog::identity() const {
    return {batchBox->text().trimmed(), partBox->text().trimmed(), customerBox->text().trimmed(),
            operatorBox->text().trimmed(), noteBox->text().trimmed()};
}

MarkDialog::MarkDialog(const QStringList& events, const QString& controller, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("markDialog"));
    setWindowTitle(controller.isEmpty() ? QStringLiteral("Mark event")
                                        : QStringLiteral("Mark event – ") + controller);
    eventBox = new QComboBox;
    eventBox->setObjectName(QStringLiteral("eventBox"));
    // The shop's list, and any words of the operator's own.
    eventBox->setEditable(true);
    eventBox->setInsertPolicy(QComboBox::NoInsert);
    eventBox->addItems(events);
    eventBox->setCurrentIndex(-1);
    eventBox->lineEdit()->setPlaceholderText(QStringLiteral("Choose or type an event"));
    eventBox->lineEdit()->setMaxLength(sealing::runValueLimit);
    eventBox->setMinimumWidth(320);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    markButton = buttons->button(QDialogButtonBox::Ok);
    markButton->setText(QStringLiteral("Mark"));
    markButton->setObjectName(QStringLiteral("markButton"));
    markButton->setEnabled(false);
    connect(eventBox, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { markButton->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("The event goes into the audit trail at this "
                                                "moment:")));
    layout->addWidget(eventBox);
    layout->addWidget(buttons);
    eventBox->setFocus();
}

QString MarkDialog::text() const {
    return eventBox->currentText().trimmed();
}

} // namespace app
