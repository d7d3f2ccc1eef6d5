#pragma once

// A line device with no port behind it: what the line owner writes is kept,
// bytes are handed over as a device would deliver them, and the device can
// go away. Nothing is judged or answered here.

#include <QByteArray>
#include <QList>

#include <utility>

#include "LineDevice.h"

class FakeLine : public tklink::LineDevice {
public:
    bool isOpen() const override { return m_open; }
    void discardPending() override {
        m_received.clear();
        ++discards;
    }
    bool write(const QByteArray& frame) override {
        if (!m_open)
            return false;
        written << frame;
        return true;
    }
    QByteArray takeReceived() override { return std::exchange(m_received, {}); }
    int interFrameSilenceUs() const override { return silenceUs; }

    // One read's worth of bytes arriving.
    void arrive(const QByteArray& bytes) {
        m_received += bytes;
        Q_EMIT bytesArrived();
    }
    void loseDevice() {
        m_open = false;
        Q_EMIT lost();
    }

    QList<QByteArray> written;
    int discards = 0;
    // 3.5 characters above 19200 bit/s.
    int silenceUs = 1750;

private:
    bool m_open = true;
    QByteArray m_received;
};
