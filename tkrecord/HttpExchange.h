#pragma once

// The one page tkrecord serves, as pure functions over bytes: where a request
// head ends, and the whole response to it. Every response closes the
// connection, so a connection carries one request and nothing is kept.

#include <QByteArray>

#include <functional>

namespace tkrecord {

// Longest request head taken; a longer one is refused with 431. Prometheus
// sends about 300 bytes.
inline constexpr int requestHeadLimit = 8192;

// Length of the head (up to and including the blank line) at the start of
// bytes, or 0 while it is incomplete.
qsizetype requestHeadLength(const QByteArray& bytes);

// The response to a whole request head: 200 with the metrics for GET
// /metrics, 405 for another method there, 404 for any other path, 400 for
// what is not an HTTP request. metrics is called only for a 200.
QByteArray responseTo(const QByteArray& head, const std::function<QByteArray()>& metrics);

// The response to a head longer than requestHeadLimit.
QByteArray headTooLargeResponse();

} // namespace tkrecord
