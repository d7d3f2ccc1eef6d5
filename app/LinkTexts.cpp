#include "LinkTexts.h"

#include "Data.h"
#include "TextFormats.h"

QString linkStatusText(const tklink::LinkStatus& status, const QLocale& locale) {
    using Kind = tklink::LinkStatus::Kind;
    QString text;
    switch (status.kind) {
    case Kind::NotConnected:
        return QStringLiteral("Not connected");
    case Kind::RequestSent:
        text = QStringLiteral("Send request to controler ");
        break;
    case Kind::DataReceived:
        text = QStringLiteral("Data received from controler ");
        break;
    case Kind::NoAnswer:
        text = QStringLiteral("No answer from controler ");
        break;
    case Kind::BadAnswer:
        text = QStringLiteral("Bad answer from controler ");
        break;
    case Kind::Exception:
        text = QStringLiteral("Controler exception ") + QString::number(status.exceptionCode) +
               QLatin1Char(' ');
        break;
    }
    return text + statusTime(status.time, locale);
}

std::pair<QString, QString> readoutTexts(bool current) {
    if (!current)
        return {QStringLiteral("888.8"), QStringLiteral("888.8")};
    return {generalNumber(Data::measureRaw / 10.0f), generalNumber(Data::setpointRaw / 10.0f)};
}
