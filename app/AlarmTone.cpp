#include "AlarmTone.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <cmath>
#include <cstdint>
#include <numbers>

namespace app {

namespace {

constexpr int sampleRate = 44100;
constexpr double beepSeconds = 0.4;
constexpr double pitchHz = 880;
// Half of full scale: loud enough across a workshop, no clipping in a mixer.
constexpr double amplitude = 0.5;
// 10 ms rises and falls: a tone cut off at full level clicks.
constexpr double rampSeconds = 0.01;

QByteArray beepSamples() {
    const int count = int(sampleRate * beepSeconds);
    QByteArray pcm(qsizetype(count) * qsizetype(sizeof(int16_t)), Qt::Uninitialized);
    auto* out = reinterpret_cast<int16_t*>(pcm.data());
    for (int i = 0; i < count; ++i) {
        const double t = double(i) / sampleRate;
        const double ramp = std::min({1.0, t / rampSeconds, (beepSeconds - t) / rampSeconds});
        out[i] = int16_t(
            std::lround(32767 * amplitude * ramp * std::sin(2 * std::numbers::pi * pitchHz * t)));
    }
    return pcm;
}

} // namespace

AlarmTone::AlarmTone(QObject* parent) : QObject(parent), m_buffer(&m_pcm), m_repeat(this) {
    m_repeat.setInterval(repeatMs);
    connect(&m_repeat, &QTimer::timeout, this, &AlarmTone::beep);
}

void AlarmTone::setRinging(bool ringing) {
    if (ringing == m_repeat.isActive())
        return;
    if (!ringing) {
        m_repeat.stop();
        if (m_sink)
            m_sink->stop();
        return;
    }
    m_repeat.start();
    beep();
}

void AlarmTone::beep() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    if (!m_sink) {
        // Made at the first beep: the start-up shows the window sooner.
        m_pcm = beepSamples();
        QAudioFormat format;
        format.setSampleRate(sampleRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        m_sink = new QAudioSink(device, format, this);
    }
    m_sink->stop();
    m_buffer.close();
    m_buffer.open(QIODevice::ReadOnly);
    m_sink->start(&m_buffer);
}

} // namespace app
