#include "HttpExchange.h"

#include "MetricsText.h"

#include <QList>

namespace tkrecord {

namespace {

QByteArray response(const char* status, const QByteArray& body,
                    const QByteArray& contentType = "text/plain; charset=utf-8",
                    const QByteArray& extraHeaders = {}) {
    return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

} // namespace

qsizetype requestHeadLength(const QByteArray& bytes) {
    // Lone line feeds are accepted as line ends, as most servers do.
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf + 2 <= lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : 0;
}

QByteArray responseTo(const QByteArray& head, const std::function<QByteArray()>& metrics) {
    const QList<QByteArray> parts = head.first(head.indexOf('\n') + 1).trimmed().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || parts[0].isEmpty() ||
        !parts[1].startsWith('/'))
        return response("400 Bad Request", "Bad request\n");
    const qsizetype query = parts[1].indexOf('?');
    const QByteArray path = query < 0 ? parts[1] : parts[1].first(query);
    if (path != "/metrics")
        return response("404 Not Found", "Only /metrics is served here\n");
    if (parts[0] != "GET")
        return response("405 Method Not Allowed", "Only GET is served here\n",
                        "text/plain; charset=utf-8", "Allow: GET\r\n");
    return response("200 OK", metrics(), metricsContentType);
}

QByteArray headTooLargeResponse() {
    return response("431 Request Header Fields Too Large", "Request too large\n");
}

} // namespace tkrecord
