#include "Pty.h"

#include "ProcessProbe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

namespace {

// A raw pty; the controlling side's descriptor, or -1.
int openRawPty(QString& path) {
    int master = -1;
    int terminal = -1;
    char name[256] = {};
    if (openpty(&master, &terminal, name, nullptr, nullptr) != 0)
        return -1;
    termios raw{};
    tcgetattr(terminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    ::close(terminal);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
    return master;
}

} // namespace

Pty::Pty() {
    // Qt closes a lost port's device before it removes the port's lock file,
    // and the kernel may hand the pty's number to another process in between:
    // a program opening that new pty at once finds it locked by a live
    // process. A number that still has a lock file is passed over; those set
    // aside are held until a free one is found, so it cannot come again.
    std::vector<int> passedOver;
    for (int attempt = 1;; ++attempt) {
        m_master = openRawPty(m_path);
        if (m_master < 0 || attempt == 8 || !QFile::exists(serialLockFileFor(m_path)))
            break;
        passedOver.push_back(m_master);
        m_master = -1;
    }
    for (const int descriptor : passedOver)
        ::close(descriptor);
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
