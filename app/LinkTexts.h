#pragma once

// The words the window shows for the poll: its status line and read-outs.

#include "LinkStatus.h"

#include <QLocale>
#include <QString>

#include <utility>

// "Send request to controler 14:03:07", "Not connected", ...; a gateway's
// own exceptions in its words, "Target failed to respond (gateway exception
// 11) 14:03:07".
QString linkStatusText(const tklink::LinkStatus& status, const QLocale& locale = QLocale());

// The measured temperature and setpoint in degrees from Data's values, as the
// read-outs show them; the placeholder "888.8" for both when they are stale.
std::pair<QString, QString> readoutTexts(bool current);
