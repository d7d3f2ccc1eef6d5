#pragma once

// The program-wide variables. Every part of the program reads and writes them
// directly by name; they live for the whole run. Everything runs on the one
// user-interface thread, so nothing here needs a lock.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace Data {

// Marks a history entry without a measurement. The raw value 8888 in
// measureRaw and setpointRaw is the same marker before the division by ten.
inline constexpr float NO_DATA = 888.8f;
inline constexpr float NO_DATA_RAW = 8888.0f;

inline constexpr int historySize = 5001; // ring indexes 0 to 5000
inline constexpr int portCount = 51;     // indexes 0 to 50; 1 to 50 are used
inline constexpr int rxBufferSize = 129; // indexes 0 to 128

// Serial line
extern bool portConnected;
extern int16_t comPortNum;
extern QString comPortSpeed;
extern std::vector<bool> portAvailable;

// Recording period
extern int16_t intervRecord;
extern int32_t recordTimerMs;

// Graph range and time span
extern float yValueMin;
extern float yValueMax;
extern float timeScale;
extern float yValueMid;

// Last decoded answer, raw register values (tenths of a degree for the first two)
extern float setpointRaw;
extern float measureRaw;
extern float powerRaw;

// History rings, one slot per trace tick
extern std::vector<float> setpointHistory;
extern std::vector<float> measureHistory;
extern std::vector<QString> timeHistory;
extern int16_t historyIndex;

// Receive and send state of the controller link
extern std::array<uint8_t, rxBufferSize> rxBuffer;
extern int16_t rxCount;
extern std::vector<uint8_t> txFrame;
extern int16_t txFrameLast;

// Recording
extern uint8_t recordingActive; // 0 or 255
extern QString recordFileName;

// Alarms ([Alarms] in conf.ini). An empty limit turns its alarm off.
struct AlarmSettings {
    std::optional<float> highLimit;      // degrees: at or above it is too hot
    std::optional<float> deviationBand;  // degrees either side of the setpoint
    std::optional<float> deviationDelay; // minutes outside the band before it counts
    std::optional<float> heatUpLimit;    // minutes to reach the band after a new setpoint
    float highHysteresis = 1;            // degrees below the limit before High clears
    float linkLostAfter = 30;            // seconds without current values
    bool sound = true;
    // The alarms are watched at all: always by the recorder, by the window
    // only when its shop asked for them.
    bool watched = true;
};
extern AlarmSettings alarms;

// Puts every variable back to its value before start-up: numbers 0, flags
// false, texts empty, arrays other than rxBuffer unallocated.
void resetAll();

} // namespace Data
