#pragma once

// The shop-floor page of the metrics server, as pure functions over bytes:
// GET / (one small page, everything in it: no script, font or style from
// elsewhere, and a policy that lets the browser fetch none), GET /state.json
// (every controller's values and last hour, for scripts) and GET /events
// (server-sent events: the values every 2 s). Read-only: only GET is served.

#include <QByteArray>

#include <functional>
#include <optional>

namespace tkrecord {

struct PageAnswer {
    QByteArray response;
    // The response is a stream's head: the connection stays open for events.
    bool stream = false;
};

// The answer to a whole request head for one of the page's paths, or
// nothing for another path (or what is no request). state(withHistory) is
// called only for a 200.
std::optional<PageAnswer> pageAnswer(const QByteArray& head,
                                     const std::function<QByteArray(bool withHistory)>& state);
// One event of the stream.
QByteArray pageEvent(const QByteArray& state);
// The page itself.
const QByteArray& pageHtml();

} // namespace tkrecord
