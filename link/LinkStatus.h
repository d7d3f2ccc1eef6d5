#pragma once

// What the poll has to tell about the link at each step, as a value: the
// window turns it into its status line, tkrecord into its counters.

#include <QMetaType>
#include <QTime>

namespace tklink {

struct LinkStatus {
    enum class Kind {
        RequestSent,
        DataReceived,
        NoAnswer,
        BadAnswer,
        Exception,
        NotConnected,
    };
    Kind kind = Kind::NotConnected;
    // When it happened, by the poll's clock; not set for NotConnected.
    QTime time;
    // Exception only: the controller's exception code.
    int exceptionCode = 0;
    // Exception only: it came through a gateway, which answers 10 and 11 in
    // its own name, not the controller's.
    bool viaGateway = false;

    bool operator==(const LinkStatus&) const = default;
};

} // namespace tklink

Q_DECLARE_METATYPE(tklink::LinkStatus)
