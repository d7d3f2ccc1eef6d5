#pragma once

// What happens to one answer: drawn when the request comes in, applied to the
// bytes libmodbus wrote. Every random choice is made in drawPlan, so applying
// a plan is a pure function and one seed gives one run.

#include "Frames.h"
#include "Options.h"

#include <random>
#include <string>

namespace tksim {

enum class Fate { Answer, Drop, Unplug, Exception, Truncate, BadCrc, BadAddress };

struct FaultPlan {
    Fate fate = Fate::Answer;
    double cutFraction = 0.0;      // Truncate: share of the answer kept, below 1
    std::uint8_t otherAddress = 0; // BadAddress
    Bytes noise;                   // sent before the answer
    Bytes extra;                   // sent after the answer
    bool slow = false;             // byte by byte

    bool injected() const {
        return fate != Fate::Answer || !noise.empty() || !extra.empty() || slow;
    }
    // Drop and Unplug leave the request to nobody: libmodbus never sees it.
    bool needsReply() const { return fate != Fate::Drop && fate != Fate::Unplug; }
};

// The exclusive fates are tried in the order drop, unplug, exception,
// truncate, bad CRC, bad address, and the first that fires wins; noise, extra
// and slow are drawn on their own.
FaultPlan drawPlan(const FaultRates& rates, int ownAddress, std::mt19937& rng);

struct Delivery {
    Bytes bytes;
    std::string log; // the log line, without a line end
};

// The bytes to send for libmodbus's answer to request under plan, and the log
// line that tells what was sent. For Drop and Unplug there is no answer.
Delivery deliver(const FaultPlan& plan, const Bytes& request, const Bytes& answer);

} // namespace tksim
