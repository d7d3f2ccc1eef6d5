#include "Endpoint.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tksim {

namespace {

speed_t speedConstant(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

bool setRawLine(int fd, int baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = speedConstant(baud);
    if (speed == B0)
        return false;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool lineAtBaud(int fd, int baud) {
    termios tio{};
    return tcgetattr(fd, &tio) == 0 && cfgetospeed(&tio) == speedConstant(baud);
}

Endpoint::Endpoint(Kind kind, std::string path, int baud)
    : m_kind(kind), m_path(std::move(path)), m_baud(baud) {}

Endpoint::~Endpoint() {
    close();
}

bool Endpoint::open(std::string& error) {
    close();
    return m_kind == Kind::Link ? openLink(error) : openDevice(error);
}

bool Endpoint::openLink(std::string& error) {
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = m_path + " exists and is not a symbolic link";
        return false;
    }
    int master = -1;
    int terminal = -1;
    char name[PATH_MAX] = {};
    if (openpty(&master, &terminal, name, nullptr, nullptr) != 0) {
        error = systemError("cannot create a pseudo-terminal");
        return false;
    }
    // Raw before anyone opens it: a cooked terminal would echo our answers
    // back to us and turn bytes like 0x0D into others. ptys accept any speed
    // setting, so one termios lacks only costs the cosmetic speed.
    if (!setRawLine(terminal, m_baud))
        setRawLine(terminal, 19200);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    // Created under a temporary name and renamed over the path, so a reader
    // never finds a half-made link and a stale link from a crash is replaced.
    const std::string temporary = m_path + ".tksim-new";
    ::unlink(temporary.c_str());
    if (::symlink(name, temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = systemError("cannot create the link " + m_path);
        ::unlink(temporary.c_str());
        ::close(master);
        ::close(terminal);
        return false;
    }
    m_fd = master;
    m_terminalFd = terminal;
    m_terminal = name;
    return true;
}

bool Endpoint::openDevice(std::string& error) {
    const int fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot open " + m_path);
        return false;
    }
    if (!setRawLine(fd, m_baud)) {
        error = "cannot set " + m_path + " to " + std::to_string(m_baud) + " bit/s 8N1";
        ::close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    m_fd = fd;
    m_terminal = m_path;
    return true;
}

void Endpoint::close() {
    if (m_fd < 0)
        return;
    if (m_kind == Kind::Link) {
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(m_path.c_str(), target, sizeof target - 1);
        if (n > 0 && m_terminal == std::string(target, static_cast<std::size_t>(n)))
            ::unlink(m_path.c_str());
    }
    ::close(m_fd);
    m_fd = -1;
    if (m_terminalFd >= 0) {
        ::close(m_terminalFd);
        m_terminalFd = -1;
    }
}

} // namespace tksim
