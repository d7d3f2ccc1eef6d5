#include "LinkTexts.h"

#include "Data.h"
#include "MbapFrame.h"
#include "TextFormats.h"

namespace {

using Kind = tklink::LinkStatus::Kind;

// What comes before the time.
QString leadingWords(const tklink::LinkStatus& status) {
    switch (status.kind) {
    case Kind::RequestSent:
        return QStringLiteral("Send request to controler ");
    case Kind::DataReceived:
        return QStringLiteral("Data received from controler ");
    case Kind::NoAnswer:
        return QStringLiteral("No answer from controler ");
    case Kind::BadAnswer:
        return QStringLiteral("Bad answer from controler ");
    case Kind::Exception:
        // A gateway answers 10 and 11 in its own name: the controller said
        // nothing.
        if (const QString gateway = tklink::gatewayExceptionText(status.exceptionCode);
            status.viaGateway && !gateway.isEmpty())
            return gateway.left(1).toUpper() + gateway.mid(1) +
                   QStringLiteral(" (gateway exception %1) ").arg(status.exceptionCode);
        return QStringLiteral("Controler exception %1 ").arg(status.exceptionCode);
    case Kind::NotConnected:
        break;
    }
    return {};
}

} // namespace

QString linkStatusText(const tklink::LinkStatus& status, const QLocale& locale) {
    // Nothing went out, so there is no time to tell.
    if (status.kind == Kind::NotConnected)
        return QStringLiteral("Not connected");
    return leadingWords(status) + statusTime(status.time, locale);
}

std::pair<QString, QString> readoutTexts(bool current) {
    if (!current)
        return {QStringLiteral("888.8"), QStringLiteral("888.8")};
    return {generalNumber(Data::measureRaw / 10.0f), generalNumber(Data::setpointRaw / 10.0f)};
}
