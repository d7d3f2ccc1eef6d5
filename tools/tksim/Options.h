#pragma once

// The simulator's command line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tksim {

// Probability per answer of each injected fault, 0 to 1.
struct FaultRates {
    double drop = 0.0;
    double exception = 0.0;
    double truncate = 0.0;
    double badCrc = 0.0;
    double badAddress = 0.0;
    double noise = 0.0;
    double extra = 0.0;
    double slow = 0.0;
    double unplug = 0.0;
};

// Register values that replace the fixed ones at a time after the start.
struct ScriptStep {
    double atSeconds = 0;
    std::array<std::int16_t, 3> registers{};
};

// An address that gives no answer from fromSeconds after the start until
// toSeconds (negative: for ever), as a controller switched off or cut from
// the line.
struct Silence {
    int address = 0;
    double fromSeconds = 0;
    double toSeconds = -1;
};

// Writes refused with an exception code: by every address (address 0) or
// by one.
struct WriteRefusal {
    int address = 0;
    int code = 0;
};

struct Options {
    std::string link;   // pseudo-terminal mode: path of the symbolic link
    std::string device; // device mode: an existing serial device
    // Modbus TCP mode: the port to listen on at 127.0.0.1, 0 for any free
    // one; negative: not in this mode. The addresses become unit ids.
    int tcpPort = -1;
    int baud = 19200;
    // Link mode: requests sent at another speed than baud are lost, as on a
    // real line, instead of being answered whatever the pty's setting.
    bool checkBaud = false;
    // Slave addresses served on the line, each its own controller and oven.
    std::vector<int> addresses{9};
    std::vector<Silence> silences;
    // Faults are drawn only for these addresses; empty: for all.
    std::vector<int> faultAddresses;
    std::string logFile; // empty: standard error
    std::uint32_t seed = 1;
    std::optional<std::array<std::int16_t, 3>> fixed;
    std::vector<ScriptStep> script; // in time order; implies fixed values
    double room = 20.0;
    // One setpoint for every address, or one per address in their order.
    std::vector<double> setpoints{200.0};
    double speed = 1.0;
    FaultRates rates;
    int exceptionCode = 4; // slave device failure
    std::vector<WriteRefusal> writeRefusals;
    int byteDelayMs = 20;
    double unplugAfterSeconds = -1.0; // negative: no timed unplug
    int replugAfterMs = 3000;
    long maxFaults = -1; // negative: no limit
    bool help = false;
};

struct ParseResult {
    Options options;
    std::string error; // empty when the command line is valid
};

// Reads the arguments after the program name; "--name value" and
// "--name=value" are both accepted.
ParseResult parseOptions(const std::vector<std::string>& args);

std::string helpText();

} // namespace tksim
