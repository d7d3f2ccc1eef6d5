// tksim: a simulated TK840/TK960 controller for trying and testing the
// supervisor without the oven. See docs/simulator.md.

#include "Log.h"
#include "Options.h"
#include "Simulator.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const tksim::ParseResult parsed =
        tksim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.options.help) {
        std::fputs(tksim::helpText().c_str(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tksim: %s\nTry tksim --help.\n", parsed.error.c_str());
        return 2;
    }
    tksim::Log log;
    std::string error;
    if (!parsed.options.logFile.empty() && !log.openFile(parsed.options.logFile, error)) {
        std::fprintf(stderr, "tksim: %s\n", error.c_str());
        return 1;
    }
    tksim::Simulator simulator(parsed.options, log);
    return simulator.run();
}
