#pragma once

// A real pseudo-terminal for serial tests: the program under test opens the
// terminal side by its path, the test talks through the controlling side.

#include <QByteArray>
#include <QString>

#include <termios.h>

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return m_master >= 0; }
    // The terminal side, for example /dev/pts/3.
    QString path() const { return m_path; }

    bool write(const QByteArray& bytes);
    // What the program has written so far, without waiting.
    QByteArray readAvailable();
    // Waits, running the Qt event loop, until count bytes came or timeoutMs passed.
    QByteArray read(int count, int timeoutMs = 5000);
    // The line settings of the terminal side, as the program set them.
    termios attributes() const;
    // Closes the controlling side: the terminal side sees a hang-up, as when
    // a USB adapter is pulled.
    void hangUp();

private:
    int m_master = -1;
    QString m_path;
};
