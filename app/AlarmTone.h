#pragma once

// The alarm tone: a short beep made at the first alarm, played again every
// few seconds while ringing. Without an audio output it stays silent and says
// nothing.

#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QTimer>

class QAudioSink;

namespace app {

class AlarmTone : public QObject {
    Q_OBJECT

public:
    // Time from one beep to the next.
    static constexpr int repeatMs = 3000;

    explicit AlarmTone(QObject* parent = nullptr);

    void setRinging(bool ringing);
    bool ringing() const { return m_repeat.isActive(); }

private:
    void beep();

    QByteArray m_pcm;
    QBuffer m_buffer;
    QTimer m_repeat;
    QAudioSink* m_sink = nullptr;
};

} // namespace app
