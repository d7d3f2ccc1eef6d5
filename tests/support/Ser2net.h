#pragma once

// Debian's ser2net as the serial server of a test: a TCP port of 127.0.0.1
// that carries the bytes of a serial device raw (RTU over TCP), as a serial
// server in a cabinet does. Killed and started again on the same port to
// play a gateway that goes away and comes back.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class Ser2net {
public:
    // device: the serial device to serve (a pseudo-terminal); baud: its speed.
    Ser2net(QString device, int baud);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts ser2net and waits until it listens; the port is chosen at the
    // first start and kept. False when it exits first or timeoutMs passes.
    bool start(int timeoutMs = 20000);
    // SIGKILL: no goodbye on the connection, as a gateway losing power.
    void kill();

    quint16 port() const { return m_port; }
    // The port's address for conf.ini: rtu+tcp://127.0.0.1:PORT.
    QString address() const;

private:
    bool listening() const;

    QTemporaryDir m_dir;
    QString m_device;
    int m_baud;
    quint16 m_port = 0;
    QProcess m_process;
};

// ser2net is installed (scripts/test.sh installs it).
bool ser2netInstalled();
