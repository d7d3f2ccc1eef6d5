#include "SummaryPanel.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "SummaryText.h"

namespace tkview {

SummaryPanel::SummaryPanel(QWidget* parent)
    : QWidget(parent), m_form(new QFormLayout), m_band(new QDoubleSpinBox(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("<b>Shown range</b>"), this);
    layout->addWidget(title);
    layout->addLayout(m_form);
    for (const auto& [name, value] : summaryLines(Summary{}, QTimeZone::systemTimeZone())) {
        auto* nameLabel = new QLabel(name, this);
        auto* valueLabel = new QLabel(value, this);
        valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_form->addRow(nameLabel, valueLabel);
        m_names << nameLabel;
        m_values << valueLabel;
    }
    m_band->setRange(0.1, 500);
    m_band->setDecimals(1);
    m_band->setValue(5.0);
    m_band->setSuffix(QStringLiteral(" °C"));
    m_band->setPrefix(QStringLiteral("± "));
    m_form->addRow(QStringLiteral("Band B"), m_band);
    layout->addStretch();
    connect(m_band, &QDoubleSpinBox::valueChanged, this, &SummaryPanel::bandChanged);
}

double SummaryPanel::band() const {
    return m_band->value();
}

void SummaryPanel::showSummary(const Summary& summary, const QTimeZone& zone) {
    const auto lines = summaryLines(summary, zone);
    for (qsizetype i = 0; i < lines.size() && i < m_values.size(); ++i) {
        m_names[i]->setText(lines[i].first);
        m_values[i]->setText(lines[i].second);
    }
}

} // namespace tkview
