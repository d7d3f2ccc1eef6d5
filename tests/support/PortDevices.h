#pragma once

// The devices a test puts behind port numbers (a pty, a link to one, a path
// that does not exist), the resolver the program asks for them, and the
// opening of a port as start-up does it.

#include <QString>

#include <functional>
#include <map>

namespace tklink {
class SerialPortControl;
}

class PortDevices {
public:
    QString& operator[](int port) { return m_devices[port]; }
    void clear() { m_devices.clear(); }
    // Reads this object at each call: none for a number without a device.
    std::function<QString(int)> resolver(const QString& none = QString()) const {
        return [this, none](int port) {
            const auto it = m_devices.find(port);
            return it == m_devices.end() ? none : it->second;
        };
    }

private:
    std::map<int, QString> m_devices;
};

// Port number at speed, as conf.ini gives them, opened with open_port; true
// when Data::portConnected says it opened.
bool openConfigured(tklink::SerialPortControl& port, int number, const QString& speed);
