#include "OvenModel.h"

#include <algorithm>

namespace tksim {

namespace {

constexpr double stepSeconds = 0.1;
// Full power heats the chamber by 1.2 degrees per second; the loss to the room
// has a 400 s time constant, so full power would settle 480 degrees above the
// room and 200.0 degrees needs about 37 % from a 20.0 degree room.
constexpr double heatingRate = 1.2;
constexpr double lossTimeConstant = 400.0;
constexpr double heaterTimeConstant = 20.0;
constexpr double proportionalGain = 2.5; // percent per degree
constexpr double integralGain = 0.03;    // percent per degree-second

} // namespace

OvenModel::OvenModel(double roomTemperature)
    : m_room(roomTemperature), m_temperature(roomTemperature) {}

void OvenModel::advance(double seconds, double setpoint) {
    m_pending += seconds;
    while (m_pending >= stepSeconds) {
        step(stepSeconds, setpoint);
        m_pending -= stepSeconds;
    }
}

void OvenModel::step(double dt, double setpoint) {
    const double error = setpoint - m_temperature;
    const double demand = proportionalGain * error + m_integral;
    m_power = std::clamp(demand, 0.0, 100.0);
    // Integrate only while the output is not saturated, so that the long
    // full-power climb does not wind up into a large overshoot.
    if (demand == m_power)
        m_integral = std::clamp(m_integral + integralGain * error * dt, 0.0, 100.0);
    m_heater += (m_power / 100.0 - m_heater) / heaterTimeConstant * dt;
    m_temperature += (heatingRate * m_heater - (m_temperature - m_room) / lossTimeConstant) * dt;
}

} // namespace tksim
