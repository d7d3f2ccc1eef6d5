#pragma once

// What the controller search tells the operator, in tkcontrol's dialog and in
// "tkrecord --probe": a line per try, a line per device when nothing answered,
// and the conf.ini lines of what was found.

#include <QString>
#include <QStringList>

#include "ControllerSearch.h"
#include "GatewaySearch.h"

namespace settings {

// "/dev/ttyUSB0 (port 1)", or "/dev/ttyAMA0 (no port number)".
QString searchDeviceText(const tklink::SearchDevice& device);

// "/dev/ttyUSB0 (port 1) at 9600 bit/s: no answer"; an address other than
// 9 is named: "... at 9600 bit/s, address 10: the controller answered".
QString searchTryLine(const tklink::SearchTry& attempt);

// "/dev/ttyUSB0 (port 1) at 9600 bit/s: asking 31 other addresses".
QString sweepLine(const tklink::SearchDevice& device, qint32 speed, int addresses);

// "addresses answering from 1 to 32: 10, 11" (at least the one found);
// with where, "addresses answering from 1 to 32 behind the gateway
// tcp://10.0.0.5:502: 10, 11".
QString answeringText(const QList<int>& addresses, int listUpTo, const QString& where = {});

// "[Controllers]" and one "controller-N=N" line per address.
QStringList controllersLines(const QList<int>& addresses);

// The addresses of the [Controllers] section in the file's order; none
// without the section.
QList<uint8_t> configuredAddresses();

// One line per device, in the order first tried, saying why the controller
// was not found there: "/dev/ttyUSB0 (port 1): no answer at 19200, 9600 bit/s".
QStringList searchFailureLines(const QList<tklink::SearchTry>& tries);

// The conf.ini lines that select what was found: a [Ports] line first when no
// number names the device, then ComPortNum and ComPortSpeed in the program's
// section.
QStringList searchConfLines(const tklink::SearchDevice& device, qint32 speed);

// The addresses asked behind a gateway: 1 to listUpTo, then the configured
// ones above it, in the file's order.
QList<uint8_t> gatewaySearchAddresses(int listUpTo);

// Each address's time for its answer behind a gateway: [Bus] AnswerTimeout
// with a [Controllers] section, else the gateway's default.
int gatewaySearchTimeoutMs();

// Behind a gateway: "tcp://10.0.0.5:502, address 9: the controller
// answered"; the gateway's own exceptions in its words, "address 3: target
// failed to respond (exception 11)".
QString gatewayTryLine(const tklink::GatewayAddress& gateway, const tklink::GatewayTry& attempt);

// The tries behind a gateway where no controller answered, counted by why:
// "no controller at 10 of 12 addresses: 8 no answer within 500 ms, 2 target
// failed to respond (exception 11)"; empty when every address answered.
QString gatewayMissingText(const QList<tklink::GatewayTry>& tries, int answerTimeoutMs);

} // namespace settings
