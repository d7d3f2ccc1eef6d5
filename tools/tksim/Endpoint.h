#pragma once

// The master's side of the line: either a pseudo-terminal whose terminal side
// is published through a symbolic link, or an existing serial device. Closing
// it is the unplug: the link disappears and the master's open port hangs up.

#include <string>

namespace tksim {

class Endpoint {
public:
    enum class Kind { Link, Device };

    Endpoint(Kind kind, std::string path, int baud);
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    bool open(std::string& error);
    // Closes the line; in link mode removes the link if it still points to
    // our terminal.
    void close();

    bool isOpen() const { return m_fd >= 0; }
    // Non-blocking descriptor to read requests from and write answers to.
    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    // The terminal the link points to (link mode), for messages.
    const std::string& terminal() const { return m_terminal; }

private:
    bool openLink(std::string& error);
    bool openDevice(std::string& error);

    Kind m_kind;
    std::string m_path;
    int m_baud;
    int m_fd = -1;
    int m_terminalFd = -1; // held open so the master never sees a hang-up
    std::string m_terminal;
};

// Puts a terminal in raw 8N1 mode at baud; false for a speed termios lacks.
bool setRawLine(int fd, int baud);

// The line's speed as the other side set it last is baud. On a pty's
// controlling side the terminal side's settings are read.
bool lineAtBaud(int fd, int baud);

} // namespace tksim
