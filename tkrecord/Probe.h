#pragma once

// "tkrecord --probe": the controller search of tkcontrol's Parameters dialog,
// one line per try, then the conf.ini lines of what answered, and which
// addresses answer there with their [Controllers] lines.

#include <QString>

#include <functional>

namespace tkrecord {

// Searches with the settings of conf.ini in the working folder, saying each
// line; returns the exit status: 0 found, 1 not found.
// Addresses from 1 to lastAddress are asked.
int runProbe(const std::function<void(const QString&)>& say, int lastAddress);

} // namespace tkrecord
