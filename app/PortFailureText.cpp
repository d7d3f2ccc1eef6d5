#include "PortFailureText.h"

#include "SerialLockHolder.h"

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
        return QStringLiteral("Close that program, or choose another port.");
    default:
        return {};
    }
}

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
    // Qt says "Permission error while locking the device" for a port that
    // another program holds: who holds it is what the operator needs.
    const QString why =
        failure.kind == Kind::Busy ? tklink::heldByText(failure.holderPid) : failure.systemText;
    QString line = failure.device + QStringLiteral(": ") + why + QLatin1Char('.');
    const QString fix = remedy(failure.kind);
    if (!fix.isEmpty())
        line += QLatin1Char(' ') + fix;
    return line;
}

QString detailMarkup(const QString& detail) {
    // Qt keeps a line whole only as a paragraph of its own ("white-space:
    // pre" on the block); <nobr> inside a paragraph still breaks at a hyphen.
    QString markup;
    for (const QString& line : detail.split(QLatin1Char('\n'))) {
        const bool command = line.startsWith(QLatin1String("In a terminal: "));
        markup += (command ? QStringLiteral("<p style=\"margin:0; white-space:pre\">")
                           : QStringLiteral("<p style=\"margin:0\">")) +
                  line.toHtmlEscaped() + QStringLiteral("</p>");
    }
    return markup;
}

QString portFailureDetail(const tklink::OpenFailure& failure, const QStringList& present) {
    QString detail = portFailureReason(failure);
#ifndef Q_OS_WIN
    if (failure.kind == Kind::PermissionDenied)
        return detail + QStringLiteral("\nIn a terminal: sudo usermod -aG dialout $USER");
#endif
    if (failure.kind != Kind::NotFound && failure.kind != Kind::NoDevice)
        return detail;
    detail += QLatin1Char('\n');
    detail += present.isEmpty() ? QStringLiteral("No serial device is present.")
                                : QStringLiteral("Serial devices present: ") +
                                      present.join(QStringLiteral(", ")) + QLatin1Char('.');
    return detail;
}

} // namespace app
