#include "Data.h"

namespace Data {

bool portConnected = false;
int16_t comPortNum = 0;
QString comPortSpeed;
std::vector<bool> portAvailable;

int16_t intervRecord = 0;
int32_t recordTimerMs = 0;

float yValueMin = 0;
float yValueMax = 0;
float timeScale = 0;
float yValueMid = 0;

float setpointRaw = 0;
float measureRaw = 0;
float powerRaw = 0;

std::vector<float> setpointHistory;
std::vector<float> measureHistory;
std::vector<QString> timeHistory;
int16_t historyIndex = 0;

std::array<uint8_t, rxBufferSize> rxBuffer{};
int16_t rxCount = 0;
std::vector<uint8_t> txFrame;
int16_t txFrameLast = 0;

uint8_t recordingActive = 0;
QString recordFileName;
AlarmSettings alarms;

void resetAll() {
    portConnected = false;
    comPortNum = 0;
    comPortSpeed.clear();
    portAvailable.clear();
    intervRecord = 0;
    recordTimerMs = 0;
    yValueMin = yValueMax = timeScale = yValueMid = 0;
    setpointRaw = measureRaw = powerRaw = 0;
    setpointHistory.clear();
    measureHistory.clear();
    timeHistory.clear();
    historyIndex = 0;
    rxBuffer.fill(0);
    rxCount = 0;
    txFrame.clear();
    txFrameLast = 0;
    recordingActive = 0;
    recordFileName.clear();
    alarms = AlarmSettings();
}

} // namespace Data
