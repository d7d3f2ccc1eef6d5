#include "Faults.h"

namespace tksim {

namespace {

bool fires(double rate, std::mt19937& rng) {
    // A rate of 1 always fires and 0 never, whatever the draw.
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rate;
}

Bytes randomBytes(std::mt19937& rng) {
    Bytes bytes(std::uniform_int_distribution<int>(1, 8)(rng));
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng));
    return bytes;
}

} // namespace

FaultPlan drawPlan(const FaultRates& rates, int ownAddress, std::mt19937& rng) {
    FaultPlan plan;
    const std::pair<double, Fate> fates[] = {
        {rates.drop, Fate::Drop},           {rates.unplug, Fate::Unplug},
        {rates.exception, Fate::Exception}, {rates.truncate, Fate::Truncate},
        {rates.badCrc, Fate::BadCrc},       {rates.badAddress, Fate::BadAddress},
    };
    for (const auto& [rate, fate] : fates) {
        if (fires(rate, rng)) {
            plan.fate = fate;
            break;
        }
    }
    if (plan.fate == Fate::Truncate)
        plan.cutFraction = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    if (plan.fate == Fate::BadAddress) {
        // Any valid slave address but our own: 1 to 247 with ours skipped.
        int other = std::uniform_int_distribution<int>(1, 246)(rng);
        if (other >= ownAddress)
            ++other;
        plan.otherAddress = static_cast<std::uint8_t>(other);
    }
    if (!plan.needsReply())
        return plan;
    if (fires(rates.noise, rng))
        plan.noise = randomBytes(rng);
    if (fires(rates.extra, rng))
        plan.extra = randomBytes(rng);
    plan.slow = fires(rates.slow, rng);
    return plan;
}

Delivery deliver(const FaultPlan& plan, const Bytes& request, const Bytes& answer) {
    Delivery d;
    if (!plan.needsReply()) {
        d.log =
            (plan.fate == Fate::Drop ? "fault drop " : "fault unplug ") + describeRequest(request);
        return d;
    }
    Bytes frame = answer;
    const std::string told = describeAnswer(request, answer);
    switch (plan.fate) {
    case Fate::Truncate: {
        // Keep 1 to size - 1 bytes: never nothing, never all.
        const std::size_t keep =
            1 + static_cast<std::size_t>(plan.cutFraction * static_cast<double>(frame.size() - 1));
        d.log = "fault truncated " + std::to_string(keep) + "/" + std::to_string(frame.size()) +
                " " + told;
        frame.resize(keep);
        break;
    }
    case Fate::BadCrc:
        if (frame.size() >= 2) {
            frame[frame.size() - 2] ^= 0xFF;
            frame[frame.size() - 1] ^= 0xFF;
        }
        d.log = "fault crc " + told;
        break;
    case Fate::BadAddress:
        frame[0] = plan.otherAddress;
        refreshCrc(frame);
        d.log = "fault address " + std::to_string(plan.otherAddress) + " " + told;
        break;
    case Fate::Exception:
        d.log = "fault " + told;
        break;
    default:
        d.log = told;
        break;
    }
    d.bytes = plan.noise;
    d.bytes.insert(d.bytes.end(), frame.begin(), frame.end());
    d.bytes.insert(d.bytes.end(), plan.extra.begin(), plan.extra.end());
    if (!plan.noise.empty())
        d.log += " noise=" + std::to_string(plan.noise.size());
    if (!plan.extra.empty())
        d.log += " extra=" + std::to_string(plan.extra.size());
    if (plan.slow)
        d.log += " slow";
    return d;
}

} // namespace tksim
