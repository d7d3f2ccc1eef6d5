#include "LineOutput.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tkrecord {

void ignoreBrokenPipe() {
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void LineOutput::print(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
#ifdef Q_OS_WIN
    const auto written = ::_write(m_descriptor, bytes.constData(), unsigned(bytes.size()));
#else
    ssize_t written = -1;
    do
        written = ::write(m_descriptor, bytes.constData(), std::size_t(bytes.size()));
    while (written < 0 && errno == EINTR);
#endif
    if (written != bytes.size())
        ++m_dropped;
}

} // namespace tkrecord
