#pragma once

// Where tkrecord's lines go: a terminal, a journal, or a pipe whose reader may
// go away at any time. A line that cannot be written is dropped and counted;
// the recording never stops for it.

#include <QString>

namespace tkrecord {

// A write to a pipe without a reader then fails with EPIPE instead of ending
// the process. For the whole process: call once at start.
void ignoreBrokenPipe();

class LineOutput {
public:
    explicit LineOutput(int descriptor) : m_descriptor(descriptor) {}

    // The line and a line end in one write, so that lines never mix with
    // another writer's and a short write drops the line rather than leaving
    // half of it buffered for the next.
    void print(const QString& line);
    // Lines not written whole.
    quint64 dropped() const { return m_dropped; }

private:
    int m_descriptor;
    quint64 m_dropped = 0;
};

} // namespace tkrecord
