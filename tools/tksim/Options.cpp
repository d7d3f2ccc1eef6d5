#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace tksim {

namespace {

bool toDouble(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool toLong(const std::string& text, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

// "2153,2000,45": three signed 16-bit register values.
bool toRegisters(const std::string& text, std::array<std::int16_t, 3>& registers) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < registers.size(); ++i) {
        const std::size_t comma = text.find(',', start);
        const bool last = i + 1 == registers.size();
        if (last != (comma == std::string::npos))
            return false;
        long value = 0;
        if (!toLong(text.substr(start, last ? std::string::npos : comma - start), value) ||
            value < -32768 || value > 32767)
            return false;
        registers[i] = static_cast<std::int16_t>(value);
        start = comma + 1;
    }
    return true;
}

// "9,10,11": distinct slave addresses from 1 to 247.
bool toAddresses(const std::string& text, std::vector<int>& addresses) {
    std::vector<int> found;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        long value = 0;
        if (!toLong(text.substr(start, end - start), value) || value < 1 || value > 247 ||
            std::find(found.begin(), found.end(), value) != found.end())
            return false;
        found.push_back(int(value));
        start = end + 1;
    }
    addresses = found;
    return true;
}

// "10@30-90" or "10@30": an address silent from 30 s, until 90 s or for ever.
bool toSilence(const std::string& text, Silence& silence) {
    const std::size_t at = text.find('@');
    long address = 0;
    if (at == std::string::npos || !toLong(text.substr(0, at), address) || address < 1 ||
        address > 247)
        return false;
    silence.address = int(address);
    const std::string times = text.substr(at + 1);
    const std::size_t dash = times.find('-');
    if (!toDouble(times.substr(0, dash), silence.fromSeconds) || silence.fromSeconds < 0)
        return false;
    silence.toSeconds = -1;
    return dash == std::string::npos || (toDouble(times.substr(dash + 1), silence.toSeconds) &&
                                         silence.toSeconds > silence.fromSeconds);
}

using Setter = std::function<std::string(const std::string&, Options&)>;

Setter rate(double FaultRates::*member) {
    return [member](const std::string& text, Options& o) -> std::string {
        double value = 0;
        if (!toDouble(text, value) || value < 0.0 || value > 1.0)
            return "needs a rate from 0 to 1";
        o.rates.*member = value;
        return {};
    };
}

Setter whole(int Options::*member, long low, long high, const char* what) {
    return [member, low, high, what](const std::string& text, Options& o) -> std::string {
        long value = 0;
        if (!toLong(text, value) || value < low || value > high)
            return std::string("needs ") + what;
        o.*member = static_cast<int>(value);
        return {};
    };
}

Setter real(double Options::*member, double low, const char* what) {
    return [member, low, what](const std::string& text, Options& o) -> std::string {
        double value = 0;
        if (!toDouble(text, value) || value < low)
            return std::string("needs ") + what;
        o.*member = value;
        return {};
    };
}

Setter text(std::string Options::*member) {
    return [member](const std::string& value, Options& o) -> std::string {
        if (value.empty())
            return "needs a path";
        o.*member = value;
        return {};
    };
}

const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> table = {
        {"link", text(&Options::link)},
        {"device", text(&Options::device)},
        {"tcp", whole(&Options::tcpPort, 0, 65535, "a TCP port from 0 (any free one) to 65535")},
        {"baud", whole(&Options::baud, 50, 4000000, "a speed in bit/s")},
        {"check-baud",
         [](const std::string& t, Options& o) -> std::string {
             if (t != "0" && t != "1")
                 return "needs 0 or 1";
             o.checkBaud = t == "1";
             return {};
         }},
        {"address",
         [](const std::string& t, Options& o) -> std::string {
             if (!toAddresses(t, o.addresses))
                 return "needs distinct addresses from 1 to 247, as 9,10,11";
             return {};
         }},
        {"silent",
         [](const std::string& t, Options& o) -> std::string {
             std::vector<int> addresses;
             if (!toAddresses(t, addresses))
                 return "needs distinct addresses from 1 to 247, as 10,12";
             for (const int address : addresses)
                 o.silences.push_back({address, 0, -1});
             return {};
         }},
        {"silence",
         [](const std::string& t, Options& o) -> std::string {
             Silence silence;
             if (!toSilence(t, silence))
                 return "needs ADDRESS@FROM-TO or ADDRESS@FROM in seconds, as 10@30-90";
             o.silences.push_back(silence);
             return {};
         }},
        {"fault-address",
         [](const std::string& t, Options& o) -> std::string {
             if (!toAddresses(t, o.faultAddresses))
                 return "needs distinct addresses from 1 to 247, as 10,12";
             return {};
         }},
        {"log", text(&Options::logFile)},
        {"seed",
         [](const std::string& t, Options& o) -> std::string {
             long value = 0;
             if (!toLong(t, value) || value < 0 || value > 0xFFFFFFFFL)
                 return "needs a whole number from 0 to 4294967295";
             o.seed = static_cast<std::uint32_t>(value);
             return {};
         }},
        {"fixed",
         [](const std::string& t, Options& o) -> std::string {
             std::array<std::int16_t, 3> registers{};
             if (!toRegisters(t, registers))
                 return "needs three values from -32768 to 32767, as 2153,2000,45";
             o.fixed = registers;
             return {};
         }},
        {"script",
         [](const std::string& t, Options& o) -> std::string {
             // "0:2153,2000,45;5:3124,3000,45": seconds, then the registers.
             std::vector<ScriptStep> steps;
             std::size_t start = 0;
             while (start <= t.size()) {
                 const std::size_t end = std::min(t.find(';', start), t.size());
                 const std::string step = t.substr(start, end - start);
                 const std::size_t colon = step.find(':');
                 ScriptStep s;
                 if (colon == std::string::npos || !toDouble(step.substr(0, colon), s.atSeconds) ||
                     s.atSeconds < 0 || (!steps.empty() && s.atSeconds < steps.back().atSeconds) ||
                     !toRegisters(step.substr(colon + 1), s.registers))
                     return "needs steps SECONDS:T,S,P in time order, separated by ;";
                 steps.push_back(s);
                 start = end + 1;
             }
             o.script = steps;
             // Until the first step: --fixed when given, else the first step's values.
             o.fixed = o.fixed.value_or(steps.front().registers);
             return {};
         }},
        {"room", real(&Options::room, -273.0, "a temperature in degrees")},
        {"setpoint",
         [](const std::string& t, Options& o) -> std::string {
             std::vector<double> setpoints;
             std::size_t start = 0;
             while (start <= t.size()) {
                 const std::size_t end = std::min(t.find(',', start), t.size());
                 double value = 0;
                 if (!toDouble(t.substr(start, end - start), value) || value < -273.0)
                     return "needs temperatures in degrees, one or one per address";
                 setpoints.push_back(value);
                 start = end + 1;
             }
             o.setpoints = setpoints;
             return {};
         }},
        {"speed", real(&Options::speed, 0.0, "a factor of 0 or more")},
        {"drop", rate(&FaultRates::drop)},
        {"exception", rate(&FaultRates::exception)},
        {"exception-code", whole(&Options::exceptionCode, 1, 255, "a code from 1 to 255")},
        {"refuse-writes",
         [](const std::string& t, Options& o) -> std::string {
             // "3" for every address, "3@10" for address 10 alone.
             const std::size_t at = t.find('@');
             long code = 0;
             long address = 0;
             if (!toLong(t.substr(0, at), code) || code < 1 || code > 255 ||
                 (at != std::string::npos &&
                  (!toLong(t.substr(at + 1), address) || address < 1 || address > 247)))
                 return "needs an exception code from 1 to 255, or CODE@ADDRESS, as 3@10";
             o.writeRefusals.push_back({static_cast<int>(address), static_cast<int>(code)});
             return {};
         }},
        {"truncate", rate(&FaultRates::truncate)},
        {"bad-crc", rate(&FaultRates::badCrc)},
        {"bad-address", rate(&FaultRates::badAddress)},
        {"noise", rate(&FaultRates::noise)},
        {"extra", rate(&FaultRates::extra)},
        {"slow", rate(&FaultRates::slow)},
        {"byte-delay", whole(&Options::byteDelayMs, 0, 60000, "milliseconds from 0 to 60000")},
        {"unplug", rate(&FaultRates::unplug)},
        {"unplug-after", real(&Options::unplugAfterSeconds, 0.0, "seconds, 0 or more")},
        {"replug-after", whole(&Options::replugAfterMs, 0, 3600000, "milliseconds")},
        {"max-faults",
         [](const std::string& t, Options& o) -> std::string {
             long value = 0;
             if (!toLong(t, value) || value < 0)
                 return "needs a whole number, 0 or more";
             o.maxFaults = value;
             return {};
         }},
    };
    return table;
}

} // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.options.help = true;
            return result;
        }
        if (arg.rfind("--", 0) != 0) {
            result.error = "unexpected argument " + arg;
            return result;
        }
        std::string name = arg.substr(2);
        std::string value;
        const std::size_t eq = name.find('=');
        const auto found = setters().find(name.substr(0, eq));
        if (found == setters().end()) {
            result.error = "unknown option " + arg;
            return result;
        }
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            result.error = "--" + name + " needs a value";
            return result;
        }
        const std::string problem = found->second(value, result.options);
        if (!problem.empty()) {
            result.error = std::string("--").append(name).append(" ").append(problem);
            return result;
        }
    }
    const Options& o = result.options;
    if (o.tcpPort >= 0 && !(o.link.empty() && o.device.empty()))
        result.error = "--tcp PORT takes the place of --link and --device";
    else if (o.tcpPort < 0 && o.link.empty() == o.device.empty())
        result.error = "give either --link PATH or --device DEVICE";
    else if (o.setpoints.size() != 1 && o.setpoints.size() != o.addresses.size())
        result.error = "--setpoint needs one temperature, or one per address";
    for (const Silence& silence : o.silences)
        if (std::find(o.addresses.begin(), o.addresses.end(), silence.address) == o.addresses.end())
            result.error = "--silent or --silence names address " +
                           std::to_string(silence.address) + ", not served";
    return result;
}

std::string helpText() {
    return R"(Usage: tksim (--link PATH | --device DEVICE | --tcp PORT) [options]

Plays a TK840/TK960 temperature controller, a Modbus RTU slave, on a serial
line. Holding registers: 1 measured temperature and 2 setpoint (tenths of a
degree, signed), 3 output power (percent). Register 2 can be written
(function 6 or 16). Prints "tksim ready on PATH" once the line is usable and
stops cleanly on SIGINT or SIGTERM.

Serial line:
  --link PATH             create a pseudo-terminal, symbolic link PATH to it
  --device DEVICE         use this serial device instead (RS-485 adapter, socat)
  --baud N                line speed in bit/s, 8N1 (default 19200)
  --check-baud 1          with --link: a request sent at another speed is lost,
                          and so is an answer once the line's speed changed,
                          as on a real line (a pty carries any speed)
  --tcp PORT              be a Modbus TCP gateway on 127.0.0.1:PORT instead
                          (0: any free port, named in the ready line); the
                          addresses are its unit ids, an address not served
                          gets exception 11 (target failed to respond), the
                          faults below do not apply
  --address N[,N...]      slave addresses on the line, each a controller with
                          its own oven, setpoint and faults (default 9)

Registers and oven:
  --fixed T,S,P           fixed register values, e.g. 2153,2000,45; no oven model
  --script STEPS          fixed values that change at times after the start:
                          SECONDS:T,S,P steps separated by ;, in time order,
                          e.g. 0:2800,3000,45;5:3124,3000,60
  --room DEGREES          room and start temperature (default 20.0)
  --setpoint DEGREES[,...] setpoint at start, one for all addresses or one
                          per address in their order (default 200.0)
  --speed FACTOR          oven time runs FACTOR times real time (default 1)

Log (one line per request):
  --log FILE              write the log to FILE (emptied at start), not stderr
  --seed N                seed of the fault draws and of the noise (default 1)

Faults; RATE is a probability per answer from 0 to 1:
  --drop RATE             no answer; the request is not carried out
  --exception RATE        exception answer (function + 0x80); not carried out
  --exception-code N      code of those exception answers (default 4)
  --refuse-writes N[@A]   refuse every write to the setpoint with exception N,
                          or only those to address A; repeatable
  --truncate RATE         only the first 1 to N-1 bytes of the answer
  --bad-crc RATE          answer with its CRC inverted
  --bad-address RATE      answer from another address, with a valid CRC
  --noise RATE            1 to 8 random bytes before the answer
  --extra RATE            1 to 8 random bytes after the answer
  --slow RATE             answer sent byte by byte
  --byte-delay MS         gap between the bytes of a slow answer (default 20)
  --unplug RATE           unplug the line instead of answering
  --unplug-after SECONDS  unplug the line once, SECONDS after start
  --replug-after MS       time until an unplugged line comes back (default 3000)
  --max-faults N          inject at most N faults, then answer normally
  --fault-address N[,N...] draw the faults above only for these addresses
  --silent N[,N...]       these addresses never answer
  --silence N@FROM[-TO]   address N gives no answer from FROM seconds after the
                          start until TO (for ever without TO); repeatable

The first of drop, unplug, exception, truncate, bad-crc and bad-address that
fires decides the answer's fate; noise, extra and slow are drawn on their own
and can come on top.

  --help                  this text
)";
}

} // namespace tksim
