#include "Pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty() {
    int terminal = -1;
    char name[256] = {};
    if (openpty(&m_master, &terminal, name, nullptr, nullptr) != 0) {
        m_master = -1;
        return;
    }
    termios raw{};
    tcgetattr(terminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    ::close(terminal);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
}

Pty::~Pty() {
    hangUp();
}

bool Pty::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray Pty::readAvailable() {
    QByteArray result;
    char chunk[256];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        result.append(chunk, n);
    }
    return result;
}

QByteArray Pty::read(int count, int timeoutMs) {
    QByteArray result;
    const QDeadlineTimer deadline(timeoutMs);
    while (result.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, 10) > 0 && (fd.revents & POLLIN))
            result += readAvailable();
    }
    return result;
}

termios Pty::attributes() const {
    termios result{};
    tcgetattr(m_master, &result); // on the controlling side this reads the terminal's
    return result;
}

void Pty::hangUp() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
