#pragma once

// A small oven for the simulator: a heater that follows the controller's
// output with a lag, a chamber that gains heat from the heater and loses it to
// the room, and a PI controller with anti-windup. Tuned so that a step from
// room temperature to 200.0 degrees takes about four minutes and overshoots by
// under one degree, which is what a real TK-driven oven looks like on a curve.

namespace tksim {

class OvenModel {
public:
    explicit OvenModel(double roomTemperature);

    // Advances the oven by seconds of simulated time towards setpoint
    // (degrees), in fixed internal steps so the result does not depend on how
    // often the caller ticks.
    void advance(double seconds, double setpoint);

    double temperature() const { return m_temperature; }
    // Controller output in percent, 0 to 100.
    double power() const { return m_power; }

private:
    void step(double dt, double setpoint);

    double m_room;
    double m_temperature;
    double m_heater = 0.0; // fraction of full heating power reaching the chamber
    double m_integral = 0.0;
    double m_power = 0.0;
    double m_pending = 0.0; // simulated time not yet stepped
};

} // namespace tksim
