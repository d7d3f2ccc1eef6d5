#pragma once

// A port that is not a serial device but an Ethernet gateway in front of the
// RS-485 pair: "tcp://HOST:PORT" for a Modbus TCP gateway (MBAP header, the
// unit id is the controller's address; port 502 when left out) or
// "rtu+tcp://HOST:PORT" for a serial server that passes the RTU frames,
// CRC included, over a raw TCP connection (ser2net and the like; the port
// must be given). HOST is a name, an IPv4 address or an IPv6 address in
// brackets. Pure: nothing is resolved or connected here.

#include <QString>

#include <optional>

namespace tklink {

struct GatewayAddress {
    enum class Kind { ModbusTcp, RtuOverTcp };
    Kind kind = Kind::ModbusTcp;
    // A name or an address, IPv6 without its brackets.
    QString host;
    quint16 port = 0;

    // As the operator writes it: "tcp://[fe80::1]:502".
    QString text() const;
    bool operator==(const GatewayAddress&) const = default;
};

// The port of a Modbus TCP gateway when the address names none.
inline constexpr quint16 modbusTcpPort = 502;

// The text is meant as a gateway rather than a device: it has a scheme
// ("name://"), good or bad.
bool namesGateway(const QString& text);

struct GatewayParse {
    std::optional<GatewayAddress> address;
    // Why the text is no gateway address, for the operator; empty when it is.
    QString error;
};

GatewayParse parseGatewayAddress(const QString& text);

} // namespace tklink
