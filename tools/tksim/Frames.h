#pragma once

// Modbus RTU frames as the simulator sees them: the CRC it needs to forge an
// answer from another address, and the one-line descriptions of requests and
// answers that go to its log.

#include <cstdint>
#include <string>
#include <vector>

namespace tksim {

using Bytes = std::vector<std::uint8_t>;

// CRC-16/MODBUS (initial 0xFFFF, reflected polynomial 0xA001); the frame
// carries it low byte first.
std::uint16_t crc16(const std::uint8_t* data, std::size_t size);

// Puts the CRC of all bytes but the last two into the last two.
void refreshCrc(Bytes& frame);

// "read 1..3", "write 2=1500", "write 2..3", "function 0x11".
std::string describeRequest(const Bytes& request);

// What an intact answer told the master: "answer 2153 2000 45" for a read of
// registers 1 to 3 (the poll), "answer 2=2000" for other reads, "write
// 2=1500" for an echoed write, "exception 2 read 0..0" for an exception.
// Register values are shown signed.
std::string describeAnswer(const Bytes& request, const Bytes& answer);

std::string hex(const Bytes& bytes);

// Writes to the measured value or the power are refused as a real controller
// refuses them; only the setpoint (register 2) is the operator's to change.
// request starts with the address (RTU) or unit id (TCP); true for a read.
bool writesOnlySetpoint(const Bytes& request);

} // namespace tksim
