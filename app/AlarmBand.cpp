#include "AlarmBand.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace app {

namespace {

const QColor red(200, 0, 0);
const QColor darkRed(90, 0, 0);
const QColor amber(255, 176, 0);
// Twice a second: seen from across the room, slow enough not to strain.
constexpr int flashMs = 500;

} // namespace

AlarmBand::AlarmBand(QWidget* parent)
    : QFrame(parent), m_text(new QLabel(this)),
      m_acknowledge(new QPushButton(QStringLiteral("Acknowledge"), this)), m_flash(this) {
    setObjectName(QStringLiteral("alarmBand"));
    m_text->setObjectName(QStringLiteral("alarmText"));
    m_acknowledge->setObjectName(QStringLiteral("acknowledgeButton"));
    m_acknowledge->setAutoDefault(false);
    QFont bold = m_text->font();
    bold.setBold(true);
    bold.setPointSizeF(10);
    m_text->setFont(bold);
    // Beside the read-outs the band is narrow: its words take lines.
    m_text->setWordWrap(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 2, 4, 2);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_acknowledge);
    setAutoFillBackground(true);
    m_flash.setInterval(flashMs);
    connect(&m_flash, &QTimer::timeout, this, [this] {
        m_flashOn = !m_flashOn;
        paintColour(m_flashOn ? red : darkRed);
    });
    connect(m_acknowledge, &QPushButton::clicked, this, &AlarmBand::acknowledgeClicked);
    hide();
}

void AlarmBand::showLook(const alarms::BandLook& look) {
    m_colour = look.colour;
    m_text->setText(look.text);
    m_flash.stop();
    // Once acknowledged, a still active alarm has nothing left to acknowledge.
    m_acknowledge->setVisible(look.colour != alarms::BandColour::Red);
    switch (look.colour) {
    case alarms::BandColour::Hidden:
        hide();
        return;
    case alarms::BandColour::FlashingRed:
        m_flashOn = true;
        m_flash.start();
        paintColour(red);
        break;
    case alarms::BandColour::Red:
        paintColour(red);
        break;
    case alarms::BandColour::Amber:
        paintColour(amber);
        break;
    }
    show();
    raise();
}

void AlarmBand::paintColour(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::WindowText, colour == amber ? Qt::black : Qt::white);
    setPalette(p);
    m_text->setPalette(p);
}

} // namespace app
