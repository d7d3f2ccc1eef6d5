#include "PortFailureText.h"

namespace app {

namespace {

using Kind = tklink::OpenFailure::Kind;

QString remedy(Kind kind) {
    switch (kind) {
    case Kind::NotFound:
        return QStringLiteral("The adapter is not plugged in.");
    case Kind::PermissionDenied:
#ifdef Q_OS_WIN
        return QStringLiteral("Ask an administrator for access to the port.");
#else
        return QStringLiteral("Join the dialout group, then log in again.");
#endif
    case Kind::Busy:
        return QStringLiteral("Another program holds it.");
    default:
        return {};
    }
}

// The operator who knows neither the port nor the speed is told who does.
const QString searchHint = QStringLiteral(
    "Parameters, \"Find controller\": tries every serial port at every usual speed.");

} // namespace

QString portFailureReason(const tklink::OpenFailure& failure) {
    switch (failure.kind) {
    case Kind::None:
        return {};
    case Kind::NoDevice:
        if (failure.portNumber < 1)
            return QStringLiteral("%1 is not a port number: ComPortNum must be 1 or more.")
                .arg(failure.portNumber);
        return QStringLiteral("Port %1 names no device: name one in conf.ini, [Ports] %1=...")
            .arg(failure.portNumber);
    case Kind::SettingsRefused:
        return QStringLiteral("Speed \"%1\" refused: not a whole number of bit/s.")
            .arg(failure.systemText);
    default:
        break;
    }
    QString line = failure.device + QStringLiteral(": ") + failure.systemText + QLatin1Char('.');
    const QString fix = remedy(failure.kind);
    if (!fix.isEmpty())
        line += QLatin1Char(' ') + fix;
    return line;
}

QString portFailureDetail(const tklink::OpenFailure& failure, const QStringList& present) {
    QString detail = portFailureReason(failure);
#ifndef Q_OS_WIN
    if (failure.kind == Kind::PermissionDenied)
        return detail + QStringLiteral("\nIn a terminal: sudo usermod -aG dialout $USER");
#endif
    if (failure.kind == Kind::NotFound || failure.kind == Kind::NoDevice) {
        detail += QLatin1Char('\n');
        detail += present.isEmpty() ? QStringLiteral("No serial device is present.")
                                    : QStringLiteral("Serial devices present: ") +
                                          present.join(QStringLiteral(", ")) + QLatin1Char('.');
    }
    return detail + QLatin1Char('\n') + searchHint;
}

} // namespace app
