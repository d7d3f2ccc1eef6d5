#pragma once

// The Modbus RTU request as it goes on the line: a hexadecimal request text
// turned into Data::txFrame, its CRC-16 appended low byte first, written in
// one piece.

#include <QString>

#include <cstdint>
#include <optional>

namespace tklink {

class LineDevice;
class SerialPortControl;

// The poll's request: slave 9, read holding registers, registers 1 to 3.
QString pollRequestText();

// Sends the request text (two upper-case hex digits per byte) through the
// port: fills Data::txFrame and Data::txFrameLast, appends the CRC, discards
// the port's unread input and unsent output, sets Data::rxCount to 0 and
// writes the frame. Any failure ends it silently; a failure before the
// discards leaves the unread input and Data::rxCount as they were.
void sendRequest(SerialPortControl& port, const QString& request);
// The same through the line owner's device, when the line is the request's.
void sendRequest(LineDevice& line, const QString& request);

// The byte of a pair of hex digits, the first the high one. Upper case only:
// a low digit outside 0-9/A-F counts as 0, a high one fails.
std::optional<uint8_t> hexPairToByte(const QString& pair);

// Writes the CRC-16/MODBUS of the request text's bytes into Data::txFrame at
// Data::txFrameLast - 1 (low byte) and Data::txFrameLast (high byte); the
// frame must be set up for the request already. Fails, writing nothing, on a
// character above "K".
bool modbusCrc(const QString& request);

} // namespace tklink
